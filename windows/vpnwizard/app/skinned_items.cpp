#include "skinned_items.h"

#include "wizard_app.h"

namespace tunmira {

template <class Control>
Control *SkinnedItems::Attach(int id) {
  for (auto &control : controls_)
    if (control->hwnd() == GetDlgItem(dialog_, id)) return dynamic_cast<Control *>(control.get());
  auto control = std::make_unique<Control>();
  if (!control->SubclassDlgItem(id, dialog_)) return nullptr;
  controls_.push_back(std::move(control));
  return static_cast<Control *>(controls_.back().get());
}

CSkinBitmap *SkinnedItems::Bitmap(const std::string &section, const std::string &item, int id) {
  CSkinBitmap *bitmap = Attach<CSkinBitmap>(id);
  TheApp().skin().LoadBitmapItem(section, item, bitmap);
  return bitmap;
}

CSkinLabel *SkinnedItems::Label(const std::string &section, const std::string &item, int id) {
  CSkinLabel *label = Attach<CSkinLabel>(id);
  TheApp().skin().LoadStaticItem(section, item, label);
  return label;
}

CSkinButton *SkinnedItems::Button(const std::string &section, const std::string &item, int id) {
  CSkinButton *button = Attach<CSkinButton>(id);
  TheApp().skin().LoadButtonItem(section, item, button);
  return button;
}

CSkinLink *SkinnedItems::Link(int id) {
  return Attach<CSkinLink>(id);
}

bool SkinnedItems::Reload(CSkinBitmap *bitmap, const std::string &section, const std::string &item) {
  return TheApp().skin().LoadBitmapItem(section, item, bitmap);
}

bool SkinnedItems::Reload(CSkinLabel *label, const std::string &section, const std::string &item) {
  return TheApp().skin().LoadStaticItem(section, item, label);
}

}  // namespace tunmira
