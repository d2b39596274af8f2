// The IP helper's header needs winsock's before windows.h comes in through the dialog's.
#include <winsock2.h>
#include <iphlpapi.h>

#include "tavlen_dlg.h"

#include <commctrl.h>

#include <vector>

#include "prompts.h"
#include "resource.h"
#include "window_engine_host.h"

namespace upgrade {
namespace {

constexpr char kCaption[] = "HBX7300NQ Upgrade Utility V1.0";
constexpr COLORREF kPageBlue = RGB(0x51, 0x6D, 0xB6);

// Milliseconds per reboot-wait step; tests shorten it through UPGRADE_REBOOT_STEP_MS.
DWORD reboot_wait_step_ms() {
  char value[16];
  DWORD n = GetEnvironmentVariableA("UPGRADE_REBOOT_STEP_MS", value, sizeof value);
  // A value too long for the buffer is no sane step either: it keeps the full wait.
  if (n >= sizeof value) return kRebootStepMs;
  return reboot_step_ms(std::string_view(value, n));
}

// Tests hold the search worker just before it hands its outcome to the dialog: with
// UPGRADE_SEARCH_GATE naming a pair of events, the worker sets "<name>.held" and waits (a minute at
// most) for "<name>.go". Without it the worker goes straight on.
void hold_search_handover_for_test() {
  char name[128];
  DWORD n = GetEnvironmentVariableA("UPGRADE_SEARCH_GATE", name, sizeof name);
  if (n == 0 || n >= sizeof name) return;
  const std::string gate(name, n);
  HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, (gate + ".held").c_str());
  HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, (gate + ".go").c_str());
  if (held != nullptr && go != nullptr) {
    SetEvent(held);
    WaitForSingleObject(go, 60000);
  }
  if (held != nullptr) CloseHandle(held);
  if (go != nullptr) CloseHandle(go);
}

std::string current_directory() {
  DWORD n = GetCurrentDirectoryA(0, nullptr);
  std::string dir(n, '\0');
  if (n == 0) return dir;
  dir.resize(GetCurrentDirectoryA(n, dir.data()));
  return dir;
}

class CAboutDlg final : public rtwin::CDialog {
 public:
  explicit CAboutDlg(HWND parent) : CDialog(IDD_ABOUTBOX, parent) {}

 protected:
  BOOL OnInitDialog() override {
    ok_.SubclassDlgItem(IDOK, hwnd());
    ok_.LoadBitmap(IDB_ABOUT_OK);
    return TRUE;
  }

 private:
  CHoverButton ok_;
};

}  // namespace

void CTavlenDlg::DialogEngineHost::post_progress(std::intptr_t wParam, std::intptr_t lParam) {
  PostMessageA(dialog_.progress_window_.load(), WM_UPGRADE_PROGRESS, static_cast<WPARAM>(wParam),
               static_cast<LPARAM>(lParam));
}

void CTavlenDlg::DialogEngineHost::start_reboot_wait() {
  dialog_.reboot_token_ = kRebootWaitToken;
  ++dialog_.workers_running_;
  HANDLE thread = CreateThread(nullptr, 2048, RebootWaitWorker, &dialog_, 0, nullptr);
  if (thread == nullptr) {
    // Without the wait the router's reboot is simply not shown; the success page still follows.
    --dialog_.workers_running_;
    post_progress(kRebootDone, 0);
    return;
  }
  CloseHandle(thread);
}

void CTavlenDlg::DialogEngineHost::pump_one_message() {
  WindowEngineHost(nullptr, {}).pump_one_message();
}

CTavlenDlg::CTavlenDlg() : CDialog(IDD_UPGRADE_DIALOG) {
  white_brush_ = CreateSolidBrush(RGB(255, 255, 255));
  page_brush_ = CreateSolidBrush(kPageBlue);
}

CTavlenDlg::~CTavlenDlg() {
  DeleteObject(white_brush_);
  DeleteObject(page_brush_);
}

