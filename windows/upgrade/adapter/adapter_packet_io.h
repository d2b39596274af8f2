// Raw Ethernet access for the upgrade utility through the NDIS protocol library W64N55.dll (imported by
// ordinal): the adapter list, one open adapter at a time, its own address, and whole frames in and out
// through a ring of 64 outstanding overlapped receives.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>

namespace upgrade {

inline constexpr std::size_t kReceiveSlots = 64;
inline constexpr std::uint32_t kSlotCapacity = 1514;
inline constexpr DWORD kReceiveWaitMs = 100;
inline constexpr DWORD kSendWaitMs = 5000;

// The packet record the library fills: it owns the bytes before the received length and the four after.
struct PacketRecord {
  std::uint8_t library_area[44];
  std::uint32_t received_length;
  std::uint8_t library_tail[4];
  std::uint32_t capacity;
  std::uint8_t data[kSlotCapacity];
};
static_assert(offsetof(PacketRecord, received_length) == 44);
static_assert(offsetof(PacketRecord, capacity) == 52);
static_assert(offsetof(PacketRecord, data) == 56);

struct ReceiveSlot {
  std::uint32_t completion_count;
  OVERLAPPED overlapped;
  PacketRecord packet;
};
static_assert(offsetof(ReceiveSlot, overlapped) == 8);
static_assert(offsetof(ReceiveSlot, packet) == 40);
static_assert(sizeof(ReceiveSlot) == 1616);

// Receives the adapters found by EnumerateAdapters; returns false when the adapter cannot be listed.
class AdapterListSink {
 public:
  virtual ~AdapterListSink() = default;
  virtual bool add_adapter(const char *adapter_name) = 0;
};

// Results of OpenAdapter.
enum OpenResult : int { kOpened = 0, kOpenFailed = 2, kMarkerFailed = 4, kReceptionFailed = 5 };

// Results of SendUpgradeFrame.
enum SendFrameResult : int { kFrameSent = 0, kSendNoAdapter = 1, kFrameRefused = 3, kSendNoEvent = 9 };

class AdapterPacketIo {
 public:
  AdapterPacketIo() = default;
  ~AdapterPacketIo();
  AdapterPacketIo(const AdapterPacketIo &) = delete;
  AdapterPacketIo &operator=(const AdapterPacketIo &) = delete;

  // Reads the description and device name of one adapter (260-byte texts); false when either fails.
  static bool read_adapter_texts(const char *adapter_name, std::string &description,
                                 std::string &device_name);

  int EnumerateAdapters(AdapterListSink &list);
  int OpenAdapter(const std::string &device_name);
  int CreateAdapterEvent();
  int StartReceiving();
  bool EnableFrameReception();
  bool SetPacketFilter(std::uint32_t filter);
  bool ClearPacketFilter() { return SetPacketFilter(0); }
  bool QueryOwnMac(std::uint8_t (&out)[6]);
  int GetOwnMac(std::uint8_t (&out)[6]) { return QueryOwnMac(out) ? 0 : 2; }
  // kFrameSent once the library took the frame, sent or still pending; kFrameRefused when it reports
  // the send failed.
  int SendUpgradeFrame(const std::uint8_t *frame, std::size_t length);
  std::size_t ReceiveUpgradeFrame(std::uint8_t *buffer);  // buffer of at least 1514 bytes
  void CloseAdapter();
  void ReleaseAdapterIo();

  bool is_open() const { return adapter_ != kNoAdapter; }

 private:
  static constexpr INT_PTR kNoAdapter = -1;

  // A send still owned by the library after the wait gave up: its record, event and frame copy stay
  // alive until the library signals the event or the adapter is closed.
  struct SendRecord {
    OVERLAPPED overlapped{};
    DWORD count = 0;
    HANDLE event = nullptr;
    std::unique_ptr<std::uint8_t[]> frame;
    ~SendRecord();
  };

  bool AllocReceiveSlots();
  void FreeReceiveSlots(std::size_t count);
  bool post_slot(std::size_t index);
  bool request_oid(std::uint32_t direction, std::uint32_t oid, void *buffer, std::uint32_t length);
  void reap_finished_sends();
  void fail_reception();

  INT_PTR adapter_ = kNoAdapter;
  HANDLE marker_ = nullptr;
  std::array<std::unique_ptr<ReceiveSlot>, kReceiveSlots> slots_{};
  std::array<HANDLE, kReceiveSlots> slot_events_{};
  std::array<std::uint8_t, 32> mac_query_{};
  std::array<std::uint8_t, 64> request_work_{};
  std::list<std::unique_ptr<SendRecord>> parked_sends_;
};

}  // namespace upgrade
