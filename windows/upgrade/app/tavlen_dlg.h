// The upgrade wizard's dialog: pages, the adapter and device search on the dialog's thread, and the
// transfer and reboot wait on worker threads that report through message 1781.
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

class CTavlenDlg final : public rtwin::CDialog, public WizardHost {
 public:
  CTavlenDlg();
  ~CTavlenDlg() override;

  // WizardHost
  void ShowPage(const PageView &view) override;
  void Message(const std::string &text) override;
  void Exit(int status) override;
  int AdapterCount() override { return adapterCount_; }
  void SelectAdapter(int index) override;
  std::string SelectedDeviceName() override;
  int OpenAdapter(const std::string &deviceName) override { return io_.OpenAdapter(deviceName); }
  std::optional<std::string> AdapterGateway(const std::string &guid) override;
  void BusyCursor(bool busy) override;
  std::string ImagePath() override { return imagePath_; }

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code) override;
  void OnOK() override {}
  void OnCancel() override;
  std::optional<INT_PTR> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnDestroy() override;

 private:
  // Forwards the engine's reports to whichever window the dialog has at the time.
  class DialogEngineHost final : public EngineHost {
   public:
    explicit DialogEngineHost(CTavlenDlg &dialog) : dialog_(dialog) {}
    void PostProgress(std::intptr_t wParam, std::intptr_t lParam) override;
    void StartRebootWait() override;
    void PumpOneMessage() override;

   private:
    CTavlenDlg &dialog_;
  };

  void OnUpgrade();
  void OnUpgradeProgress(std::intptr_t wParam, std::intptr_t lParam);
  void ApplyButtons(bool back, bool close, bool upgrade);
  void FillDeviceList();
  HBRUSH PageBrush(HDC dc, HWND control);
  void ReleaseAdapter();
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
  HBRUSH whiteBrush_ = nullptr, pageBrush_ = nullptr;
  HICON icon_ = nullptr;

  int adapterCount_ = 0;
  std::string imagePath_;
  std::atomic<HWND> progressWindow_{nullptr};
  std::atomic<bool> upgradeEnabled_{true};
  std::atomic<int> rebootToken_{0};
  // Set while the transfer or the reboot wait runs: the dialog may not close under them.
  std::atomic<int> workersRunning_{0};
};

}  // namespace upgrade
