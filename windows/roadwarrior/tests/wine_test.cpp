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

std::string windowsPath(std::string unixPath) {
  for (char &c : unixPath)
    if (c == '/') c = '\\';
  return "Z:" + unixPath;
}

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

bool exists(const std::string &path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::optional<std::string> regString(const std::string &key, const char *name) {
  char data[1024] = {};
  DWORD size = sizeof data - 1;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  return std::string(data);
}

void regSet(const std::string &key, const char *name, DWORD type, const std::string &data) {
  HKEY h;
  ASSERT_EQ(
      RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
      0);
  RegSetValueExA(h, name, 0, type, reinterpret_cast<const BYTE *>(data.data()),
                 static_cast<DWORD>(data.size() + 1));
  RegCloseKey(h);
}

// Directories that ended programs used as their current one can stay busy for a moment under wine.
void removeTree(const std::string &path) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    std::error_code error;
    std::filesystem::remove_all(path, error);
    if (!error && !exists(path)) return;
    Sleep(100);
  }
}

std::vector<std::string> windowTexts;
WNDPROC staticProc = nullptr;

LRESULT CALLBACK recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETTEXT && lParam) windowTexts.emplace_back(reinterpret_cast<const char *>(lParam));
  return CallWindowProcA(staticProc, window, message, wParam, lParam);
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
  ExportPw pwSet = nullptr;
  ExportIsakmp isakmp = nullptr;

  static Library &get() {
    static Library lib = [] {
      Library l;
      l.module = LoadLibraryA("dravik.dll");
      if (!l.module) return l;
      l.start = exported<ExportConn>(l.module, "rwConnStart");
      l.stop = exported<ExportConn>(l.module, "rwConnStop");
      l.reset = exported<ExportReset>(l.module, "rwResetNetwork");
      l.pwSet = exported<ExportPw>(l.module, "rwPwSet");
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
    gwDir = base + "/gw";
    for (const std::string &d : {base, work, gwDir})
      ASSERT_TRUE(CreateDirectoryA(windowsPath(d).c_str(), nullptr));
    workWin = windowsPath(work);
    for (const char *tool : {"wget.exe", "tarnwick.exe", "ipsec.exe", "ipconfig.exe"}) installTool(tool);
    iniPath = windowsPath(base + "/rw.ini");
    writeFile(iniPath, "[RoadWarrior]\r\nworkingDir=" + workWin + "\r\n");
    SetEnvironmentVariableA("RW_TOOL_JOURNAL", (workWin + "\\journal.txt").c_str());

    localIp = "10.77." + std::to_string(counter % 250) + ".20";
    ifaceKey = kInterfaces + "\\{DRAVIK-" + tag + "}";
    decoyKey = kInterfaces + "\\{DRAVIK-" + tag + "-decoy}";
    regSet(decoyKey, "IPAddress", REG_MULTI_SZ, localIp + "0" + std::string(1, '\0'));  // 10.77.n.200
    regSet(decoyKey, "NameServer", REG_SZ, "10.0.0.1,10.8.0.53");
    regSet(ifaceKey, "IPAddress", REG_MULTI_SZ, localIp + std::string(1, '\0'));
    regSet(ifaceKey, "NameServer", REG_SZ, "10.0.0.1");

    lib = &Library::get();
    ASSERT_NE(lib->module, nullptr) << "dravik.dll did not load";
    window = CreateWindowA("STATIC", "client", WS_OVERLAPPEDWINDOW, 0, 0, 200, 50, nullptr, nullptr, nullptr,
                           nullptr);
    ASSERT_NE(window, nullptr) << "no window (is DISPLAY set?)";
    staticProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&recordingProc)));
    windowTexts.clear();
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, cwd);
    callerDir = cwd;
  }

  void TearDown() override {
    if (gatewayStarted) writeFile(windowsPath(gwDir + "/stop"), "");
    if (window) DestroyWindow(window);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, ifaceKey.c_str());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, decoyKey.c_str());
    SetCurrentDirectoryA(callerDir.c_str());
    if (!HasFailure()) removeTree(windowsPath(base));  // a failed run's files stay for a look
  }

  void installTool(const char *name) {
    ASSERT_TRUE(CopyFileA(windowsPath(std::string(RW_TOOLS_DIR "/") + name).c_str(),
                          (workWin + "\\" + name).c_str(), FALSE))
        << name;
  }

  // Starts the gateway (a Linux program: wine runs it directly) and waits for its port.
  void startGateway(const std::string &script) {
    writeFile(windowsPath(gwDir + "/script.json"), script);
    std::string line = std::string(RW_PYTHON3) + " " + RW_GATEWAY_SCRIPT + " " + gwDir + " --lifetime 300";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    gatewayStarted = true;
    for (int i = 0; i < 300 && !exists(windowsPath(gwDir + "/port")); ++i) Sleep(100);
    port = std::atoi(readFile(windowsPath(gwDir + "/port")).c_str());
    ASSERT_GT(port, 0) << "the gateway did not start (python3 and openssl needed)";
  }

  std::string workFile(const std::string &name) const { return readFile(workWin + "\\" + name); }
  std::string requests() const { return readFile(windowsPath(gwDir + "/requests.jsonl")); }
  std::string currentDir() const {
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, cwd);
    return cwd;
  }

  int connStart(const char *password = "p@ss w0rd", char dnsFlag = 1) {
    return lib->start(window, iniPath.c_str(), localIp.c_str(), "127.0.0.1", "alice", password, port,
                      dnsFlag);
  }

  std::string base, work, workWin, gwDir, iniPath, localIp, ifaceKey, decoyKey, callerDir;
  bool gatewayStarted = false;
  int port = 0;
  HWND window = nullptr;
  Library *lib = nullptr;
};

