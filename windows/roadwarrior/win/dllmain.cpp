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

int rwConnStart(HWND window, const char *ini_path, const char *local_ip, const char *gateway,
                const char *user, const char *password, int port, char dns_flag) {
  return library().conn_start({window, ini_path, local_ip, gateway, user, password, port, dns_flag});
}

int rwConnStop(HWND window, const char *ini_path, const char *local_ip, const char *gateway, const char *user,
               const char *password, int port, char dns_flag) {
  return library().conn_stop({window, ini_path, local_ip, gateway, user, password, port, dns_flag});
}

int rwResetNetwork(HWND window, const char *ini_path, const char *local_ip, char dns_flag) {
  return library().reset_network(window, ini_path, local_ip, dns_flag);
}

int rwPwSet(HWND window, const char *ini_path, const char *gateway, const char *user, const char *password,
            const char *new_password, int port) {
  return library().pw_set({window, ini_path, gateway, user, password, new_password, port});
}

int rwRequestIsakmp(HWND, const char *ini_path, const char *local_ip, const char *gateway, const char *user,
                    const char *password, int port) {
  return library().request_isakmp({nullptr, ini_path, local_ip, gateway, user, password, port, 0});
}

}  // extern "C"
