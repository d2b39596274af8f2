// Helpers of the tests that run under wine: folders under /tmp reached through drive Z:, and the
// native router peer started from the host build.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace upgrade {

// What the display shows over the window's title strip (the top band of its client area, kept clear
// of rounded corners) or its middle, when that is not the window itself: "" when a picture taken now
// shows this program alone, otherwise the class and caption of the window found there. The Windows
// tests' programs share one wine session, whose stacking the display follows.
inline std::string window_over_title_strip(HWND window) {
  RECT client;
  if (window == nullptr || !GetClientRect(window, &client) || client.right <= 0 || client.bottom <= 0)
    return "(no window)";
  const int width = static_cast<int>(client.right), height = static_cast<int>(client.bottom);
  constexpr int kSamples = 10;
  const int strip_y = std::min(24, height / 2);
  const int first_x = width / 10, last_x = width - width / 10;
  std::vector<POINT> points = {{width / 2, height / 2}};
  for (int i = 0; i < kSamples; ++i)
    points.push_back({first_x + (last_x - first_x) * i / (kSamples - 1), strip_y});
  const HWND root = GetAncestor(window, GA_ROOT);
  for (POINT point : points) {
    ClientToScreen(window, &point);
    const HWND shown = WindowFromPoint(point);
    const HWND shown_root = shown != nullptr ? GetAncestor(shown, GA_ROOT) : nullptr;
    if (shown_root == root) continue;
    char kind[64] = {}, caption[128] = {};
    if (shown_root != nullptr) {
      GetClassNameA(shown_root, kind, sizeof kind);
      GetWindowTextA(shown_root, caption, sizeof caption);
    }
    return std::string(kind) + " \"" + caption + "\" at " + std::to_string(point.x) + "," +
           std::to_string(point.y);
  }
  return "";
}

inline std::string env(const char *name) {
  char value[4096];
  DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

// A folder under /tmp, reached from Windows through drive Z:.
class UnixTempDir {
 public:
  UnixTempDir() {
    static int counter = 0;
    unix_ = "/tmp/rt-upgrade-wine-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(GetTickCount()) + "-" + std::to_string(++counter);
    CreateDirectoryA(windows("").c_str(), nullptr);
  }
  ~UnixTempDir() {
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA(windows("*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
      do DeleteFileA(windows(found.cFileName).c_str());
      while (FindNextFileA(h, &found));
      FindClose(h);
    }
    RemoveDirectoryA(windows("").c_str());
  }
  std::string unix(const std::string &name) const { return unix_ + "/" + name; }
  std::string windows(const std::string &name) const {
    std::string path = "Z:" + unix_ + "\\" + name;
    for (char &c : path)
      if (c == '/') c = '\\';
    return path;
  }

 private:
  std::string unix_;
};

inline std::vector<std::uint8_t> read_all(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline bool file_exists(const std::string &path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The native router peer, started through wine from the host build's bin folder. Wine cannot wait for
// a Unix process, so the peer reports its port through a file and leaves on a "quit" datagram.
class RouterPeerProcess {
 public:
  RouterPeerProcess(const UnixTempDir &dir, const std::string &options) : dir_(dir) {
    WSADATA wsa;
    winsock_ = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
    std::string bin_dir = env("RT_HOST_BIN_DIR");
    std::string command = bin_dir + "/upgrade_router_peer --port-file " + dir.unix("port") + " --image-out " +
                          dir.unix("received.bin") + " --lifetime 300 " + options;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    started_ = !bin_dir.empty() && CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0,
                                                  nullptr, nullptr, &si, &pi);
    if (started_) {
      CloseHandle(pi.hThread);
      CloseHandle(pi.hProcess);
    }
    for (int i = 0; started_ && i < 200 && port_ == 0; ++i) {
      std::ifstream in(dir.windows("port"));
      if (!(in >> port_)) Sleep(50);
    }
  }
  ~RouterPeerProcess() {
    if (port_ != 0) send_quit();
    if (winsock_) WSACleanup();
  }
  void send_quit() const {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<u_short>(port_));
    sendto(s, "quit", 4, 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    closesocket(s);
  }
  bool ready() const { return port_ != 0; }
  int port() const { return port_; }

  // Waits for the peer's record of the end request; the image it kept when it accepted one.
  bool wait_for_end(int &status) const {
    for (int i = 0; i < 100; ++i) {
      std::ifstream in(dir_.windows("received.bin.end"));
      if (in >> status) return true;
      Sleep(50);
    }
    return false;
  }
  std::vector<std::uint8_t> received_image() const { return read_all(dir_.windows("received.bin")); }

 private:
  const UnixTempDir &dir_;
  bool winsock_ = false;
  bool started_ = false;
  int port_ = 0;
};

// A pseudo-random image with a header carrying version 0x1105 at byte 256.
inline std::vector<std::uint8_t> make_image(std::size_t size) {
  std::vector<std::uint8_t> image(size);
  std::uint32_t x = 12345;
  for (auto &b : image) {
    x = x * 1103515245 + 12345;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  std::memcpy(&image[256], "vAnTrOs", 7);
  std::memcpy(&image[256 + 63], "vAnTrOs", 7);
  image[256 + 7 + 50] = 0x11;
  image[256 + 7 + 51] = 0x05;
  return image;
}

}  // namespace upgrade
