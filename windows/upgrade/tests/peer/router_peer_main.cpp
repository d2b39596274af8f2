// upgrade_router_peer: the router's firmware receiver on a UDP socket on loopback, for the stand-in
// NDIS library's virtual adapters (one datagram = one Ethernet frame). Replies go back to the sender.
//
//   upgrade_router_peer --port-file PATH [--image-out PATH] [--mac aa:bb:cc:dd:ee:ff] [--version HEX]
//                       [--drop OPCODE:COUNT]... [--copies N] [--silent-verify] [--start-ack5] [--variant0]
//                       [--end-status N] [--lifetime SECONDS]
//
// The chosen port is written to --port-file once the socket listens. After each end request the
// status is written to <image-out>.end and, when the image was accepted, the image to <image-out>.
// A datagram "quit" ends the peer; so does --lifetime (default 600 s), so it never outlives a test.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "router_peer.h"

namespace {

using upgrade::peer::Mac;
using upgrade::peer::RouterPeer;

struct Options {
  std::string portFile;
  std::string imageOut;
  Mac mac{0x02, 0x5A, 0xC3, 0x01, 0x02, 0x03};
  std::uint16_t version = 0x1023;
  int lifetimeSeconds = 600;
  upgrade::peer::PeerFaults faults;
  std::vector<std::uint16_t> etherTypes{0x8888};
};

[[noreturn]] void Usage(const std::string &why) {
  std::cerr << "upgrade_router_peer: " << why << "\n";
  std::exit(2);
}

bool WriteFileAtomically(const std::string &path, const void *data, std::size_t size) {
  std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char *>(data), static_cast<std::streamsize>(size));
    if (!out) return false;
  }
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

Options ParseOptions(int argc, char **argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Usage(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--port-file") {
      o.portFile = value();
    } else if (arg == "--image-out") {
      o.imageOut = value();
    } else if (arg == "--mac") {
      unsigned b[6];
      if (std::sscanf(value().c_str(), "%x:%x:%x:%x:%x:%x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) != 6)
        Usage("bad --mac");
      for (int k = 0; k < 6; ++k) o.mac[k] = static_cast<std::uint8_t>(b[k]);
    } else if (arg == "--version") {
      o.version = static_cast<std::uint16_t>(std::strtoul(value().c_str(), nullptr, 16));
    } else if (arg == "--drop") {
      unsigned opcode, count;
      if (std::sscanf(value().c_str(), "%u:%u", &opcode, &count) != 2) Usage("bad --drop");
      o.faults.dropReplies[static_cast<std::uint16_t>(opcode)] = static_cast<int>(count);
    } else if (arg == "--copies") {
      o.faults.replyCopies = std::atoi(value().c_str());
    } else if (arg == "--silent-verify") {
      o.faults.silentVerify = true;
    } else if (arg == "--start-ack5") {
      o.faults.startAckOpcode5 = true;
    } else if (arg == "--variant0") {
      o.etherTypes = {0x0000};
    } else if (arg == "--end-status") {
      o.faults.endStatus = static_cast<std::uint16_t>(std::strtoul(value().c_str(), nullptr, 10));
    } else if (arg == "--lifetime") {
      o.lifetimeSeconds = std::atoi(value().c_str());
    } else {
      Usage("unknown option " + arg);
    }
  }
  if (o.portFile.empty()) Usage("--port-file is required");
  return o;
}

int BoundSocket() {
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (s < 0 || bind(s, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) return -1;
  return s;
}

// Once running, the peer keeps none of its starter's streams open: a test runner waiting for their end
// must not wait for the peer too.
void DetachFromStandardStreams() {
  int null = open("/dev/null", O_RDWR);
  if (null < 0) return;
  for (int fd = 0; fd <= 2; ++fd) dup2(null, fd);
  if (null > 2) close(null);
}

void RecordEnd(const Options &o, const RouterPeer &peer, std::span<const std::uint8_t> reply) {
  if (o.imageOut.empty() || reply.size() < 26) return;
  if (peer.committed()) WriteFileAtomically(o.imageOut, peer.image().data(), peer.image().size());
  std::string status = std::to_string(reply[24] | (reply[25] << 8)) + "\n";
  WriteFileAtomically(o.imageOut + ".end", status.data(), status.size());
}

}  // namespace

int main(int argc, char **argv) {
  Options o = ParseOptions(argc, argv);
  RouterPeer peer(o.mac, o.version);
  peer.faults = o.faults;
  peer.acceptedEtherTypes = o.etherTypes;

  int s = BoundSocket();
  if (s < 0) Usage("cannot bind a UDP socket on 127.0.0.1");
  sockaddr_in bound{};
  socklen_t boundSize = sizeof bound;
  getsockname(s, reinterpret_cast<sockaddr *>(&bound), &boundSize);
  std::string port = std::to_string(ntohs(bound.sin_port)) + "\n";
  if (!WriteFileAtomically(o.portFile, port.data(), port.size())) Usage("cannot write the port file");
  DetachFromStandardStreams();

  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(o.lifetimeSeconds);
  std::vector<std::uint8_t> buffer(2048);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{s, POLLIN, 0};
    if (poll(&p, 1, 500) <= 0) continue;
    sockaddr_in from{};
    socklen_t fromSize = sizeof from;
    ssize_t n = recvfrom(s, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr *>(&from), &fromSize);
    if (n <= 0) continue;
    if (n == 4 && std::memcmp(buffer.data(), "quit", 4) == 0) break;
    std::span<const std::uint8_t> frame(buffer.data(), static_cast<std::size_t>(n));
    bool isEnd = n >= 16 && buffer[14] == 3 && buffer[15] == 0;
    for (auto &reply : peer.HandleFrame(frame)) {
      sendto(s, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr *>(&from), fromSize);
      if (isEnd) RecordEnd(o, peer, reply);
    }
  }
  close(s);
  return 0;
}
