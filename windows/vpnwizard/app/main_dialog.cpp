#include "main_dialog.h"

#include <shellapi.h>

#include <array>

#include "language.h"
#include "prompts.h"
#include "resource.h"
#include "skin_values.h"
#include "win_skin_host.h"
#include "wizard_app.h"
#include "wizard_pages.h"

namespace tunmira {
namespace {

constexpr char kMainCaption[] = "HBX7300NQ VPN wizard";
constexpr char kUserGuide[] = "VPNWizard_UserGuide.pdf";
constexpr char kReaderInstaller[] = "AdbeRdr810_en_US.exe";

std::string prompt_log() {
  char path[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("RT_PROMPT_LOG", path, sizeof path);
  return n > 0 && n < sizeof path ? std::string(path, n) : std::string();
}

// The plain message box of the help actions.
void shell_failure(HWND owner, INT_PTR result, bool installer) {
  rtwin::message_box_text(owner, shell_error_text(static_cast<int>(result), installer), "", MB_OK);
}

std::string format_one_string(const std::string &format, const std::string &value) {
  std::string text;
  std::size_t at = format.find("%s");
  if (at == std::string::npos) return format;
  return format.substr(0, at) + value + format.substr(at + 2);
}

void center_at_size(HWND window, int width, int height) {
  RECT work;
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  int x = work.left + (work.right - work.left - width) / 2;
  int y = work.top + (work.bottom - work.top - height) / 2;
  SetWindowPos(window, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

CWizardMainDlg::CWizardMainDlg() : CWizardSheetDlg(IDD_MAIN, kPagePlaceholder) {}

BOOL CWizardMainDlg::OnInitDialog() {
  HDC dc = GetDC(hwnd());
  int dots_per_inch = GetDeviceCaps(dc, LOGPIXELSX);
  ReleaseDC(hwnd(), dc);
  // At 96 dots per inch the skin's pixels are the window's: the window takes the size the skin is drawn
  // for, whatever width the dialog font's substitute gave the template.
  if (dots_per_inch == 96) center_at_size(hwnd(), kMainDesignWidth, kMainDesignHeight);
  RECT rect;
  GetWindowRect(hwnd(), &rect);
  DisplayScale scale = main_dialog_scale(dots_per_inch, rect.right - rect.left, rect.bottom - rect.top);
  DisplayScaled = scale.scaled;
  if (scale.scaled) {
    DialogScaleX = scale.x;
    DialogScaleY = scale.y;
  }
  CWizardSheetDlg::OnInitDialog();
  caption_.set_caption_text(kMainCaption);
  caption_.Install(hwnd(), WM_CAPTION_PAINT, 0);
  SetWindowTextA(hwnd(), kMainCaption);
  LoadDialogSkin();
  apply_bar(initial_bar());
  UpdateWindowRegion(hwnd());
  return TRUE;
}

void CWizardMainDlg::LoadDialogSkin() {
  the_app().skin().SetSkinFile(CurrentLanguageFile);
  items_.set_dialog(hwnd());
  background_ = items_.bitmap("DialogMain", "background", kBackgroundPicture);
  items_.button("DialogMain", "Go", kGoButton);
  items_.button("DialogMain", "Testing", kTestingButton);
  items_.button("DialogMain", "Next", kNextButton);
  items_.button("DialogMain", "Back", kBackButton);
  items_.button("DialogMain", "Cancel", kExitButton);
  const std::array<std::pair<const char *, int>, 7> labels = {{{"Label9", kLabel9},
                                                               {"Label6", kLabel6},
                                                               {"Label11", kLabel11},
                                                               {"Label12", kLabel12},
                                                               {"Label13", kLabel13},
                                                               {"Label8", kLabel8},
                                                               {"Label14", kLabel14}}};
  for (auto [item, id] : labels) items_.label("DialogMain", item, id);
  for (int link : {kUserGuideLink, kDownloadGuideLink, kRegistrationLink}) items_.link(link);
  InvalidateRect(hwnd(), nullptr, TRUE);
}

void CWizardMainDlg::apply_bar(const BarView &view) {
  for (int id : view.hidden) show_item(id, false);
  for (int id : view.shown) show_item(id, true);
  if (view.post_start_background) PostMessageA(hwnd(), WM_WIZARD_COMMAND, 0, 100);
}

void CWizardMainDlg::OnNext() {
  WizardState &state = the_wizard_state();
  GoNextPage();
  apply_bar(bar_after_next(state.WizardStep, state.ConfigurePhase));
  InvalidateRect(hwnd(), nullptr, TRUE);
}

void CWizardMainDlg::OnBack() {
  GoBackPage();
  apply_bar(bar_after_back(the_wizard_state().WizardStep));
  InvalidateRect(hwnd(), nullptr, TRUE);
}

void CWizardMainDlg::EnterCdStartMode() {
  WizardState &state = the_wizard_state();
  state.CdStartMode = 1;
  state.WizardStep = kStepCdStart;
  PostMessageA(hwnd(), WM_WIZARD_COMMAND, 2, 100);
  apply_bar(bar_for_cd_start());
  GoNextPage();
  InvalidateRect(hwnd(), nullptr, TRUE);
}

void CWizardMainDlg::set_background(const std::string &item) {
  if (background_) items_.reload(background_, "DialogMain", item);
  InvalidateRect(hwnd(), nullptr, TRUE);
}

void CWizardMainDlg::OnWizardMessage(WPARAM wParam, LPARAM lParam) {
  WizardCommandEffect effect =
      effect_of_wizard_command(static_cast<std::intptr_t>(wParam), static_cast<std::intptr_t>(lParam));
  switch (effect.action) {
    case WizardCommandEffect::kNext:
      OnNext();
      break;
    case WizardCommandEffect::kOpenUserGuide:
      OpenUserGuide();
      break;
    case WizardCommandEffect::kSaveUserGuide:
      SaveUserGuide();
      break;
    case WizardCommandEffect::kOpenRegistration:
      OpenRegistration();
      break;
    case WizardCommandEffect::kNone:
      break;
  }
  if (!effect.background.empty()) set_background(effect.background);
  if (effect.start_wizard) {
    PostMessageA(hwnd(), WM_WIZARD_COMMAND, 1, 100);
    InvalidateRect(hwnd(), nullptr, TRUE);
    OnNext();
  }
}

bool CWizardMainDlg::OnCommand(int id, int code) {
  (void)code;
  switch (id) {
    case kNextButton:
    case kGoButton:
    case kTestingButton:
      OnNext();
      return true;
    case kBackButton:
    case 1000:
      OnBack();
      return true;
    case kExitButton:
    case 1034:
    case 1035:
    case 1001:
      PostMessageA(hwnd(), WM_COMMAND, IDCANCEL, 0);
      return true;
    case 1053:
      OpenUserGuide();
      return true;
    case 1055:
      OpenRegistration();
      return true;
    case IDC_CDSTART_COMMAND:
      EnterCdStartMode();
      return true;
    case IDOK:
      // Enter on the main window does nothing; the pages' own buttons move the wizard.
      return true;
  }
  return false;
}

std::optional<INT_PTR> CWizardMainDlg::on_message(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE:
      UpdateWindowRegion(hwnd());
      return 0;
    case WM_WIZARD_COMMAND:
      OnWizardMessage(wParam, lParam);
      return 0;
    case WM_CAPTION_PAINT:
      caption_.DrawGradientCaption(wParam != 0, reinterpret_cast<const CaptionPaintRecord *>(lParam));
      return 0;
  }
  return CWizardSheetDlg::on_message(message, wParam, lParam);
}

INT_PTR CWizardMainDlg::open(const std::string &target) {
  if (!prompt_log().empty()) return rtwin::open_document(hwnd(), target) ? 33 : 2;
  return reinterpret_cast<INT_PTR>(
      ShellExecuteA(hwnd(), "open", target.c_str(), nullptr, nullptr, SW_SHOWDEFAULT));
}

void CWizardMainDlg::OpenUserGuide() {
  INT_PTR result = open(kUserGuide);
  if (result > 32) return;
  if (result == 2) {
    MessageBoxLang(hwnd(), format_one_string(MessageTexts[kMsgFileNotFound], kUserGuide),
                   MessageTexts[kMsgTitle], MB_ICONEXCLAMATION);
  } else if (result == 31) {
    if (MessageBoxLang(hwnd(), MessageTexts[kMsgAdobeReader], MessageTexts[kMsgTitle],
                       MB_YESNO | MB_ICONEXCLAMATION) == IDYES)
      RunReaderInstaller();
  } else {
    shell_failure(hwnd(), result, false);
  }
}

void CWizardMainDlg::RunReaderInstaller() {
  INT_PTR result = open(kReaderInstaller);
  if (result <= 32) shell_failure(hwnd(), result, true);
}

void CWizardMainDlg::OpenRegistration() {
  // The maker's product registration page, a value of the build (TUNMIRA_REGISTRATION_URL).
  INT_PTR result = open(TUNMIRA_REGISTRATION_URL);
  if (result <= 32) shell_failure(hwnd(), result, false);
}

void CWizardMainDlg::SaveUserGuide() {
  std::string source = the_app().program_folder() + kUserGuide;
  std::optional<std::string> target =
      rtwin::ask_save_file_name(hwnd(), kUserGuide, "PDF file (*.pdf)|*.pdf||", "pdf");
  if (!target) return;
  HANDLE in = CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  if (in == INVALID_HANDLE_VALUE) {
    rtwin::message_box_text(hwnd(), "Can not open!", "", MB_OK);
    return;
  }
  HANDLE out =
      CreateFileA(target->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    CloseHandle(in);
    return;
  }
  char block[4096];
  DWORD got = 0;
  while (ReadFile(in, block, sizeof block, &got, nullptr) && got > 0) {
    DWORD written = 0;
    if (!WriteFile(out, block, got, &written, nullptr)) break;
  }
  CloseHandle(out);
  CloseHandle(in);
}

BOOL CCdStartPage::OnInitDialog() {
  CWizardPage::OnInitDialog();
  items_.set_dialog(hwnd());
  items_.button("Norton", "Norton", IDC_CD_LAUNCH);
  items_.bitmap("Norton", "Background", IDC_CD_BACKGROUND);
  const int labels[] = {1140, 1141, 1145, 1146, 1148, 1149, 1150};
  for (int i = 0; i < 7; ++i) items_.label("Norton", "Label" + std::to_string(i + 1), labels[i]);
  items_.label("Welcome00", "Label4", 1151);
  items_.label("Norton", "Label9", 1152);
  items_.label("Norton", "Label10", 1153);
  return TRUE;
}

bool CCdStartPage::OnCommand(int id, int code) {
  if (id != IDC_CD_LAUNCH || code != BN_CLICKED) return false;
  OnCdStart();
  return true;
}

void CCdStartPage::OnCdStart() {
  const char *program = ".\\Norton\\CDStart.exe";
  INT_PTR result;
  if (!prompt_log().empty())
    result = rtwin::open_document(hwnd(), program) ? 33 : 2;
  else
    result =
        reinterpret_cast<INT_PTR>(ShellExecuteA(hwnd(), "open", program, nullptr, nullptr, SW_SHOWDEFAULT));
  if (result > 32) return;
  char *text = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, GetLastError(), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                 reinterpret_cast<char *>(&text), 0, nullptr);
  MessageBoxLang(hwnd(), text ? text : shell_error_text(static_cast<int>(result)), MessageTexts[kMsgTitle],
                 MB_ICONEXCLAMATION);
  if (text) LocalFree(text);
}

CProgressDlg::~CProgressDlg() {
  if (brush_) DeleteObject(brush_);
}

BOOL CProgressDlg::OnInitDialog() {
  items_.set_dialog(hwnd());
  for (int i = 0; i < 4; ++i)
    items_.bitmap("Action", "Background" + std::to_string(i + 1), IDC_PROGRESS_FRAME_FIRST + i);
  show_item(IDCANCEL, false);
  if (std::optional<std::string> label = progress_label_of(type_))
    items_.label("Action", *label, IDC_PROGRESS_LABEL);
  show_frame(0);
  brush_ = CreateSolidBrush(RGB(41, 113, 185));
  SetTimer(hwnd(), kProgressTimerId, kProgressTimerMs, nullptr);
  return TRUE;
}

void CProgressDlg::show_frame(int frame) {
  for (int i = 0; i < 4; ++i) show_item(IDC_PROGRESS_FRAME_FIRST + i, i == frame);
}

void CProgressDlg::Close() {
  KillTimer(hwnd(), kProgressTimerId);
  EndDialog(0);
}

void CProgressDlg::finish() {
  the_wizard_state().ProgressDone = 1;
  Close();
}

std::optional<INT_PTR> CProgressDlg::on_message(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      if (wParam != kProgressTimerId) break;
      {
        bool close = timer_.tick(the_wizard_state().ProgressDone != 0);
        show_frame(timer_.frame());
        if (close) Close();
      }
      return 0;
    case WM_CTLCOLORDLG:
      return reinterpret_cast<INT_PTR>(brush_);
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, RGB(0, 0, 0));
      SetBkColor(dc, RGB(41, 113, 185));
      return reinterpret_cast<INT_PTR>(brush_);
    }
  }
  (void)lParam;
  return std::nullopt;
}

