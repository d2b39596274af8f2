// The NDIS protocol library "W64N55.dll" as the upgrade utility uses it: eleven operations exported by
// ordinal only (the names below exist only in the import library), and the layouts both sides share.
//
// This folder builds a stand-in of our own: virtual adapters whose frames travel as UDP datagrams on
// loopback (one datagram = one whole Ethernet frame) to a router peer. Configuration, read when the
// adapter list is opened:
//   W64N55_PEER       "127.0.0.1:<port>" of the router peer (open fails without it)
//   W64N55_ADAPTERS   optional "<{GUID}>|<MAC aa:bb:..>|<description>;..." list; without it the
//                     library mirrors the Ethernet adapters that GetAdaptersInfo reports, so device
//                     names carry the GUIDs the IP helper knows
//   W64N55_SEND_MODE  "immediate" (default), "pending" (sends complete later, W64N55_SEND_DELAY_MS
//                     after the call) or "fail"
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace w64n55 {

// Packet record handed to the post-receive operation: the library owns every byte before the received
// length and the four bytes after it.
inline constexpr std::size_t kPacketLengthOffset = 44;
inline constexpr std::size_t kPacketCapacityOffset = 52;
inline constexpr std::size_t kPacketDataOffset = 56;

// NDIS request record (48 bytes); bytes 0-19 belong to the library.
inline constexpr std::size_t kRequestRecordSize = 48;
inline constexpr std::size_t kRequestDirectionOffset = 20;  // u32: 1 set, 0 query
inline constexpr std::size_t kRequestOidOffset = 24;        // u32
inline constexpr std::size_t kRequestBufferOffset = 28;     // 64-bit pointer, not 8-aligned
inline constexpr std::size_t kRequestLengthOffset = 36;     // u32

inline constexpr std::uint32_t kRequestSet = 1;
inline constexpr std::uint32_t kRequestQuery = 0;
inline constexpr std::uint32_t kOidCurrentPacketFilter = 0x0001010E;
inline constexpr std::uint32_t kOidCurrentAddress = 0x01010102;
inline constexpr std::uint32_t kFilterDirected = 0x1;
inline constexpr std::uint32_t kFilterBroadcast = 0x8;

inline constexpr INT_PTR kInvalidHandle = -1;
inline char *const kNoName = reinterpret_cast<char *>(static_cast<INT_PTR>(-1));

}  // namespace w64n55

extern "C" {
INT_PTR W64OpenAdapterEnum(void);                                              // 71
void W64CloseAdapterEnum(INT_PTR enumeration);                                 // 72
char *W64FirstAdapterName(INT_PTR enumeration);                                // 73
char *W64NextAdapterName(INT_PTR enumeration);                                 // 74
void W64FreeAdapterName(char *name);                                           // 75
DWORD W64AdapterDescription(const char *name, char *buffer, DWORD *size);      // 76
DWORD W64AdapterDeviceName(const char *name, char *buffer, DWORD *size);       // 78
INT_PTR W64OpenAdapter(const char *device_name);                               // 17
void W64CloseAdapter(INT_PTR adapter);                                         // 19
DWORD W64Request(INT_PTR adapter, void *record, void *work_area, DWORD wait);  // 10
BOOL W64PostReceive(INT_PTR adapter, void *packet, DWORD *count, OVERLAPPED *overlapped,
                    DWORD flag);  // 12
BOOL W64Send(INT_PTR adapter, const BYTE *frame, DWORD length, DWORD *count,
             OVERLAPPED *overlapped);  // 15
DWORD W64LastError(void);              // 8
}
