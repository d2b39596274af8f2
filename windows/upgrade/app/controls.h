// The wizard's own controls: the owner-drawn adapter list, bitmap buttons with a hover frame, a static
// that opens a link, and the page picture.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <array>
#include <string>

#include "adapter_packet_io.h"
#include "dialog.h"
#include "hover_tracker.h"

namespace upgrade {

inline constexpr int kAdapterIconId = 103;

class ZAdapterInfo {
 public:
  explicit ZAdapterInfo(const char *adapter_name);
  const std::string &description() const { return description_; }
  const std::string &device_name() const { return device_name_; }
  int icon_id() const { return kAdapterIconId; }
  bool is_valid() const { return valid_; }

 private:
  std::string description_, device_name_;
  bool valid_ = false;
};

class ZAdapterListBox final : public rtwin::CControl, public AdapterListSink {
 public:
  // The item index, or -1 when the adapter cannot be described.
  int add(const char *adapter_name);
  bool add_adapter(const char *adapter_name) override { return add(adapter_name) >= 0; }
  int count() const;
  void select(int index) const;
  const ZAdapterInfo *selected() const;
  // The selected item's description, or "=" when there is none.
  std::string selected_description() const;
  void clear() const;

  std::optional<LRESULT> reflect(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  const ZAdapterInfo *item_at(int index) const;
  void DrawItem(const DRAWITEMSTRUCT &item) const;
};

class CHoverButton final : public rtwin::CControl {
 public:
  ~CHoverButton() override;
  bool LoadBitmap(int resource_id);
  std::optional<LRESULT> reflect(UINT message, WPARAM wParam, LPARAM lParam) override;

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void DrawItem(const DRAWITEMSTRUCT &item) const;
  HBITMAP bitmap_ = nullptr;
  int frame_width_ = 0, frame_height_ = 0;
  rtwin::HoverTracker hover_;
};

class CStaticLink : public rtwin::CControl {
 public:
  explicit CStaticLink(std::string link = {}, bool auto_delete = false)
      : link_(std::move(link)), auto_delete_(auto_delete) {}
  ~CStaticLink() override;
  std::optional<LRESULT> reflect(UINT message, WPARAM wParam, LPARAM lParam) override;

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  void on_detached() override;
  bool no_link = false;

 private:
  void open();
  std::string link_;
  COLORREF color_ = RGB(0, 0, 255);
  HFONT underlined_ = nullptr;
  bool auto_delete_;
};

class CPictureCtrl final : public CStaticLink {
 public:
  explicit CPictureCtrl(bool load_on_create) : load_on_create_(load_on_create) {}
  ~CPictureCtrl() override;
  // False (the old picture kept) when there is no such "IMAGE" resource or it does not decode.
  bool load_picture(int resource_id);
  // The page's picture id the control loads first.
  static int &current_picture_id();

 protected:
  void on_subclassed() override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  SIZE picture_size() const;
  IPicture *picture_ = nullptr;
  bool load_on_create_;
};

}  // namespace upgrade
