#include "button_layout.h"

namespace tunmira {

int button_text_lines(std::string_view text) {
  int lines = 1;
  for (std::size_t at = text.find("\r\n"); at != std::string_view::npos; at = text.find("\r\n", at + 2))
    ++lines;
  return lines;
}

long button_text_top(long frame_height, int lines, long line_height) {
  long top = (frame_height - lines * line_height) / 2;
  return top > 0 ? top : 0;
}

ButtonTextBox button_text_rect(ButtonFrame frame, long frame_width, long frame_height, long top, long click_x,
                               long click_y) {
  long left = 0;
  switch (frame) {
    case ButtonFrame::kPressed:
      left = frame_width + click_x;
      top += click_y;
      break;
    case ButtonFrame::kHover:
      left = 2 * frame_width;
      break;
    case ButtonFrame::kNormal:
      break;
  }
  return {left, top, left + frame_width, top + frame_height};
}

}  // namespace tunmira
