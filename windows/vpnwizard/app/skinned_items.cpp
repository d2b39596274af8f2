#include "skinned_items.h"

#include "wizard_app.h"

namespace tunmira {

template <class Control>
Control *SkinnedItems::attach(int id) {
  for (auto &control : controls_)
    if (control->hwnd() == GetDlgItem(dialog_, id)) return dynamic_cast<Control *>(control.get());
  auto control = std::make_unique<Control>();
  if (!control->SubclassDlgItem(id, dialog_)) return nullptr;
  controls_.push_back(std::move(control));
  return static_cast<Control *>(controls_.back().get());
}

CSkinBitmap *SkinnedItems::bitmap(const std::string &section, const std::string &item, int id) {
  CSkinBitmap *bitmap = attach<CSkinBitmap>(id);
  the_app().skin().LoadBitmapItem(section, item, bitmap);
  return bitmap;
}

CSkinLabel *SkinnedItems::label(const std::string &section, const std::string &item, int id) {
  CSkinLabel *label = attach<CSkinLabel>(id);
  the_app().skin().LoadStaticItem(section, item, label);
  return label;
}

CSkinButton *SkinnedItems::button(const std::string &section, const std::string &item, int id) {
  CSkinButton *button = attach<CSkinButton>(id);
  the_app().skin().LoadButtonItem(section, item, button);
  return button;
}

CSkinLink *SkinnedItems::link(int id) {
  return attach<CSkinLink>(id);
}

bool SkinnedItems::reload(CSkinBitmap *bitmap, const std::string &section, const std::string &item) {
  return the_app().skin().LoadBitmapItem(section, item, bitmap);
}

bool SkinnedItems::reload(CSkinLabel *label, const std::string &section, const std::string &item) {
  return the_app().skin().LoadStaticItem(section, item, label);
}

}  // namespace tunmira