ProgressDialog progress_shower(HWND owner) {
  return [owner](int type) {
    CProgressDlg dialog(type, owner);
    dialog.DoModal();
  };
}

BOOL CAdapterInfoPage::OnInitDialog() {
  items_.set_dialog(hwnd());
  items_.bitmap("AdapterInfo", "Background", IDC_ADAPTER_BACKGROUND);
  items_.button("AdapterInfo", "OK", IDOK);
  items_.label("AdapterInfo", "Label", IDC_ADAPTER_LABEL);
  HWND combo = item(IDC_ADAPTER_COMBO);
  for (const std::string &name : names_)
    SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
  SendMessageA(combo, CB_SETCURSEL, 0, 0);
  UpdateWindowRegion(hwnd());
  return TRUE;
}

void CAdapterInfoPage::OnOK() {
  LRESULT selected = SendMessageA(item(IDC_ADAPTER_COMBO), CB_GETCURSEL, 0, 0);
  // No selection is no valid choice: it must not pass for the first adapter.
  selection_ = selected == CB_ERR ? -1 : static_cast<int>(selected);
  EndDialog(IDOK);
}

std::optional<INT_PTR> CAdapterInfoPage::on_message(UINT message, WPARAM, LPARAM) {
  if (message == WM_SIZE) UpdateWindowRegion(hwnd());
  return std::nullopt;
}

}  // namespace tunmira