BOOL CTavlenDlg::OnInitDialog() {
  progress_window_ = hwnd();
  picture_.SubclassDlgItem(IDC_PICTURE, hwnd());
  SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)));  // IDC_ARROW
  if (HMENU menu = GetSystemMenu(hwnd(), FALSE)) {
    char about[128] = {};
    if (LoadStringA(GetModuleHandleA(nullptr), IDS_ABOUTBOX, about, sizeof about) > 0) {
      AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
      AppendMenuA(menu, MF_STRING, IDM_ABOUTBOX, about);
    }
  }
  icon_ = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME));
  SendMessageA(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageA(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));

  adapters_.SubclassDlgItem(IDC_ADAPTERS, hwnd());
  next_.SubclassDlgItem(IDC_NEXT, hwnd());
  back_.SubclassDlgItem(IDC_BACK, hwnd());
  upgrade_.SubclassDlgItem(IDC_UPGRADE, hwnd());
  close_.SubclassDlgItem(IDCANCEL, hwnd());
  back_.LoadBitmap(IDB_BACK);
  next_.LoadBitmap(IDB_NEXT);
  upgrade_.LoadBitmap(IDB_UPGRADE);
  close_.LoadBitmap(IDB_CLOSE);
  for (int id : {IDC_MAC_LABEL, IDC_GO_TOP, IDC_COMBO}) show_item(id, false);

  SendMessageA(item(IDC_PROGRESS), PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  SendMessageA(item(IDC_PROGRESS), PBM_SETPOS, 0, 0);
  image_path_ = image_path_in(current_directory());

  adapters_.clear();
  adapter_count_ = io_.EnumerateAdapters(adapters_);
  flow_.start();
  return TRUE;
}

void CTavlenDlg::ShowPage(const PageView &view) {
  bool versions = view.versions;
  show_item(IDC_NEXT, view.next);
  enable_item(IDC_NEXT, view.next_enabled);
  show_item(IDC_BACK, view.back);
  show_item(IDCANCEL, view.close);
  show_item(IDC_UPGRADE, view.upgrade);
  apply_buttons(view.back, view.close, view.upgrade);
  show_item(IDC_ADAPTERS, view.adapter_list);
  show_item(IDC_DESCRIPTION, view.adapter_list);
  fill_device_list();
  show_item(IDC_DEVICES, view.device_list);
  set_item_text(IDC_MODEL, "HBX7300NQ");
  set_item_text(IDC_ROUTER_VERSION, flow_.router_version());
  set_item_text(IDC_FILE_VERSION, flow_.file_version());
  for (int id : {IDC_MODEL, IDC_ROUTER_VERSION, IDC_FILE_VERSION}) show_item(id, versions);
  if (view.progress) {
    SendMessageA(item(IDC_PROGRESS), PBM_SETPOS, 0, 0);
    set_item_text(IDC_STATUS, "");
  }
  show_item(IDC_PROGRESS, view.progress);
  show_item(IDC_STATUS, view.progress);
  CPictureCtrl::current_picture_id() = view.picture;
  picture_.load_picture(view.picture);
  InvalidateRect(hwnd(), nullptr, TRUE);
}

void CTavlenDlg::apply_buttons(bool back, bool close, bool upgrade) {
  enable_item(IDC_BACK, back);
  enable_item(IDCANCEL, close);
  enable_item(IDC_UPGRADE, upgrade);
}

void CTavlenDlg::fill_device_list() {
  HWND list = item(IDC_DEVICES);
  SendMessageA(list, LB_RESETCONTENT, 0, 0);
  for (const auto &name : flow_.devices())
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
  if (!flow_.devices().empty()) SendMessageA(list, LB_SETCURSEL, 0, 0);
}

void CTavlenDlg::message(const std::string &text) {
  rtwin::message_box_text(hwnd(), text, kCaption);
}

void CTavlenDlg::exit(int status) {
  release_adapter();
  ExitProcess(static_cast<UINT>(status));
}

void CTavlenDlg::select_adapter(int index) {
  adapters_.select(index);
  set_item_text(IDC_DESCRIPTION, adapters_.selected_description());
}

