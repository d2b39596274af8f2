// pvmgmt: sends one management object to portvisor and prints the answer.
//
//   pvmgmt [--host IPV4] [--port N] [--wait SECONDS] OBJ_ID get|set|add|del [HEXDATA | +N]
// HEXDATA are the object's data bytes after its 16-byte header (for example 01000000 for the u32 1);
// +N sends N zero bytes (the room a GET answer needs). Prints "res=R" and the answered data in hex.
// Exits 0 when an answer came, 1 when none came in time (a second, or --wait: a CableScan request,
// object 3018, takes seconds), 2 on a usage error.
#include "le.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

int usage() {
  std::fprintf(
      stderr,
      "usage: pvmgmt [--host IPV4] [--port N] [--wait SECONDS] OBJ_ID get|set|add|del [HEXDATA | +N]\n");
  return 2;
}

std::optional<uint32_t> command_code(const std::string &name) {
  const char *names[] = {"get", "set", "add", "del"};
  for (uint32_t i = 0; i < 4; ++i)
    if (name == names[i]) return i;
  return std::nullopt;
}

std::optional<std::vector<uint8_t>> parse_data(const std::string &text) {
  if (!text.empty() && text[0] == '+')
    return std::vector<uint8_t>(std::strtoul(text.c_str() + 1, nullptr, 10), 0);
  if (text.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < text.size(); i += 2) {
    char *end = nullptr;
    std::string pair = text.substr(i, 2);
    unsigned long v = std::strtoul(pair.c_str(), &end, 16);
    if (*end != '\0') return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(v));
  }
  return bytes;
}

}  // namespace

int main(int argc, char **argv) {
  std::string host = "127.0.0.1";
  unsigned long port = 28;
  unsigned long wait_s = 1;
  int i = 1;
  for (; i + 1 < argc && argv[i][0] == '-' && argv[i][1] == '-'; i += 2) {
    if (std::strcmp(argv[i], "--host") == 0)
      host = argv[i + 1];
    else if (std::strcmp(argv[i], "--port") == 0)
      port = std::strtoul(argv[i + 1], nullptr, 10);
    else if (std::strcmp(argv[i], "--wait") == 0)
      wait_s = std::strtoul(argv[i + 1], nullptr, 10);
    else
      return usage();
  }
  if (argc - i < 2 || argc - i > 3) return usage();
  auto cmd = command_code(argv[i + 1]);
  auto data = parse_data(argc - i == 3 ? argv[i + 2] : "");
  if (!cmd || !data || data->size() > 65535 - 16 || port > 65535 || wait_s < 1 || wait_s > 600)
    return usage();

  std::vector<uint8_t> datagram(16, 0);
  le_store32(&datagram[0], static_cast<uint32_t>(std::strtoul(argv[i], nullptr, 0)));
  le_store32(&datagram[4], *cmd);
  le_store16(&datagram[14], static_cast<uint16_t>(16 + data->size()));
  datagram.insert(datagram.end(), data->begin(), data->end());

  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, host.c_str(), &peer.sin_addr) != 1) return usage();
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr *>(&peer), sizeof peer);
  pollfd p{fd, POLLIN, 0};
  std::vector<uint8_t> reply(65535);
  ssize_t n = poll(&p, 1, static_cast<int>(wait_s * 1000)) > 0 ? recv(fd, reply.data(), reply.size(), 0) : -1;
  close(fd);
  if (n < 16) {
    std::fprintf(stderr, "pvmgmt: no answer from %s:%lu\n", host.c_str(), port);
    return 1;
  }
  std::printf("res=%u", le_load32(&reply[8]));
  if (n > 16) std::printf(" data=");
  for (ssize_t b = 16; b < n; ++b) std::printf("%02x", reply[static_cast<size_t>(b)]);
  std::printf("\n");
  return 0;
}
