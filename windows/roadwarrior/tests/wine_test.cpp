// End-to-end under wine: this program is the VPN client. It loads dravik.dll, gives it a window, and
// drives it against the test gateway (HTTPS on loopback, started here) through the stand-in tools; then
// it checks the files in the work directory, the registry, the window texts and what the gateway saw.

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using ExportConn = int (*)(HWND, const char *, const char *, const char *, const char *, const char *, int,
                           char);
using ExportReset = int (*)(HWND, const char *, const char *, char);
using ExportPw = int (*)(HWND, const char *, const char *, const char *, const char *, const char *, int);
using ExportIsakmp = int (*)(HWND, const char *, const char *, const char *, const char *, const char *, int);

const std::string kInterfaces = "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces";
const std::string kParameters = "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters";

std::string windows_path(std::string unix_path) {
  for (char &c : unix_path)
    if (c == '/') c = '\\';
  return "Z:" + unix_path;
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

bool exists(const std::string &path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::optional<std::string> reg_string(const std::string &key, const char *name) {
  char data[1024] = {};
  DWORD size = sizeof data - 1;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  return std::string(data);
}

void reg_set(const std::string &key, const char *name, DWORD type, const std::string &data) {
  HKEY h;
  ASSERT_EQ(
      RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
      0);
  RegSetValueExA(h, name, 0, type, reinterpret_cast<const BYTE *>(data.data()),
                 static_cast<DWORD>(data.size() + 1));
  RegCloseKey(h);
}

// Directories that ended programs used as their current one can stay busy for a moment under wine.
void remove_tree(const std::string &path) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    std::error_code error;
    std::filesystem::remove_all(path, error);
    if (!error && !exists(path)) return;
    Sleep(100);
  }
}

std::vector<std::string> window_texts;
WNDPROC static_proc = nullptr;

LRESULT CALLBACK recording_proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETTEXT && lParam) window_texts.emplace_back(reinterpret_cast<const char *>(lParam));
  return CallWindowProcA(static_proc, window, message, wParam, lParam);
}

