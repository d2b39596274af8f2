// The report chart, drawn with libgd. Plot coordinates have their origin at the top left of the
// 288 x 198 plot area, which sits at (55, 1) in the image; labels use image coordinates.
#include "vornagent_chart.h"

#include <gdfontmb.h>
#include <gdfontt.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "messages.h"

namespace {

constexpr int kWidth = 404;
constexpr int kHeight = 225;
constexpr int kPlotX = 55;
constexpr int kPlotY = 1;
constexpr int kPlotWidth = 288;
constexpr int kPlotHeight = 198;
constexpr int kRow = 18;     // one scale unit
constexpr int kColumn = 12;  // one hour
constexpr int kHours = 24;
constexpr int kTopRow = 11;  // the top of the plot area

struct ImageDeleter {
  void operator()(gdImagePtr image) const { gdImageDestroy(image); }
};
using Image = std::unique_ptr<gdImage, ImageDeleter>;

void plotLine(gdImagePtr image, int x1, int y1, int x2, int y2, int colour) {
  gdImageLine(image, x1 + kPlotX, y1 + kPlotY, x2 + kPlotX, y2 + kPlotY, colour);
}

void paintGrid(gdImagePtr image, int colour) {
  for (int x = kColumn; x < kPlotWidth; x += kColumn) plotLine(image, x, 0, x, kPlotHeight, colour);
  for (int y = kRow; y < kPlotHeight; y += kRow) plotLine(image, 0, y, kPlotWidth, y, colour);
}

void draw_text(gdImagePtr image, gdFontPtr font, int x, int y, const char *text, int colour) {
  gdImageString(image, font, x, y, reinterpret_cast<unsigned char *>(const_cast<char *>(text)), colour);
}

int label_y(int row) {
  return 193 - kRow * row;
}

// Left scale: MiB of WAN traffic per hour.
void paintWanLabel(gdImagePtr image, int scale, int colour) {
  struct Labels {
    const char *format;
    int x;
    const char *top;
    int top_x;
  };
  static constexpr Labels kLabels[] = {
      {"%dM", 33, "10M", 26}, {"%d0M", 26, "100M", 19}, {"%d00M", 18, "1G", 33}, {"%dG", 33, "10G", 26}};
  const Labels &labels = kLabels[scale];
  gdFontPtr font = gdFontGetMediumBold();
  draw_text(image, font, 33, label_y(0), "0", colour);
  char text[16];
  for (int row = 1; row <= 9; ++row) {
    std::snprintf(text, sizeof text, labels.format, row);
    draw_text(image, font, labels.x, label_y(row), text, colour);
  }
  draw_text(image, font, labels.top_x, label_y(10), labels.top, colour);
}

// Right scale: events per hour.
void paintEventLabel(gdImagePtr image, int scale, int colour) {
  static constexpr const char *kFormats[] = {"%d0", "%d00", "%d,000", "%d0,000"};
  gdFontPtr font = gdFontGetMediumBold();
  draw_text(image, font, 353, label_y(0), "0", colour);
  char text[16];
  for (int row = 1; row <= 10; ++row) {
    if (scale == 1 && row == 10)
      std::snprintf(text, sizeof text, "1,000");
    else
      std::snprintf(text, sizeof text, kFormats[scale], row);
    draw_text(image, font, 353, label_y(row), text, colour);
  }
}

void paintAxes(gdImagePtr image, int wan_scale, int event_scale, int colour) {
  for (int x : {-4, 0, kPlotWidth, kPlotWidth + 4}) plotLine(image, x, 0, x, kPlotHeight, colour);
  for (int i = 0; i <= 11; ++i) {
    plotLine(image, -6, kRow * i, -4, kRow * i, colour);
    plotLine(image, kPlotWidth + 6, kRow * i, kPlotWidth + 4, kRow * i, colour);
  }
  paintWanLabel(image, wan_scale, colour);
  paintEventLabel(image, event_scale, colour);
  plotLine(image, 0, kPlotHeight, kPlotWidth, kPlotHeight, colour);
  plotLine(image, 0, kPlotHeight + 3, kPlotWidth, kPlotHeight + 3, colour);
  gdFontPtr tiny = gdFontGetTiny();
  char text[16];
  for (int hour = 0; hour <= kHours; ++hour) {
    plotLine(image, kColumn * hour, kPlotHeight + 3, kColumn * hour, kPlotHeight + 5, colour);
    if (hour == 0) {
      gdImageChar(image, tiny, 54, 206, '0', colour);
    } else {
      std::snprintf(text, sizeof text, "%02d", hour);
      draw_text(image, tiny, kColumn * hour + 52, 206, text, colour);
    }
  }
}

void writePng(gdImagePtr image, FILE *file) {
  gdImagePng(image, file);
}

int maxOf(const int values[kHours]) {
  return *std::max_element(values, values + kHours);
}

// Scale 0..3 for a maximum: up to `base`, 10 x base, 100 x base, above that.
int chooseScale(int maximum, int base) {
  if (maximum <= base) return 0;
  if (maximum <= base * 10) return 1;
  if (maximum <= base * 100) return 2;
  return 3;
}

void doAdjust(int wan[kHours], int events[kHours], int wan_scale, int event_scale) {
  static constexpr int kWanUnits[] = {-1, 10, 100, 1000};
  static constexpr int kEventUnits[] = {10, 100, 1000, 10000};
  adjust(wan, kWanUnits[wan_scale]);
  adjust(events, kEventUnits[event_scale]);
}

int row_y(int value) {
  return kPlotHeight - kRow * std::clamp(value, 0, kTopRow);
}

}  // namespace

extern "C" {

void adjust(int values[kHours], int unit) {
  if (unit == -1) return;
  for (int i = 0; i < kHours; ++i) {
    long long rounded_up = (static_cast<long long>(values[i]) + unit - 1) / unit;
    values[i] = static_cast<int>(std::min<long long>(rounded_up, 10));
  }
}

void paintChart(gdImagePtr image, int values[kHours], int count, int colour) {
  gdImageSetThickness(image, 2);
  if (count <= 0) return;
  plotLine(image, 0, kPlotHeight, kColumn, row_y(values[0]), colour);
  for (int i = 0; i + 1 < std::min(count, kHours); ++i)
    plotLine(image, kColumn + kColumn * i, row_y(values[i]), 2 * kColumn + kColumn * i, row_y(values[i + 1]),
             colour);
}

int doPaint(FILE *file, int wan[kHours], int events[kHours]) {
  if (!file) {
    vornagent::print_text("error : can't open file !!!\n");
    return -1;
  }
  Image image(gdImageCreate(kWidth, kHeight));
  if (!image) return -1;
  gdImageColorAllocate(image.get(), 228, 231, 240);  // the first colour is the background
  int grid = gdImageColorAllocate(image.get(), 211, 214, 223);
  paintGrid(image.get(), grid);

  int wan_colour = gdImageColorAllocate(image.get(), 193, 108, 113);
  int event_colour = gdImageColorAllocate(image.get(), 182, 153, 183);
  int wan_scale = chooseScale(maxOf(wan), 10);
  int event_scale = chooseScale(maxOf(events), 100);
  doAdjust(wan, events, wan_scale, event_scale);
  paintChart(image.get(), events, kHours, event_colour);
  paintChart(image.get(), wan, kHours, wan_colour);
  gdImageSetThickness(image.get(), 1);

  int black = gdImageColorAllocate(image.get(), 0, 0, 0);
  paintAxes(image.get(), wan_scale, event_scale, black);
  writePng(image.get(), file);
  return 0;
}

}  // extern "C"
