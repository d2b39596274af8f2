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
  std::string port_file;
  std::string image_out;
  Mac mac{0x02, 0x5A, 0xC3, 0x01, 0x02, 0x03};
  std::uint16_t version = 0x1023;
  int lifetime_seconds = 600;
  upgrade::peer::PeerFaults faults;
  std::vector<std::uint16_t> ether_types{0x8888};
};

[[noreturn]] void usage(const std::string &why) {
  std::cerr << "upgrade_router_peer: " << why << "\n";
  std::exit(2);
}

bool write_file_atomically(const std::string &path, const void *data, std::size_t size) {
  std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char *>(data), static_cast<std::streamsize>(size));
    if (!out) return false;
  }
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

Options parse_options(int argc, char **argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) usage(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--port-file") {
      o.port_file = value();
    } else if (arg == "--image-out") {
      o.image_out = value();
    } else if (arg == "--mac") {
      unsigned b[6];
      if (std::sscanf(value().c_str(), "%x:%x:%x:%x:%x:%x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) != 6)
        usage("bad --mac");
      for (int k = 0; k < 6; ++k) o.mac[k] = static_cast<std::uint8_t>(b[k]);
    } else if (arg == "--version") {
      o.version = static_cast<std::uint16_t>(std::strtoul(value().c_str(), nullptr, 16));
    } else if (arg == "--drop") {
      unsigned opcode, count;
      if (std::sscanf(value().c_str(), "%u:%u", &opcode, &count) != 2) usage("bad --drop");
      o.faults.drop_replies[static_cast<std::uint16_t>(opcode)] = static_cast<int>(count);
    } else if (arg == "--copies") {
      o.faults.reply_copies = std::atoi(value().c_str());
    } else if (arg == "--silent-verify") {
      o.faults.silent_verify = true;
    } else if (arg == "--start-ack5") {
      o.faults.start_ack_opcode5 = true;
    } else if (arg == "--variant0") {
      o.ether_types = {0x0000};
    } else if (arg == "--end-status") {
      o.faults.end_status = static_cast<std::uint16_t>(std::strtoul(value().c_str(), nullptr, 10));
    } else if (arg == "--lifetime") {
      o.lifetime_seconds = std::atoi(value().c_str());
    } else {
      usage("unknown option " + arg);
    }
  }
  if (o.port_file.empty()) usage("--port-file is required");
  return o;
}

int bound_socket() {
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (s < 0 || bind(s, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) return -1;
  return s;
}

// Once running, the peer keeps none of its starter's streams open: a test runner waiting for their end
// must not wait for the peer too.
void detach_from_standard_streams() {
  int null = open("/dev/null", O_RDWR);
  if (null < 0) return;
  for (int fd = 0; fd <= 2; ++fd) dup2(null, fd);
  if (null > 2) close(null);
}

void record_end(const Options &o, const RouterPeer &peer, std::span<const std::uint8_t> reply) {
  if (o.image_out.empty() || reply.size() < 26) return;
  if (peer.committed()) write_file_atomically(o.image_out, peer.image().data(), peer.image().size());
  std::string status = std::to_string(reply[24] | (reply[25] << 8)) + "\n";
  write_file_atomically(o.image_out + ".end", status.data(), status.size());
}

}  // namespace

int main(int argc, char **argv) {
  Options o = parse_options(argc, argv);
  RouterPeer peer(o.mac, o.version);
  peer.faults = o.faults;
  peer.accepted_ether_types = o.ether_types;

  int s = bound_socket();
  if (s < 0) usage("cannot bind a UDP socket on 127.0.0.1");
  sockaddr_in bound{};
  socklen_t bound_size = sizeof bound;
  getsockname(s, reinterpret_cast<sockaddr *>(&bound), &bound_size);
  std::string port = std::to_string(ntohs(bound.sin_port)) + "\n";
  if (!write_file_atomically(o.port_file, port.data(), port.size())) usage("cannot write the port file");
  detach_from_standard_streams();

  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(o.lifetime_seconds);
  std::vector<std::uint8_t> buffer(2048);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{s, POLLIN, 0};
    if (poll(&p, 1, 500) <= 0) continue;
    sockaddr_in from{};
    socklen_t from_size = sizeof from;
    ssize_t n = recvfrom(s, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr *>(&from), &from_size);
    if (n <= 0) continue;
    if (n == 4 && std::memcmp(buffer.data(), "quit", 4) == 0) break;
    std::span<const std::uint8_t> frame(buffer.data(), static_cast<std::size_t>(n));
    bool is_end = n >= 16 && buffer[14] == 3 && buffer[15] == 0;
    for (auto &reply : peer.handle_frame(frame)) {
      sendto(s, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr *>(&from), from_size);
      if (is_end) record_end(o, peer, reply);
    }
  }
  close(s);
  return 0;
}
