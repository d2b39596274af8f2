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
  explicit ZAdapterInfo(const char *adapterName);
  const std::string &Description() const { return description_; }
  const std::string &DeviceName() const { return deviceName_; }
  int IconId() const { return kAdapterIconId; }
  bool IsValid() const { return valid_; }

 private:
  std::string description_, deviceName_;
  bool valid_ = false;
};

class ZAdapterListBox final : public rtwin::CControl, public AdapterListSink {
 public:
  // The item index, or -1 when the adapter cannot be described.
  int Add(const char *adapterName);
  bool AddAdapter(const char *adapterName) override { return Add(adapterName) >= 0; }
  int Count() const;
  void Select(int index) const;
  const ZAdapterInfo *Selected() const;
  // The selected item's description, or "=" when there is none.
  std::string SelectedDescription() const;
  void Clear() const;

  std::optional<LRESULT> Reflect(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  const ZAdapterInfo *ItemAt(int index) const;
  void DrawItem(const DRAWITEMSTRUCT &item) const;
};

class CHoverButton final : public rtwin::CControl {
 public:
  ~CHoverButton() override;
  bool LoadBitmap(int resourceId);
  std::optional<LRESULT> Reflect(UINT message, WPARAM wParam, LPARAM lParam) override;

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void DrawItem(const DRAWITEMSTRUCT &item) const;
  HBITMAP bitmap_ = nullptr;
  int frameWidth_ = 0, frameHeight_ = 0;
  rtwin::HoverTracker hover_;
};

class CStaticLink : public rtwin::CControl {
 public:
  explicit CStaticLink(std::string link = {}, bool autoDelete = false)
      : link_(std::move(link)), autoDelete_(autoDelete) {}
  ~CStaticLink() override;
  std::optional<LRESULT> Reflect(UINT message, WPARAM wParam, LPARAM lParam) override;

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnDetached() override;
  bool noLink_ = false;

 private:
  void Open();
  std::string link_;
  COLORREF color_ = RGB(0, 0, 255);
  HFONT underlined_ = nullptr;
  bool autoDelete_;
};

class CPictureCtrl final : public CStaticLink {
 public:
  explicit CPictureCtrl(bool loadOnCreate) : loadOnCreate_(loadOnCreate) {}
  ~CPictureCtrl() override;
  // False (the old picture kept) when there is no such "IMAGE" resource or it does not decode.
  bool LoadPicture(int resourceId);
  // The page's picture id the control loads first.
  static int &CurrentPictureId();

 protected:
  void OnSubclassed() override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  SIZE PictureSize() const;
  IPicture *picture_ = nullptr;
  bool loadOnCreate_;
};

}  // namespace upgrade