const char *kScript = R"({"user": "alice", "password": "p@ss w0rd",
  "/StartConnection.htm": [{"status": 200, "body": "version=1\nmsgtype=config\nstatus=0\nmessage=welcome\npresharedkey=psk123\nrightsubnet=10.8.0.0/16\ndnsserver=10.8.0.53\ndnsserver2=10.8.0.54\ndomain=corp.example\n"}],
  "/CheckIsakmp.htm": [{"status": 200, "body": "isakmp=established\n"}],
  "/ChangePasswd.htm": [{"status": 200, "body": "version=1\nmsgtype=status\nstatus=0\nmessage=Changed\n"}],
  "/StopConnection.htm": [{"status": 200, "body": "version=1\nmsgtype=status\nstatus=0\nmessage=Disconnected\n"}]})";

TEST_F(WineRoadWarrior, ConnectCheckChangePasswordAndDisconnect) {
  startGateway(kScript);
  std::string caller = currentDir();

  ASSERT_EQ(connStart(), 0) << workFile("status.conf");
  EXPECT_EQ(workFile("ipsec.conf"),
            "conn HostToRemote\r\n\tleft=%any\r\n\tright=127.0.0.1\r\n\trightsubnet=10.8.0.0/16\r\n"
            "\tpresharedkey=psk123\r\n\tauto=start\r\n\tpfs=yes\r\n");
  EXPECT_EQ(workFile("ipsec_state.txt"), "on\nright=127.0.0.1\nrightsubnet=10.8.0.0/16\n");
  EXPECT_EQ(regString(ifaceKey, "NameServer"), "10.0.0.1,10.8.0.54,10.8.0.53");
  EXPECT_EQ(regString(ifaceKey, "OldNameServer"), "10.0.0.1");
  EXPECT_EQ(regString(decoyKey, "NameServer"), "10.0.0.1,10.8.0.53");
  EXPECT_NE(regString(kParameters, "SearchList").value_or("").find("corp.example"), std::string::npos);
  EXPECT_EQ(windowTexts,
            (std::vector<std::string>{"Connecting....", "Provisioning....", "Activating Policy...."}));
  EXPECT_EQ(currentDir(), caller);
  EXPECT_NE(workFile("Log.txt").find("[STATUS]Remote gateway was reached by https ...\r\n"),
            std::string::npos);
  std::string seen = requests();
  EXPECT_NE(seen.find("\"query\": \"version=1?IP=" + localIp +
                      "?PASSWD=p%40ss%20w0rd?USER=alice\", \"user\": "
                      "\"alice\", \"password\": \"p@ss w0rd\", \"status\": 200"),
            std::string::npos)
      << seen;
  std::string journal = workFile("journal.txt");
  EXPECT_NE(journal.find("ipconfig|/flushdns\nipconfig|/registerdns"), std::string::npos) << journal;
  EXPECT_NE(journal.find("tarnwick|NAMESERVER|EDIT|10.8.0.54|" + localIp), std::string::npos) << journal;

  EXPECT_EQ(lib->isakmp(window, iniPath.c_str(), localIp.c_str(), "127.0.0.1", "alice", "p@ss w0rd", port),
            0);
  EXPECT_EQ(workFile("isakmp_status.conf"), "isakmp=established\n");

  windowTexts.clear();
  SetCurrentDirectoryA(workWin.c_str());  // a caller that works from the work directory
  EXPECT_EQ(lib->pwSet(window, iniPath.c_str(), "127.0.0.1", "alice", "p@ss w0rd", "n3w?pw", port), 0);
  EXPECT_EQ(workFile("status.conf"), "rwPwSet message=Changed\r\n");
  EXPECT_EQ(windowTexts.back(), "Password Change Successful....");
  EXPECT_NE(requests().find("version=1?PASSWORD=n3w%3Fpw?PASSWD="), std::string::npos);
  SetCurrentDirectoryA(caller.c_str());

  EXPECT_EQ(lib->stop(window, iniPath.c_str(), localIp.c_str(), "127.0.0.1", "alice", "p@ss w0rd", port, 1),
            0);
  EXPECT_EQ(workFile("ipsec_state.txt"), "off\n");
  EXPECT_EQ(regString(ifaceKey, "NameServer"), "10.0.0.1");
  EXPECT_FALSE(regString(ifaceKey, "OldNameServer"));
  EXPECT_EQ(regString(kParameters, "SearchList").value_or("").find("corp.example"), std::string::npos);
  EXPECT_EQ(workFile("status.conf"), "rwConnStop message=Disconnected\r\n");
  EXPECT_EQ(windowTexts.back(), "Disconnecting from Server....");
}

