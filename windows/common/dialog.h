// Our own small window layer over plain Win32 for the dialog-based tools: a modal dialog bound to its
// object, and controls subclassed by objects that also get the owner-draw and colour messages their
// parent receives about them.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace rtwin {

// A control window driven by an object: its own messages go to WindowProc, and the dialog reflects
// WM_DRAWITEM, WM_MEASUREITEM, WM_COMPAREITEM, WM_DELETEITEM, WM_CTLCOLOR* and the WM_COMMAND
// notifications it sends about it to reflect.
class CControl {
 public:
  CControl() = default;
  virtual ~CControl();
  CControl(const CControl &) = delete;
  CControl &operator=(const CControl &) = delete;

  // Attaches the object to the dialog's control `id`; false when there is no such control.
  bool SubclassDlgItem(int id, HWND dialog);
  HWND hwnd() const { return hwnd_; }
  void Invalidate() const {
    if (hwnd_) InvalidateRect(hwnd_, nullptr, TRUE);
  }

  // The object attached to a window, or nullptr.
  static CControl *FromHandle(HWND window);

  // A reflected parent message; nullopt lets the dialog handle it as usual.
  virtual std::optional<LRESULT> reflect(UINT message, WPARAM wParam, LPARAM lParam);

 protected:
  // The control's own messages; the default passes them to the control's class.
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam);
  virtual void on_subclassed() {}
  // Called once the window is gone; the object may delete itself here.
  virtual void on_detached() {}

 private:
  static LRESULT CALLBACK subclass_proc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  void Detach();
  HWND hwnd_ = nullptr;
};

class CDialog {
 public:
  CDialog(int template_id, HWND parent = nullptr) : template_id_(template_id), parent_(parent) {}
  virtual ~CDialog() = default;
  CDialog(const CDialog &) = delete;
  CDialog &operator=(const CDialog &) = delete;

  INT_PTR DoModal();
  // Creates the dialog as a modeless child of the parent given at construction (templates with
  // WS_CHILD and DS_CONTROL); false when the template cannot be made.
  bool Create();
  // Moves the dialog to the top-left corner of the parent's control `placeholder_id`, keeping its size
  // and z-order and without activating it.
  void place_over_item(int placeholder_id) const;
  // Destroys a modeless dialog; nothing when there is none.
  void destroy();
  HWND hwnd() const { return hwnd_; }
  HWND parent() const { return parent_; }
  // For dialogs made before their parent window exists (a wizard's pages); set before Create.
  void set_parent_window(HWND parent) { parent_ = parent; }
  // Posts a message to the parent window; false when there is none or the post fails.
  bool post_to_parent(UINT message, WPARAM wParam, LPARAM lParam) const;
  HWND item(int id) const { return GetDlgItem(hwnd_, id); }
  void show_item(int id, bool show) const { ShowWindow(item(id), show ? SW_SHOW : SW_HIDE); }
  void enable_item(int id, bool enable) const { EnableWindow(item(id), enable ? TRUE : FALSE); }
  void set_item_text(int id, const std::string &text) const { SetDlgItemTextA(hwnd_, id, text.c_str()); }
  std::string item_text(int id) const;
  void EndDialog(INT_PTR result) { ::EndDialog(hwnd_, result); }

 protected:
  virtual BOOL OnInitDialog() { return TRUE; }
  // BN_CLICKED and the other notifications; true when handled.
  virtual bool OnCommand(int id, int code) {
    (void)id;
    (void)code;
    return false;
  }
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }
  // Every other message; nullopt leaves it to the default handling.
  virtual std::optional<INT_PTR> on_message(UINT message, WPARAM wParam, LPARAM lParam);
  virtual void OnDestroy() {}

 private:
  static INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM);
  INT_PTR dispatch(UINT message, WPARAM wParam, LPARAM lParam);
  int template_id_;
  HWND parent_;
  HWND hwnd_ = nullptr;
};

}  // namespace rtwin