// Through void*: the exports' types differ from FARPROC's on purpose.
template <class Function>
Function exported(HMODULE module, const char *name) {
  return reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

struct Library {
  HMODULE module = nullptr;
  ExportConn start = nullptr, stop = nullptr;
  ExportReset reset = nullptr;
  ExportPw pw_set = nullptr;
  ExportIsakmp isakmp = nullptr;

  static Library &get() {
    static Library lib = [] {
      Library l;
      l.module = LoadLibraryA("dravik.dll");
      if (!l.module) return l;
      l.start = exported<ExportConn>(l.module, "rwConnStart");
      l.stop = exported<ExportConn>(l.module, "rwConnStop");
      l.reset = exported<ExportReset>(l.module, "rwResetNetwork");
      l.pw_set = exported<ExportPw>(l.module, "rwPwSet");
      l.isakmp = exported<ExportIsakmp>(l.module, "rwRequestIsakmp");
      return l;
    }();
    return lib;
  }
};

class WineRoadWarrior : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    ++counter;
    std::string tag = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount64()) + "-" +
                      std::to_string(counter);
    base = "/tmp/dravik-wine-" + tag;
    work = base + "/work dir";  // a blank in the path: every command line must still hold together
    gw_dir = base + "/gw";
    for (const std::string &d : {base, work, gw_dir})
      ASSERT_TRUE(CreateDirectoryA(windows_path(d).c_str(), nullptr));
    work_win = windows_path(work);
    for (const char *tool : {"wget.exe", "tarnwick.exe", "ipsec.exe", "ipconfig.exe"}) install_tool(tool);
    ini_path = windows_path(base + "/rw.ini");
    write_file(ini_path, "[RoadWarrior]\r\nworkingDir=" + work_win + "\r\n");
    SetEnvironmentVariableA("RW_TOOL_JOURNAL", (work_win + "\\journal.txt").c_str());

    local_ip = "10.77." + std::to_string(counter % 250) + ".20";
    iface_key = kInterfaces + "\\{DRAVIK-" + tag + "}";
    decoy_key = kInterfaces + "\\{DRAVIK-" + tag + "-decoy}";
    reg_set(decoy_key, "IPAddress", REG_MULTI_SZ, local_ip + "0" + std::string(1, '\0'));  // 10.77.n.200
    reg_set(decoy_key, "NameServer", REG_SZ, "10.0.0.1,10.8.0.53");
    reg_set(iface_key, "IPAddress", REG_MULTI_SZ, local_ip + std::string(1, '\0'));
    reg_set(iface_key, "NameServer", REG_SZ, "10.0.0.1");

    lib = &Library::get();
    ASSERT_NE(lib->module, nullptr) << "dravik.dll did not load";
    window = CreateWindowA("STATIC", "client", WS_OVERLAPPEDWINDOW, 0, 0, 200, 50, nullptr, nullptr, nullptr,
                           nullptr);
    ASSERT_NE(window, nullptr) << "no window (is DISPLAY set?)";
    static_proc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&recording_proc)));
    window_texts.clear();
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, cwd);
    caller_dir = cwd;
  }

  void TearDown() override {
    if (gateway_started) write_file(windows_path(gw_dir + "/stop"), "");
    if (window) DestroyWindow(window);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, iface_key.c_str());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, decoy_key.c_str());
    SetCurrentDirectoryA(caller_dir.c_str());
    if (!HasFailure()) remove_tree(windows_path(base));  // a failed run's files stay for a look
  }

  void install_tool(const char *name) {
    ASSERT_TRUE(CopyFileA(windows_path(std::string(RW_TOOLS_DIR "/") + name).c_str(),
                          (work_win + "\\" + name).c_str(), FALSE))
        << name;
  }
  // Puts the tool that never ends where the client finds `name`.
  void install_hung_tool(const char *name) {
    ASSERT_TRUE(CopyFileA(windows_path(RW_TOOLS_DIR "/hung_tool.exe").c_str(),
                          (work_win + "\\" + name).c_str(), FALSE))
        << name;
  }

  // Starts the gateway (a Linux program: wine runs it directly) and waits for its port.
  void start_gateway(const std::string &script) {
    write_file(windows_path(gw_dir + "/script.json"), script);
    std::string line = std::string(RW_PYTHON3) + " " + RW_GATEWAY_SCRIPT + " " + gw_dir + " --lifetime 300";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    gateway_started = true;
    for (int i = 0; i < 300 && !exists(windows_path(gw_dir + "/port")); ++i) Sleep(100);
    port = std::atoi(read_file(windows_path(gw_dir + "/port")).c_str());
    ASSERT_GT(port, 0) << "the gateway did not start (python3 and openssl needed)";
  }

  std::string work_file(const std::string &name) const { return read_file(work_win + "\\" + name); }
  std::string requests() const { return read_file(windows_path(gw_dir + "/requests.jsonl")); }
  std::string current_dir() const {
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, cwd);
    return cwd;
  }

  int conn_start(const char *password = "p@ss w0rd", char dns_flag = 1) {
    return lib->start(window, ini_path.c_str(), local_ip.c_str(), "127.0.0.1", "alice", password, port,
                      dns_flag);
  }

  std::string base, work, work_win, gw_dir, ini_path, local_ip, iface_key, decoy_key, caller_dir;
  bool gateway_started = false;
  int port = 0;
  HWND window = nullptr;
  Library *lib = nullptr;
};

constexpr const char *kScript = R"({"user": "alice", "password": "p@ss w0rd",
  "/StartConnection.htm": [{"status": 200, "body": "version=1\nmsgtype=config\nstatus=0\nmessage=welcome\npresharedkey=psk123\nrightsubnet=10.8.0.0/16\ndnsserver=10.8.0.53\ndnsserver2=10.8.0.54\ndomain=corp.example\n"}],
  "/CheckIsakmp.htm": [{"status": 200, "body": "isakmp=established\n"}],
  "/ChangePasswd.htm": [{"status": 200, "body": "version=1\nmsgtype=status\nstatus=0\nmessage=Changed\n"}],
  "/StopConnection.htm": [{"status": 200, "body": "version=1\nmsgtype=status\nstatus=0\nmessage=Disconnected\n"}]})";

