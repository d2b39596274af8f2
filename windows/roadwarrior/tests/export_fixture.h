#pragma once
// Common set-up of the export tests: a caller directory, a work directory with rw.ini, the fake
// platform with one interface in its registry, and the library object under test.

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "result_codes.h"
#include "road_warrior.h"

namespace dravik::testing {

inline const std::string kProvisioning =
    "version=1\nmsgtype=config\nstatus=0\nmessage=welcome\npresharedkey=psk123\n"
    "rightsubnet=10.8.0.0/16\ndnsserver=10.8.0.53\ndnsserver2=10.8.0.54\ndomain=corp.example\n";

class ExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::current_path(caller.dir);
    platform.reg.add_interface("{IF-1}", {"192.168.1.20"}, "", "10.0.0.1,10.8.0.53,10.8.0.54");
  }

  ConnectionArgs conn(char dns_flag = 1) {
    ini_text = work.ini_path.string();
    return {window, ini_text.c_str(), "192.168.1.20", "gw.example", "alice", "pw1", 0, dns_flag};
  }
  PasswordArgs pw() {
    ini_text = work.ini_path.string();
    return {window, ini_text.c_str(), "gw.example", "alice", "pw1", "pw2", 8443};
  }
  std::string cwd() const { return std::filesystem::current_path().string(); }
  std::string status_conf() const { return work.read("status.conf"); }
  // Arguments of the nth run of a program.
  std::vector<std::string> argv_of(const std::string &program, std::size_t n = 0) {
    auto runs = platform.runs_of(program);
    return n < runs.size() ? runs[n].argv : std::vector<std::string>{};
  }
  std::string url_of(std::size_t n = 0) {
    auto runs = platform.runs_of("wget.exe");
    return n < runs.size() ? runs[n].argv.back() : std::string();
  }

  WorkArea caller;
  WorkArea work;
  FakePlatform platform;
  StatusLog log{"Log.txt"};
  RoadWarrior rw{platform, &log};
  void *window = reinterpret_cast<void *>(0x1234);
  std::string ini_text;
};

}  // namespace dravik::testing