std::string CTavlenDlg::selected_device_name() {
  const ZAdapterInfo *info = adapters_.selected();
  return info ? info->device_name() : std::string();
}

std::optional<std::string> CTavlenDlg::adapter_gateway(const std::string &guid) {
  ULONG size = 704;
  std::vector<unsigned char> buffer(size);
  ULONG rc = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO *>(buffer.data()), &size);
  if (rc == ERROR_BUFFER_OVERFLOW) {
    buffer.resize(size);
    rc = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO *>(buffer.data()), &size);
  }
  if (rc != ERROR_SUCCESS) return std::nullopt;
  std::vector<GatewayEntry> entries;
  for (auto *a = reinterpret_cast<IP_ADAPTER_INFO *>(buffer.data()); a != nullptr; a = a->Next)
    entries.push_back({a->AdapterName, a->Type, a->GatewayList.IpAddress.String});
  return choose_gateway(entries, guid);
}

void CTavlenDlg::busy_cursor(bool busy) {
  busy_ = busy;
  SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(busy ? 32514 : 32512)));  // IDC_WAIT, IDC_ARROW
}

void CTavlenDlg::run_search(std::function<SearchOutcome()> search,
                            std::function<void(const SearchOutcome &)> done) {
  search_ = std::move(search);
  search_done_ = std::move(done);
  ++workers_running_;
  HANDLE thread = CreateThread(nullptr, 0, search_worker, this, 0, nullptr);
  if (thread == nullptr) {
    // Without a worker the search still runs, only with the window waiting for it.
    --workers_running_;
    search_done_(search_());
    return;
  }
  CloseHandle(thread);
}

DWORD WINAPI CTavlenDlg::search_worker(void *self) {
  auto *dialog = static_cast<CTavlenDlg *>(self);
  dialog->search_outcome_ = dialog->search_();
  hold_search_handover_for_test();
  PostMessageA(dialog->hwnd(), kSearchDoneMessage, 0, 0);
  // Last: once the count is down Close may end the dialog, so nothing of it is touched after this.
  --dialog->workers_running_;
  return 0;
}

bool CTavlenDlg::OnCommand(int id, int code) {
  if (code == BN_CLICKED && id == IDC_NEXT) {
    if (flow_.page() == Page::kVersions) {
      auto caret = SendMessageA(item(IDC_DEVICES), LB_GETCARETINDEX, 0, 0);
      flow_.set_device_index(caret < 0 ? 0 : static_cast<std::size_t>(caret));
    }
    flow_.OnNext();
    return true;
  }
  if (code == BN_CLICKED && id == IDC_BACK) {
    flow_.OnBack();
    return true;
  }
  if (code == BN_CLICKED && id == IDC_UPGRADE) {
    OnUpgrade();
    return true;
  }
  if (code == LBN_SELCHANGE && id == IDC_ADAPTERS) {
    set_item_text(IDC_DESCRIPTION, adapters_.selected_description());
    return true;
  }
  return false;
}

void CTavlenDlg::OnCancel() {
  // Closing now would release the adapter under the transfer or leave the router mid-upgrade.
  if (workers_running_ > 0) return;
  EndDialog(IDCANCEL);
}

void CTavlenDlg::OnUpgrade() {
  if (workers_running_ > 0 || flow_.page() != Page::kUpgrade) return;
  busy_cursor(true);
  apply_buttons(false, false, false);
  SendMessageA(item(IDC_PROGRESS), PBM_SETPOS, 0, 0);
  set_item_text(IDC_STATUS, "");
  if (!upgrade_enabled_) return;
  progress_window_ = hwnd();
  ++workers_running_;
  HANDLE thread = CreateThread(nullptr, 2048, UpgradeWorker, this, 0, nullptr);
  if (thread == nullptr) {
    --workers_running_;
    host_.post_progress(kProgressFailed, kGeneralFailure);
    return;
  }
  CloseHandle(thread);
}

DWORD WINAPI CTavlenDlg::UpgradeWorker(void *self) {
  auto *dialog = static_cast<CTavlenDlg *>(self);
  HLupgrade(dialog->engine_).run(dialog->flow_.selected_device(), dialog->image_path_);
  --dialog->workers_running_;
  return 0;
}