TEST_F(WineRoadWarrior, ConnectCheckChangePasswordAndDisconnect) {
  start_gateway(kScript);
  std::string caller = current_dir();

  ASSERT_EQ(conn_start(), 0) << work_file("status.conf");
  EXPECT_EQ(work_file("ipsec.conf"),
            "conn HostToRemote\r\n\tleft=%any\r\n\tright=127.0.0.1\r\n\trightsubnet=10.8.0.0/16\r\n"
            "\tpresharedkey=psk123\r\n\tauto=start\r\n\tpfs=yes\r\n");
  EXPECT_EQ(work_file("ipsec_state.txt"), "on\nright=127.0.0.1\nrightsubnet=10.8.0.0/16\n");
  EXPECT_EQ(reg_string(iface_key, "NameServer"), "10.0.0.1,10.8.0.54,10.8.0.53");
  EXPECT_EQ(reg_string(iface_key, "OldNameServer"), "10.0.0.1");
  EXPECT_EQ(reg_string(decoy_key, "NameServer"), "10.0.0.1,10.8.0.53");
  EXPECT_NE(reg_string(kParameters, "SearchList").value_or("").find("corp.example"), std::string::npos);
  EXPECT_EQ(window_texts,
            (std::vector<std::string>{"Connecting....", "Provisioning....", "Activating Policy...."}));
  EXPECT_EQ(current_dir(), caller);
  EXPECT_NE(work_file("Log.txt").find("[STATUS]Remote gateway was reached by https ...\r\n"),
            std::string::npos);
  std::string seen = requests();
  EXPECT_NE(seen.find("\"query\": \"version=1?IP=" + local_ip +
                      "?PASSWD=p%40ss%20w0rd?USER=alice\", \"user\": "
                      "\"alice\", \"password\": \"p@ss w0rd\", \"status\": 200"),
            std::string::npos)
      << seen;
  std::string journal = work_file("journal.txt");
  EXPECT_NE(journal.find("ipconfig|/flushdns\nipconfig|/registerdns"), std::string::npos) << journal;
  EXPECT_NE(journal.find("tarnwick|NAMESERVER|EDIT|10.8.0.54|" + local_ip), std::string::npos) << journal;

  EXPECT_EQ(lib->isakmp(window, ini_path.c_str(), local_ip.c_str(), "127.0.0.1", "alice", "p@ss w0rd", port),
            0);
  EXPECT_EQ(work_file("isakmp_status.conf"), "isakmp=established\n");

  window_texts.clear();
  SetCurrentDirectoryA(work_win.c_str());  // a caller that works from the work directory
  EXPECT_EQ(lib->pw_set(window, ini_path.c_str(), "127.0.0.1", "alice", "p@ss w0rd", "n3w?pw", port), 0);
  EXPECT_EQ(work_file("status.conf"), "rwPwSet message=Changed\r\n");
  EXPECT_EQ(window_texts.back(), "Password Change Successful....");
  EXPECT_NE(requests().find("version=1?PASSWORD=n3w%3Fpw?PASSWD="), std::string::npos);
  SetCurrentDirectoryA(caller.c_str());

  EXPECT_EQ(lib->stop(window, ini_path.c_str(), local_ip.c_str(), "127.0.0.1", "alice", "p@ss w0rd", port, 1),
            0);
  EXPECT_EQ(work_file("ipsec_state.txt"), "off\n");
  EXPECT_EQ(reg_string(iface_key, "NameServer"), "10.0.0.1");
  EXPECT_FALSE(reg_string(iface_key, "OldNameServer"));
  EXPECT_EQ(reg_string(kParameters, "SearchList").value_or("").find("corp.example"), std::string::npos);
  EXPECT_EQ(work_file("status.conf"), "rwConnStop message=Disconnected\r\n");
  EXPECT_EQ(window_texts.back(), "Disconnecting from Server....");
}

TEST_F(WineRoadWarrior, WrongPasswordIsHttp401) {
  start_gateway(kScript);
  EXPECT_EQ(conn_start("wrong"), -37);
  EXPECT_EQ(work_file("status.conf"), "rwConnStart message=HTTP returned status of 401\r\n");
  EXPECT_FALSE(exists(work_win + "\\ipsec.conf"));
}

TEST_F(WineRoadWarrior, IpsecThatCannotStartUndoesTheDnsChanges) {
  start_gateway(kScript);
  ASSERT_TRUE(DeleteFileA((work_win + "\\ipsec.exe").c_str()));
  EXPECT_EQ(conn_start(), -13) << work_file("journal.txt");
  EXPECT_EQ(reg_string(iface_key, "NameServer"), "10.0.0.1");
  EXPECT_EQ(reg_string(kParameters, "SearchList").value_or("").find("corp.example"), std::string::npos);
}

TEST_F(WineRoadWarrior, HostileUserTextReachesTheGatewayUnchangedAndAddsNoOption) {
  start_gateway(R"({"user": "bob\" -O evil.txt \"", "password": "p@evil.example:80/ ?x#",
      "/StartConnection.htm": [{"status": 200, "body": "version=1\nmsgtype=status\nstatus=4\nmessage=Seen\n"}]})");
  EXPECT_EQ(lib->start(window, ini_path.c_str(), local_ip.c_str(), "127.0.0.1", "bob\" -O evil.txt \"",
                       "p@evil.example:80/ ?x#", port, 1),
            4);
  EXPECT_EQ(work_file("status.conf"), "rwConnStart message=Seen\r\n");
  std::string journal = work_file("journal.txt");
  EXPECT_EQ(journal.find("|=> unrecognized"), std::string::npos) << journal;
  EXPECT_NE(journal.find("|https://127.0.0.1:" + std::to_string(port) + "/StartConnection.htm|=> exit 0"),
            std::string::npos)
      << journal;
  EXPECT_FALSE(exists(work_win + "\\evil.txt"));
}

