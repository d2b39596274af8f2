// The skinned controls of one window: each is attached to its template item and dressed from a skin
// section by the application's skin loader. A missing item leaves the control as the template made it.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "skin_controls.h"

namespace tunmira {

class SkinnedItems {
 public:
  explicit SkinnedItems(HWND dialog = nullptr) : dialog_(dialog) {}
  void set_dialog(HWND dialog) { dialog_ = dialog; }

  CSkinBitmap *bitmap(const std::string &section, const std::string &item, int id);
  CSkinLabel *label(const std::string &section, const std::string &item, int id);
  CSkinButton *button(const std::string &section, const std::string &item, int id);
  CSkinLink *link(int id);
  // The bitmap control already attached to `id`, dressed again from another item.
  bool reload(CSkinBitmap *bitmap, const std::string &section, const std::string &item);
  bool reload(CSkinLabel *label, const std::string &section, const std::string &item);

 private:
  template <class Control>
  Control *attach(int id);
  HWND dialog_;
  std::vector<std::unique_ptr<rtwin::CControl>> controls_;
};

}  // namespace tunmira
