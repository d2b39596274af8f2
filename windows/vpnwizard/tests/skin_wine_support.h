// What the skinned-window tests under wine share: a folder of their own, pictures made on the fly, a
// skin host reading from that folder, and message pumping.
#pragma once

#include <windows.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "win_skin_host.h"

namespace tunmira::testing {

inline std::string env(const char *name) {
  char value[1024];
  DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

// A folder of its own under the system's temporary folder.
class TempDir {
 public:
  TempDir() {
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    path_ = std::string(base) + "tunmira-skin-" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~TempDir() {
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((path_ + "*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
      do DeleteFileA((path_ + found.cFileName).c_str());
      while (FindNextFileA(h, &found));
      FindClose(h);
    }
    RemoveDirectoryA(path_.c_str());
  }
  const std::string &path() const { return path_; }
  void write(const std::string &name, const std::string &bytes) const {
    std::ofstream(path_ + name, std::ios::binary) << bytes;
  }
  std::string read(const std::string &name) const {
    std::ifstream in(path_ + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

 private:
  std::string path_;
};

// A 24-bit picture made of vertical stripes of the given colours, each `stripe` pixels wide.
inline std::string bmp24(int stripe, int height, const std::vector<COLORREF> &colours) {
  int width = stripe * static_cast<int>(colours.size());
  int stride = (width * 3 + 3) & ~3;
  std::string file(54 + static_cast<std::size_t>(stride * height), '\0');
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<char>(v >> (8 * i));
  };
  file[0] = 'B';
  file[1] = 'M';
  put32(2, static_cast<std::uint32_t>(file.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<std::uint32_t>(width));
  put32(22, static_cast<std::uint32_t>(height));
  file[26] = 1;
  file[28] = 24;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      COLORREF c = colours[static_cast<std::size_t>(x / stripe)];
      std::size_t at = 54 + static_cast<std::size_t>(y * stride + x * 3);
      file[at] = static_cast<char>(GetBValue(c));
      file[at + 1] = static_cast<char>(GetGValue(c));
      file[at + 2] = static_cast<char>(GetRValue(c));
    }
  return file;
}

class FolderHost : public Win32SkinHost {
 public:
  explicit FolderHost(std::string folder) : folder_(std::move(folder)) {}
  std::string program_directory() override { return folder_; }

 private:
  std::string folder_;
};

inline void pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

// Pumps messages until `done` holds; a generous limit keeps a broken run from hanging.
template <typename Done>
bool pump_until(Done done) {
  for (int i = 0; i < 1000 && !done(); ++i) {
    pump();
    Sleep(10);
  }
  return done();
}

inline RECT rect_in_parent(HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT *>(&rect), 2);
  return rect;
}

}  // namespace tunmira::testing