TEST_F(WineRoadWarrior, WrongPasswordIsHttp401) {
  startGateway(kScript);
  EXPECT_EQ(connStart("wrong"), -37);
  EXPECT_EQ(workFile("status.conf"), "rwConnStart message=HTTP returned status of 401\r\n");
  EXPECT_FALSE(exists(workWin + "\\ipsec.conf"));
}

TEST_F(WineRoadWarrior, IpsecThatCannotStartUndoesTheDnsChanges) {
  startGateway(kScript);
  ASSERT_TRUE(DeleteFileA((workWin + "\\ipsec.exe").c_str()));
  EXPECT_EQ(connStart(), -13) << workFile("journal.txt");
  EXPECT_EQ(regString(ifaceKey, "NameServer"), "10.0.0.1");
  EXPECT_EQ(regString(kParameters, "SearchList").value_or("").find("corp.example"), std::string::npos);
}

TEST_F(WineRoadWarrior, HostileUserTextReachesTheGatewayUnchangedAndAddsNoOption) {
  startGateway(R"({"user": "bob\" -O evil.txt \"", "password": "p@evil.example:80/ ?x#",
      "/StartConnection.htm": [{"status": 200, "body": "version=1\nmsgtype=status\nstatus=4\nmessage=Seen\n"}]})");
  EXPECT_EQ(lib->start(window, iniPath.c_str(), localIp.c_str(), "127.0.0.1", "bob\" -O evil.txt \"",
                       "p@evil.example:80/ ?x#", port, 1),
            4);
  EXPECT_EQ(workFile("status.conf"), "rwConnStart message=Seen\r\n");
  std::string journal = workFile("journal.txt");
  EXPECT_EQ(journal.find("|=> unrecognized"), std::string::npos) << journal;
  EXPECT_NE(journal.find("|https://127.0.0.1:" + std::to_string(port) + "/StartConnection.htm|=> exit 0"),
            std::string::npos)
      << journal;
  EXPECT_FALSE(exists(workWin + "\\evil.txt"));
}

TEST_F(WineRoadWarrior, AnEarlierReplyIsNotTakenWhenWgetCannotRun) {
  DeleteFileA((workWin + "\\wget.exe").c_str());
  writeFile(workWin + "\\vpnserver.conf",
            "version=1\nmsgtype=config\npresharedkey=k\nrightsubnet=10.8.0.0/16\n");
  EXPECT_EQ(connStart(), -11);
  EXPECT_EQ(workFile("status.conf"), "rwConnStart message=wget command did not execute properly\r\n");
  EXPECT_FALSE(exists(workWin + "\\ipsec_state.txt"));
}

TEST_F(WineRoadWarrior, UnreachableGatewayIsNoValidReply) {
  port = 1;  // nothing listens there
  EXPECT_EQ(connStart(), -5);
  EXPECT_EQ(workFile("status.conf"),
            "rwConnStart message=All 1 wget requests did not return a valid vpnserver.conf\r\n");
  EXPECT_EQ(lib->isakmp(window, iniPath.c_str(), localIp.c_str(), "127.0.0.1", "alice", "pw", port), -1);
}

TEST_F(WineRoadWarrior, SlowIsakmpAnswerIsGivenUpAfterTenSecondsAndTheNextMayStart) {
  startGateway(R"({"/CheckIsakmp.htm": [{"status": 200, "body": "late\n", "delay": 20},
                                           {"status": 200, "body": "isakmp=established\n"}]})");
  auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(lib->isakmp(window, iniPath.c_str(), localIp.c_str(), "127.0.0.1", "alice", "pw", port), -1);
  auto took = std::chrono::steady_clock::now() - began;
  EXPECT_LT(took, std::chrono::seconds(15));
  EXPECT_EQ(lib->isakmp(window, iniPath.c_str(), localIp.c_str(), "127.0.0.1", "alice", "pw", port), 0);
  EXPECT_EQ(workFile("isakmp_status.conf"), "isakmp=established\n");
}

}  // namespace