DWORD WINAPI CTavlenDlg::RebootWaitWorker(void *self) {
  auto *dialog = static_cast<CTavlenDlg *>(self);
  if (dialog->reboot_token_ == kRebootWaitToken) {
    HWND window = dialog->progress_window_;
    DWORD step = reboot_wait_step_ms();
    SetDlgItemTextA(window, IDC_STATUS, "Wait rebooting...");
    for (int i = 0; i <= 100; ++i) {
      SendMessageA(window, WM_UPGRADE_PROGRESS, static_cast<WPARAM>(i), kRebootTick);
      Sleep(step);
    }
    PostMessageA(window, WM_UPGRADE_PROGRESS, kRebootDone, 0);
  }
  --dialog->workers_running_;
  return 0;
}

void CTavlenDlg::OnUpgradeProgress(std::intptr_t wParam, std::intptr_t lParam) {
  ProgressEffect effect = effect_of_progress(wParam, lParam);
  HWND progress = item(IDC_PROGRESS);
  if (effect.position >= 0) SendMessageA(progress, PBM_SETPOS, static_cast<WPARAM>(effect.position), 0);
  switch (effect.kind) {
    case ProgressEffect::kStarted:
      apply_buttons(false, false, false);
      break;
    case ProgressEffect::kRebooted:
      upgrade_enabled_ = false;
      PostMessageA(hwnd(), WM_UPGRADE_PROGRESS, kUpgradeSucceeded, 0);
      break;
    case ProgressEffect::kSucceeded:
      busy_cursor(false);
      flow_.on_upgrade_succeeded();
      break;
    case ProgressEffect::kFailed:
      busy_cursor(false);
      apply_buttons(true, true, true);
      break;
    default:
      break;
  }
  if (!effect.status.empty()) set_item_text(IDC_STATUS, effect.status);
  if (effect.kind == ProgressEffect::kFailed) message(effect.message);
}

HBRUSH CTavlenDlg::page_brush(HDC dc, HWND control) {
  Page page = flow_.page();
  if (page == Page::kNone) return nullptr;
  SetBkMode(dc, TRANSPARENT);
  if (page <= Page::kAdapter) {
    SetTextColor(dc, RGB(0, 0, 0));
    return white_brush_;
  }
  if (GetDlgCtrlID(control) == IDC_COMBO) {
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, RGB(255, 255, 255));
    return white_brush_;
  }
  SetTextColor(dc, RGB(255, 255, 255));
  return page_brush_;
}

std::optional<INT_PTR> CTavlenDlg::on_message(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_UPGRADE_PROGRESS:
      OnUpgradeProgress(static_cast<std::intptr_t>(wParam), static_cast<std::intptr_t>(lParam));
      return 0;
    case kSearchDoneMessage:
      search_done_(search_outcome_);
      return 0;
    case WM_SETCURSOR:
      if (!busy_) return std::nullopt;
      SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));  // IDC_WAIT
      return TRUE;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg(hwnd()).DoModal();
        return 0;
      }
      // Alt+F4 and the system menu's Close reach OnCancel through IDCANCEL.
      return std::nullopt;
    case WM_PAINT:
      if (IsIconic(hwnd())) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd(), &paint);
        RECT rect;
        GetClientRect(hwnd(), &rect);
        DrawIcon(dc, (rect.right - GetSystemMetrics(SM_CXICON) + 1) / 2,
                 (rect.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2, icon_);
        EndPaint(hwnd(), &paint);
        return 0;
      }
      return std::nullopt;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(icon_);
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
      if (HBRUSH brush = page_brush(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)))
        return reinterpret_cast<INT_PTR>(brush);
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

void CTavlenDlg::release_adapter() {
  if (flow_.page() > Page::kAdapter) io_.ClearPacketFilter();
  io_.CloseAdapter();
  io_.ReleaseAdapterIo();
}

void CTavlenDlg::OnDestroy() {
  release_adapter();
}

}  // namespace upgrade
