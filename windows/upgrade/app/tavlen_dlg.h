// The upgrade wizard's dialog: pages and the adapter on the dialog's thread; the device search, the
// transfer and the reboot wait on worker threads, so the window keeps answering while they run. The
// search reports through message kSearchDoneMessage, the others through message 1781.
#pragma once

#include <windows.h>

#include <atomic>

#include "adapter_frame_port.h"
#include "adapter_packet_io.h"
#include "controls.h"
#include "dialog.h"
#include "hl_upgrade.h"
#include "wizard_flow.h"

namespace upgrade {

inline constexpr int kRebootWaitToken = 240;
inline constexpr UINT kSearchDoneMessage = WM_APP + 1;

class CTavlenDlg final : public rtwin::CDialog, public WizardHost {
 public:
  CTavlenDlg();
  ~CTavlenDlg() override;

  // WizardHost
  void ShowPage(const PageView &view) override;
  void message(const std::string &text) override;
  void exit(int status) override;
  int adapter_count() override { return adapter_count_; }
  void select_adapter(int index) override;
  std::string selected_device_name() override;
  int OpenAdapter(const std::string &device_name) override { return io_.OpenAdapter(device_name); }
  std::optional<std::string> adapter_gateway(const std::string &guid) override;
  void busy_cursor(bool busy) override;
  std::string image_path() override { return image_path_; }
  void run_search(std::function<SearchOutcome()> search,
                  std::function<void(const SearchOutcome &)> done) override;

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code) override;
  void OnOK() override {}
  void OnCancel() override;
  std::optional<INT_PTR> on_message(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnDestroy() override;

 private:
  // Forwards the engine's reports to whichever window the dialog has at the time.
  class DialogEngineHost final : public EngineHost {
   public:
    explicit DialogEngineHost(CTavlenDlg &dialog) : dialog_(dialog) {}
    void post_progress(std::intptr_t wParam, std::intptr_t lParam) override;
    void start_reboot_wait() override;
    void pump_one_message() override;

   private:
    CTavlenDlg &dialog_;
  };

  void OnUpgrade();
  void OnUpgradeProgress(std::intptr_t wParam, std::intptr_t lParam);
  void apply_buttons(bool back, bool close, bool upgrade);
  void fill_device_list();
  HBRUSH page_brush(HDC dc, HWND control);
  void release_adapter();
  static DWORD WINAPI search_worker(void *self);
  static DWORD WINAPI UpgradeWorker(void *self);
  static DWORD WINAPI RebootWaitWorker(void *self);

  AdapterPacketIo io_;
  AdapterFramePort port_{io_};
  TickClock clock_;
  FileImageStore images_;
  DialogEngineHost host_{*this};
  UpgradeEngine engine_{port_, clock_, host_, images_};
  WizardFlow flow_{*this, engine_};

  CPictureCtrl picture_{true};
  ZAdapterListBox adapters_;
  CHoverButton next_, back_, upgrade_, close_;
  HBRUSH white_brush_ = nullptr, page_brush_ = nullptr;
  HICON icon_ = nullptr;

  int adapter_count_ = 0;
  std::string image_path_;
  std::atomic<HWND> progress_window_{nullptr};
  std::atomic<bool> upgrade_enabled_{true};
  std::atomic<int> reboot_token_{0};
  // Set while the search, the transfer or the reboot wait runs: the dialog may not close under them.
  // Each worker lowers it as its very last step, after its last use of the dialog.
  std::atomic<int> workers_running_{0};
  // The search's work and its outcome, handed between the dialog and the search worker by starting
  // the worker and by the posted kSearchDoneMessage.
  std::function<SearchOutcome()> search_;
  std::function<void(const SearchOutcome &)> search_done_;
  SearchOutcome search_outcome_;
  // The wait cursor stays while the window answers the mouse.
  bool busy_ = false;
};

}  // namespace upgrade
