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
    platform.reg.addInterface("{IF-1}", {"192.168.1.20"}, "", "10.0.0.1,10.8.0.53,10.8.0.54");
  }

  ConnectionArgs conn(char dnsFlag = 1) {
    iniText = work.iniPath.string();
    return {window, iniText.c_str(), "192.168.1.20", "gw.example", "alice", "pw1", 0, dnsFlag};
  }
  PasswordArgs pw() {
    iniText = work.iniPath.string();
    return {window, iniText.c_str(), "gw.example", "alice", "pw1", "pw2", 8443};
  }
  std::string cwd() const { return std::filesystem::current_path().string(); }
  std::string statusConf() const { return work.read("status.conf"); }
  // Arguments of the nth run of a program.
  std::vector<std::string> argvOf(const std::string &program, std::size_t n = 0) {
    auto runs = platform.runsOf(program);
    return n < runs.size() ? runs[n].argv : std::vector<std::string>{};
  }
  std::string urlOf(std::size_t n = 0) {
    auto runs = platform.runsOf("wget.exe");
    return n < runs.size() ? runs[n].argv.back() : std::string();
  }

  WorkArea caller;
  WorkArea work;
  FakePlatform platform;
  StatusLog log{"Log.txt"};
  RoadWarrior rw{platform, &log};
  void *window = reinterpret_cast<void *>(0x1234);
  std::string iniText;
};

}  // namespace dravik::testing