TEST_F(WineRoadWarrior, AnEarlierReplyIsNotTakenWhenWgetCannotRun) {
  DeleteFileA((work_win + "\\wget.exe").c_str());
  write_file(work_win + "\\vpnserver.conf",
             "version=1\nmsgtype=config\npresharedkey=k\nrightsubnet=10.8.0.0/16\n");
  EXPECT_EQ(conn_start(), -11);
  EXPECT_EQ(work_file("status.conf"), "rwConnStart message=wget command did not execute properly\r\n");
  EXPECT_FALSE(exists(work_win + "\\ipsec_state.txt"));
}

TEST_F(WineRoadWarrior, UnreachableGatewayIsNoValidReply) {
  port = 1;  // nothing listens there
  EXPECT_EQ(conn_start(), -5);
  EXPECT_EQ(work_file("status.conf"),
            "rwConnStart message=All 1 wget requests did not return a valid vpnserver.conf\r\n");
  EXPECT_EQ(lib->isakmp(window, ini_path.c_str(), local_ip.c_str(), "127.0.0.1", "alice", "pw", port), -1);
}

TEST_F(WineRoadWarrior, SlowIsakmpAnswerIsGivenUpAfterTenSecondsAndTheNextMayStart) {
  start_gateway(R"({"/CheckIsakmp.htm": [{"status": 200, "body": "late\n", "delay": 20},
                                           {"status": 200, "body": "isakmp=established\n"}]})");
  auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(lib->isakmp(window, ini_path.c_str(), local_ip.c_str(), "127.0.0.1", "alice", "pw", port), -1);
  auto took = std::chrono::steady_clock::now() - began;
  EXPECT_LT(took, std::chrono::seconds(15));
  EXPECT_EQ(lib->isakmp(window, ini_path.c_str(), local_ip.c_str(), "127.0.0.1", "alice", "pw", port), 0);
  EXPECT_EQ(work_file("isakmp_status.conf"), "isakmp=established\n");
}

// A tool that never ends is ended at its time limit; the call fails as for a tool that cannot start.
using Seconds = std::chrono::duration<double>;
Seconds since(std::chrono::steady_clock::time_point began) {
  return std::chrono::steady_clock::now() - began;
}

TEST_F(WineRoadWarrior, HungTarnwickFailsTheSearchListStepAfterItsLimit) {
  start_gateway(kScript);
  install_hung_tool("tarnwick.exe");
  const auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(conn_start(), -15);
  EXPECT_GE(since(began), Seconds(9));
  EXPECT_LT(since(began), Seconds(60));
  EXPECT_NE(work_file("journal.txt").find("hung|SEARCHLIST|EDIT|corp.example"), std::string::npos);
  EXPECT_FALSE(exists(work_win + "\\ipsec_state.txt"));
}

TEST_F(WineRoadWarrior, HungIpconfigIsEndedAndTheConnectionStands) {
  start_gateway(kScript);
  install_hung_tool("ipconfig.exe");
  const auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(conn_start(), 0);
  EXPECT_GE(since(began), Seconds(19));  // both runs waited for to their limit
  EXPECT_LT(since(began), Seconds(90));
  EXPECT_EQ(work_file("ipsec_state.txt"), "on\nright=127.0.0.1\nrightsubnet=10.8.0.0/16\n");
  const std::string journal = work_file("journal.txt");
  EXPECT_NE(journal.find("hung|/flushdns\nhung|/registerdns"), std::string::npos) << journal;
}

TEST_F(WineRoadWarrior, HungIpsecAtStopIsEndedAndTheGatewayIsStillTold) {
  start_gateway(kScript);
  ASSERT_EQ(conn_start(), 0) << work_file("status.conf");
  install_hung_tool("ipsec.exe");
  const auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(lib->stop(window, ini_path.c_str(), local_ip.c_str(), "127.0.0.1", "alice", "p@ss w0rd", port, 0),
            -13);
  EXPECT_GE(since(began), Seconds(29));
  EXPECT_LT(since(began), Seconds(120));
  EXPECT_NE(work_file("journal.txt").find("hung|-off"), std::string::npos);
  EXPECT_NE(requests().find("StopConnection.htm"), std::string::npos) << requests();
  EXPECT_EQ(work_file("status.conf"), "rwConnStop message=Disconnected\r\n");
}

}  // namespace
