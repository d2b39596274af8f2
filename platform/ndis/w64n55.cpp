// Stand-in for the NDIS protocol library: virtual Ethernet adapters carried over UDP on loopback.
// Every datagram is one whole frame (destination address first, no checksum), sent at least 60 bytes
// long as a real adapter pads it. Receives complete into the caller's packet records from one thread
// per open adapter; closing an adapter drops its pending receives before it returns, so the caller may
// free or re-post them at once.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include "w64n55.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Mac = std::array<std::uint8_t, 6>;

constexpr std::size_t kMaxFrame = 1514;
constexpr std::size_t kMinFrame = 60;
constexpr DWORD kIoPending = 997;
constexpr DWORD kLibraryFailure = 31;

thread_local DWORD g_last_error = 0;

DWORD fail(DWORD code) {
  g_last_error = code;
  return code;
}

struct AdapterConfig {
  std::string guid;  // "{...}", also the adapter name the enumeration hands out
  Mac mac{};
  std::string description;
};

std::string env_text(const char *name) {
  char value[2048];
  DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

std::optional<Mac> parse_mac(const std::string &text) {
  Mac mac{};
  unsigned b[6];
  if (std::sscanf(text.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) != 6) {
    return std::nullopt;
  }
  for (int i = 0; i < 6; ++i) mac[i] = static_cast<std::uint8_t>(b[i]);
  return mac;
}

std::vector<std::string> split(const std::string &text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    std::size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

std::vector<AdapterConfig> configured_adapters(const std::string &list) {
  std::vector<AdapterConfig> adapters;
  for (const std::string &entry : split(list, ';')) {
    auto fields = split(entry, '|');
    if (fields.size() != 3) continue;
    auto mac = parse_mac(fields[1]);
    if (!mac) continue;
    adapters.push_back({fields[0], *mac, fields[2]});
  }
  return adapters;
}

// The Ethernet adapters the IP helper reports, so that device names carry the GUIDs it knows.
std::vector<AdapterConfig> mirrored_adapters() {
  std::vector<AdapterConfig> adapters;
  ULONG size = 0;
  if (GetAdaptersInfo(nullptr, &size) != ERROR_BUFFER_OVERFLOW || size == 0) return adapters;
  std::vector<std::uint8_t> buffer(size);
  auto *info = reinterpret_cast<IP_ADAPTER_INFO *>(buffer.data());
  if (GetAdaptersInfo(info, &size) != NO_ERROR) return adapters;
  for (; info != nullptr; info = info->Next) {
    if (info->Type != MIB_IF_TYPE_ETHERNET || info->AddressLength != 6) continue;
    AdapterConfig a;
    a.guid = info->AdapterName;
    std::copy_n(info->Address, 6, a.mac.begin());
    a.description = info->Description;
    adapters.push_back(a);
  }
  return adapters;
}

std::vector<AdapterConfig> current_adapters() {
  std::string list = env_text("W64N55_ADAPTERS");
  return list.empty() ? mirrored_adapters() : configured_adapters(list);
}

std::optional<AdapterConfig> find_adapter(const char *name, bool by_device_name) {
  if (name == nullptr) return std::nullopt;
  for (const AdapterConfig &a : current_adapters()) {
    std::string key = by_device_name ? "\\DEVICE\\" + a.guid : a.guid;
    if (_stricmp(key.c_str(), name) == 0) return a;
  }
  return std::nullopt;
}

DWORD copy_text(const std::string &text, char *buffer, DWORD *size) {
  if (buffer == nullptr || size == nullptr) return fail(ERROR_INVALID_PARAMETER);
  DWORD needed = static_cast<DWORD>(text.size() + 1);
  if (*size < needed) {
    *size = needed;
    return fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(buffer, text.c_str(), needed);
  *size = needed;
  return 0;
}

struct Enumeration {
  std::vector<AdapterConfig> adapters;
  std::size_t next = 0;
};

struct PendingReceive {
  std::uint8_t *packet;
  DWORD *count;
  OVERLAPPED *overlapped;
};

struct PendingSend {
  DWORD due;
  std::vector<std::uint8_t> frame;
  DWORD *count;
  OVERLAPPED *overlapped;
};

void complete(OVERLAPPED *overlapped, DWORD *count, DWORD length) {
  if (count) *count = length;
  overlapped->Internal = 0;
  overlapped->InternalHigh = length;
  SetEvent(overlapped->hEvent);
}

class VirtualAdapter {
 public:
  VirtualAdapter(AdapterConfig config, SOCKET socket) : config_(std::move(config)), socket_(socket) {
    receiver_ = std::thread([this] { receive_loop(); });
    sender_ = std::thread([this] { complete_sends_loop(); });
  }

  ~VirtualAdapter() {
    stop_ = true;
    send_ready_.notify_all();
    receiver_.join();
    sender_.join();
    closesocket(socket_);
    std::lock_guard lock(mutex_);
    receives_.clear();  // never touched again: the caller may free them once close returned
    for (PendingSend &send : sends_) SetEvent(send.overlapped->hEvent);
    sends_.clear();
    WSACleanup();
  }

  void post_receive(std::uint8_t *packet, DWORD *count, OVERLAPPED *overlapped) {
    std::lock_guard lock(mutex_);
    receives_.push_back({packet, count, overlapped});
  }

  BOOL send(const BYTE *frame, DWORD length, DWORD *count, OVERLAPPED *overlapped) {
    if (frame == nullptr || length == 0 || length > kMaxFrame) return fail(ERROR_INVALID_PARAMETER), FALSE;
    std::vector<std::uint8_t> bytes(frame, frame + length);
    if (bytes.size() < kMinFrame) bytes.resize(kMinFrame, 0);
    std::string mode = env_text("W64N55_SEND_MODE");
    if (mode == "fail") return fail(kLibraryFailure), FALSE;
    if (mode == "pending" && overlapped != nullptr) {
      DWORD delay = static_cast<DWORD>(std::strtoul(env_text("W64N55_SEND_DELAY_MS").c_str(), nullptr, 10));
      {
        std::lock_guard lock(mutex_);
        sends_.push_back({GetTickCount() + delay, std::move(bytes), count, overlapped});
      }
      send_ready_.notify_all();
      return fail(kIoPending), FALSE;
    }
    if (::send(socket_, reinterpret_cast<const char *>(bytes.data()), static_cast<int>(bytes.size()), 0) <
        0) {
      return fail(kLibraryFailure), FALSE;
    }
    if (count) *count = length;
    return TRUE;
  }

  DWORD request(void *record) {
    if (record == nullptr) return fail(ERROR_INVALID_PARAMETER);
    auto *bytes = static_cast<std::uint8_t *>(record);
    std::uint32_t direction, oid, length;
    std::uint8_t *buffer;
    std::memcpy(&direction, bytes + w64n55::kRequestDirectionOffset, 4);
    std::memcpy(&oid, bytes + w64n55::kRequestOidOffset, 4);
    std::memcpy(&buffer, bytes + w64n55::kRequestBufferOffset, sizeof buffer);
    std::memcpy(&length, bytes + w64n55::kRequestLengthOffset, 4);
    if (buffer == nullptr) return fail(ERROR_INVALID_PARAMETER);
    if (direction == w64n55::kRequestSet && oid == w64n55::kOidCurrentPacketFilter && length >= 4) {
      std::uint32_t filter;
      std::memcpy(&filter, buffer, 4);
      filter_ = filter;
      return 0;
    }
    if (direction == w64n55::kRequestQuery && oid == w64n55::kOidCurrentAddress && length >= 6) {
      std::memset(buffer, 0, length);
      std::memcpy(buffer, config_.mac.data(), 6);
      return 0;
    }
    return fail(ERROR_NOT_SUPPORTED);
  }

 private:
  bool wanted(const std::uint8_t *frame) const {
    std::uint32_t filter = filter_;
    bool broadcast = std::all_of(frame, frame + 6, [](std::uint8_t b) { return b == 0xFF; });
    if (broadcast) return (filter & w64n55::kFilterBroadcast) != 0;
    return (filter & w64n55::kFilterDirected) != 0 && std::memcmp(frame, config_.mac.data(), 6) == 0;
  }

  void deliver(const std::uint8_t *frame, DWORD length) {
    std::lock_guard lock(mutex_);
    if (receives_.empty()) {
      ++dropped_;
      return;
    }
    PendingReceive r = receives_.front();
    receives_.pop_front();
    std::uint32_t capacity;
    std::memcpy(&capacity, r.packet + w64n55::kPacketCapacityOffset, 4);
    DWORD copied = std::min<DWORD>(length, capacity);
    std::memcpy(r.packet + w64n55::kPacketDataOffset, frame, copied);
    std::memcpy(r.packet + w64n55::kPacketLengthOffset, &copied, 4);
    complete(r.overlapped, r.count, copied);
  }

  void receive_loop() {
    std::array<std::uint8_t, 2048> buffer;
    while (!stop_) {
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(socket_, &readable);
      timeval wait{0, 50000};
      if (select(0, &readable, nullptr, nullptr, &wait) <= 0) continue;
      int n = recv(socket_, reinterpret_cast<char *>(buffer.data()), static_cast<int>(buffer.size()), 0);
      if (n < 6) continue;  // errors (a peer not yet listening) and runts are not frames
      if (wanted(buffer.data())) deliver(buffer.data(), static_cast<DWORD>(std::min<int>(n, kMaxFrame)));
    }
  }

  void complete_sends_loop() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
      if (sends_.empty()) {
        send_ready_.wait_for(lock, std::chrono::milliseconds(50));
        continue;
      }
      PendingSend &next = sends_.front();
      auto wait = static_cast<std::int32_t>(next.due - GetTickCount());
      if (wait > 0) {
        send_ready_.wait_for(lock, std::chrono::milliseconds(std::min(wait, 50)));
        continue;
      }
      ::send(socket_, reinterpret_cast<const char *>(next.frame.data()), static_cast<int>(next.frame.size()),
             0);
      complete(next.overlapped, next.count, static_cast<DWORD>(next.frame.size()));
      sends_.pop_front();
    }
  }

  AdapterConfig config_;
  SOCKET socket_;
  std::atomic<bool> stop_{false};
  std::atomic<std::uint32_t> filter_{0};  // nothing is delivered until the caller sets a filter
  std::mutex mutex_;
  std::condition_variable send_ready_;
  std::deque<PendingReceive> receives_;
  std::deque<PendingSend> sends_;
  std::uint64_t dropped_ = 0;
  std::thread receiver_;
  std::thread sender_;
};

std::mutex g_table_mutex;
INT_PTR g_next_handle = 1;
std::map<INT_PTR, std::unique_ptr<Enumeration>> g_enumerations;
std::map<INT_PTR, std::shared_ptr<VirtualAdapter>> g_adapters;

std::shared_ptr<VirtualAdapter> adapter_of(INT_PTR handle) {
  std::lock_guard lock(g_table_mutex);
  auto it = g_adapters.find(handle);
  return it == g_adapters.end() ? nullptr : it->second;
}

char *next_name(INT_PTR handle) {
  std::lock_guard lock(g_table_mutex);
  auto it = g_enumerations.find(handle);
  if (it == g_enumerations.end() || it->second->next >= it->second->adapters.size()) return w64n55::kNoName;
  return _strdup(it->second->adapters[it->second->next++].guid.c_str());
}

std::optional<sockaddr_in> peer_address() {
  auto parts = split(env_text("W64N55_PEER"), ':');
  if (parts.size() != 2) return std::nullopt;
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  if (inet_pton(AF_INET, parts[0].c_str(), &peer.sin_addr) != 1) return std::nullopt;
  unsigned long port = std::strtoul(parts[1].c_str(), nullptr, 10);
  if (port == 0 || port > 65535) return std::nullopt;
  peer.sin_port = htons(static_cast<u_short>(port));
  return peer;
}

SOCKET connected_socket(const sockaddr_in &peer) {
  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return s;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(s, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0 ||
      connect(s, reinterpret_cast<const sockaddr *>(&peer), sizeof peer) != 0) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

}  // namespace

extern "C" {

INT_PTR W64OpenAdapterEnum(void) {
  auto enumeration = std::make_unique<Enumeration>();
  enumeration->adapters = current_adapters();
  if (enumeration->adapters.empty()) return fail(ERROR_NO_MORE_ITEMS), w64n55::kInvalidHandle;
  std::lock_guard lock(g_table_mutex);
  INT_PTR handle = g_next_handle++;
  g_enumerations[handle] = std::move(enumeration);
  return handle;
}

void W64CloseAdapterEnum(INT_PTR enumeration) {
  std::lock_guard lock(g_table_mutex);
  g_enumerations.erase(enumeration);
}

char *W64FirstAdapterName(INT_PTR enumeration) {
  {
    std::lock_guard lock(g_table_mutex);
    auto it = g_enumerations.find(enumeration);
    if (it == g_enumerations.end()) return w64n55::kNoName;
    it->second->next = 0;
  }
  return next_name(enumeration);
}

char *W64NextAdapterName(INT_PTR enumeration) {
  return next_name(enumeration);
}

void W64FreeAdapterName(char *name) {
  if (name != w64n55::kNoName) std::free(name);
}

DWORD W64AdapterDescription(const char *name, char *buffer, DWORD *size) {
  auto adapter = find_adapter(name, false);
  if (!adapter) return fail(ERROR_NOT_FOUND);
  return copy_text(adapter->description, buffer, size);
}

DWORD W64AdapterDeviceName(const char *name, char *buffer, DWORD *size) {
  auto adapter = find_adapter(name, false);
  if (!adapter) return fail(ERROR_NOT_FOUND);
  return copy_text("\\DEVICE\\" + adapter->guid, buffer, size);
}

INT_PTR W64OpenAdapter(const char *device_name) {
  auto adapter = find_adapter(device_name, true);
  auto peer = peer_address();
  if (!adapter || !peer) return fail(ERROR_NOT_FOUND), w64n55::kInvalidHandle;
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return fail(kLibraryFailure), w64n55::kInvalidHandle;
  SOCKET s = connected_socket(*peer);
  if (s == INVALID_SOCKET) {
    WSACleanup();
    return fail(kLibraryFailure), w64n55::kInvalidHandle;
  }
  auto open = std::make_shared<VirtualAdapter>(*adapter, s);
  std::lock_guard lock(g_table_mutex);
  INT_PTR handle = g_next_handle++;
  g_adapters[handle] = std::move(open);
  return handle;
}

void W64CloseAdapter(INT_PTR adapter) {
  std::shared_ptr<VirtualAdapter> closing;
  {
    std::lock_guard lock(g_table_mutex);
    auto it = g_adapters.find(adapter);
    if (it == g_adapters.end()) return;
    closing = std::move(it->second);
    g_adapters.erase(it);
  }
  // The adapter's threads stop and its pending receives are dropped here, before close returns.
  closing.reset();
}

DWORD W64Request(INT_PTR adapter, void *record, void * /*work_area*/, DWORD /*wait*/) {
  auto open = adapter_of(adapter);
  if (!open) return fail(ERROR_INVALID_HANDLE);
  return open->request(record);
}

BOOL W64PostReceive(INT_PTR adapter, void *packet, DWORD *count, OVERLAPPED *overlapped, DWORD /*flag*/) {
  auto open = adapter_of(adapter);
  if (!open) return fail(ERROR_INVALID_HANDLE), FALSE;
  if (packet == nullptr || overlapped == nullptr) return fail(ERROR_INVALID_PARAMETER), FALSE;
  open->post_receive(static_cast<std::uint8_t *>(packet), count, overlapped);
  return fail(kIoPending), FALSE;
}

BOOL W64Send(INT_PTR adapter, const BYTE *frame, DWORD length, DWORD *count, OVERLAPPED *overlapped) {
  auto open = adapter_of(adapter);
  if (!open) return fail(ERROR_INVALID_HANDLE), FALSE;
  return open->send(frame, length, count, overlapped);
}

DWORD W64LastError(void) {
  return g_last_error;
}

}  // extern "C"
