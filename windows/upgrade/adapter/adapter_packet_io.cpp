#include "adapter_packet_io.h"

#include <algorithm>
#include <cstring>

#include "w64n55.h"

namespace upgrade {
namespace {

constexpr DWORD kTextSize = 260;
constexpr DWORD kIoPending = 997;

}  // namespace

AdapterPacketIo::SendRecord::~SendRecord() {
  if (event) CloseHandle(event);
}

AdapterPacketIo::~AdapterPacketIo() {
  CloseAdapter();
  ReleaseAdapterIo();
}

bool AdapterPacketIo::read_adapter_texts(const char *adapter_name, std::string &description,
                                         std::string &device_name) {
  char text[kTextSize] = {};
  DWORD size = kTextSize;
  if (W64AdapterDescription(adapter_name, text, &size) != 0) return false;
  text[kTextSize - 1] = '\0';
  description = text;
  std::memset(text, 0, sizeof text);
  size = kTextSize;
  if (W64AdapterDeviceName(adapter_name, text, &size) != 0) return false;
  text[kTextSize - 1] = '\0';
  device_name = text;
  return true;
}

int AdapterPacketIo::EnumerateAdapters(AdapterListSink &list) {
  INT_PTR enumeration = W64OpenAdapterEnum();
  if (enumeration == w64n55::kInvalidHandle) return 0;
  int listed = 0;
  for (char *name = W64FirstAdapterName(enumeration); name != w64n55::kNoName;
       name = W64NextAdapterName(enumeration)) {
    bool added = list.add_adapter(name);
    // The name is the library's either way; the first adapter that cannot be listed ends the list.
    W64FreeAdapterName(name);
    if (!added) break;
    ++listed;
  }
  W64CloseAdapterEnum(enumeration);
  return listed;
}

int AdapterPacketIo::OpenAdapter(const std::string &device_name) {
  CloseAdapter();
  adapter_ = W64OpenAdapter(device_name.c_str());
  if (adapter_ == w64n55::kInvalidHandle) {
    adapter_ = kNoAdapter;
    return kOpenFailed;
  }
  if (CreateAdapterEvent() != 0) return kMarkerFailed;
  if (StartReceiving() != 0) return kReceptionFailed;
  return kOpened;
}

int AdapterPacketIo::CreateAdapterEvent() {
  if (!is_open()) return 1;
  if (marker_ != nullptr) return 0;
  marker_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (marker_ != nullptr) return 0;
  CloseAdapter();
  return 2;
}

bool AdapterPacketIo::AllocReceiveSlots() {
  for (std::size_t i = 0; i < kReceiveSlots; ++i) {
    if (slots_[i]) continue;
    auto slot = std::make_unique<ReceiveSlot>();
    std::memset(slot.get(), 0, sizeof(ReceiveSlot));
    slot->packet.capacity = kSlotCapacity;
    slot->overlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    // Reception needs every slot with its event: a missing one would break the whole wait set.
    if (slot->overlapped.hEvent == nullptr) return false;
    slots_[i] = std::move(slot);
  }
  return true;
}

void AdapterPacketIo::FreeReceiveSlots(std::size_t count) {
  for (std::size_t i = 0; i < std::min(count, kReceiveSlots); ++i) {
    if (!slots_[i]) continue;
    CloseHandle(slots_[i]->overlapped.hEvent);
    slots_[i].reset();
    slot_events_[i] = nullptr;
  }
}

bool AdapterPacketIo::post_slot(std::size_t index) {
  ReceiveSlot &slot = *slots_[index];
  slot.packet.received_length = 0;
  W64PostReceive(adapter_, &slot.packet, reinterpret_cast<DWORD *>(&slot.completion_count), &slot.overlapped,
                 0);
  return true;
}

void AdapterPacketIo::fail_reception() {
  // The library must let go of the slots before they are freed.
  CloseAdapter();
  FreeReceiveSlots(kReceiveSlots);
  if (marker_ != nullptr) {
    CloseHandle(marker_);
    marker_ = nullptr;
  }
}

int AdapterPacketIo::StartReceiving() {
  if (!is_open()) return 1;
  if (!AllocReceiveSlots()) {
    fail_reception();
    return 4;
  }
  for (std::size_t i = 0; i < kReceiveSlots; ++i) slot_events_[i] = slots_[i]->overlapped.hEvent;
  for (std::size_t i = 0; i < kReceiveSlots; ++i) {
    // A slot left from an earlier adapter may hold a completion of the old handle: start it clean.
    if (!ResetEvent(slot_events_[i])) break;
    post_slot(i);
  }
  if (EnableFrameReception()) return 0;
  fail_reception();
  return 4;
}

bool AdapterPacketIo::request_oid(std::uint32_t direction, std::uint32_t oid, void *buffer,
                                  std::uint32_t length) {
  if (!is_open()) return false;
  // The whole record is zeroed: the library's own bytes must not start as stack garbage.
  std::array<std::uint8_t, w64n55::kRequestRecordSize> record{};
  std::memcpy(&record[w64n55::kRequestDirectionOffset], &direction, 4);
  std::memcpy(&record[w64n55::kRequestOidOffset], &oid, 4);
  std::memcpy(&record[w64n55::kRequestBufferOffset], &buffer, sizeof buffer);
  std::memcpy(&record[w64n55::kRequestLengthOffset], &length, 4);
  return W64Request(adapter_, record.data(), request_work_.data(), 1) == 0;
}

bool AdapterPacketIo::SetPacketFilter(std::uint32_t filter) {
  return request_oid(w64n55::kRequestSet, w64n55::kOidCurrentPacketFilter, &filter, sizeof filter);
}

bool AdapterPacketIo::EnableFrameReception() {
  if (!SetPacketFilter(w64n55::kFilterDirected)) return false;
  return SetPacketFilter(w64n55::kFilterDirected | w64n55::kFilterBroadcast);
}

bool AdapterPacketIo::QueryOwnMac(std::uint8_t (&out)[6]) {
  mac_query_.fill(0);
  if (!request_oid(w64n55::kRequestQuery, w64n55::kOidCurrentAddress, mac_query_.data(),
                   static_cast<std::uint32_t>(mac_query_.size()))) {
    return false;
  }
  std::memcpy(out, mac_query_.data(), 6);
  return true;
}

void AdapterPacketIo::reap_finished_sends() {
  parked_sends_.remove_if(
      [](const std::unique_ptr<SendRecord> &s) { return WaitForSingleObject(s->event, 0) == WAIT_OBJECT_0; });
}

int AdapterPacketIo::SendUpgradeFrame(const std::uint8_t *frame, std::size_t length) {
  if (!is_open()) return kSendNoAdapter;
  reap_finished_sends();
  auto send = std::make_unique<SendRecord>();
  send->event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (send->event == nullptr || !ResetEvent(send->event)) return kSendNoEvent;
  send->overlapped.hEvent = send->event;
  // The library may still read the frame after we stop waiting, so it gets a copy of its own.
  send->frame = std::make_unique<std::uint8_t[]>(length);
  std::memcpy(send->frame.get(), frame, length);
  BOOL done =
      W64Send(adapter_, send->frame.get(), static_cast<DWORD>(length), &send->count, &send->overlapped);
  if (done) return kFrameSent;
  // Not done and not pending: the library gave up on the frame, as it does for a dead adapter. The
  // engine must hear of it rather than wait out its retries for answers that cannot come.
  if (W64LastError() != kIoPending) return kFrameRefused;
  if (WaitForSingleObjectEx(send->event, kSendWaitMs, TRUE) != WAIT_OBJECT_0) {
    parked_sends_.push_back(std::move(send));
  }
  return kFrameSent;
}

std::size_t AdapterPacketIo::ReceiveUpgradeFrame(std::uint8_t *buffer) {
  if (!is_open() || slot_events_[0] == nullptr) {
    Sleep(kReceiveWaitMs);
    return 0;
  }
  DWORD fired =
      WaitForMultipleObjects(static_cast<DWORD>(kReceiveSlots), slot_events_.data(), FALSE, kReceiveWaitMs);
  if (fired == WAIT_FAILED) {
    // Sit out the wait a success would have had, so a broken wait set cannot spin the engine.
    Sleep(kReceiveWaitMs);
    return 0;
  }
  if (fired < WAIT_OBJECT_0 || fired >= WAIT_OBJECT_0 + kReceiveSlots) return 0;
  std::size_t index = fired - WAIT_OBJECT_0;
  ReceiveSlot &slot = *slots_[index];
  std::size_t length = std::min<std::size_t>(slot.packet.received_length, kSlotCapacity);
  std::memcpy(buffer, slot.packet.data, length);
  if (!ResetEvent(slot_events_[index])) return 1;
  post_slot(index);
  return length;
}

void AdapterPacketIo::CloseAdapter() {
  if (!is_open()) return;
  // The library drops pending receives and wakes pending sends before close returns.
  W64CloseAdapter(adapter_);
  adapter_ = kNoAdapter;
  parked_sends_.clear();
}

void AdapterPacketIo::ReleaseAdapterIo() {
  if (marker_ != nullptr) {
    CloseHandle(marker_);
    marker_ = nullptr;
  }
  FreeReceiveSlots(kReceiveSlots);
}

}  // namespace upgrade
