// dravik.dll: the rw* exports. Each runs on its caller's thread, one at a time; progress texts are set
// on the caller's window with SetWindowText, so a caller must not block that window's thread while an
// export runs on another thread.

#include <windows.h>

#include "road_warrior.h"
#include "win_platform.h"

namespace {

dravik::RoadWarrior &library() {
  static dravik::WinPlatform platform;
  static dravik::RoadWarrior rw(platform, dravik::StatusLog::instance("Log.txt"));
  return rw;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    dravik::StatusLog::instance("Log.txt");
  }
  return TRUE;
}

int rwConnStart(HWND window, const char *iniPath, const char *localIp, const char *gateway, const char *user,
                const char *password, int port, char dnsFlag) {
  return library().connStart({window, iniPath, localIp, gateway, user, password, port, dnsFlag});
}

int rwConnStop(HWND window, const char *iniPath, const char *localIp, const char *gateway, const char *user,
               const char *password, int port, char dnsFlag) {
  return library().connStop({window, iniPath, localIp, gateway, user, password, port, dnsFlag});
}

int rwResetNetwork(HWND window, const char *iniPath, const char *localIp, char dnsFlag) {
  return library().resetNetwork(window, iniPath, localIp, dnsFlag);
}

int rwPwSet(HWND window, const char *iniPath, const char *gateway, const char *user, const char *password,
            const char *newPassword, int port) {
  return library().pwSet({window, iniPath, gateway, user, password, newPassword, port});
}

int rwRequestIsakmp(HWND, const char *iniPath, const char *localIp, const char *gateway, const char *user,
                    const char *password, int port) {
  return library().requestIsakmp({nullptr, iniPath, localIp, gateway, user, password, port, 0});
}

}  // extern "C"
