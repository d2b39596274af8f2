// pvmgmt: sends one management object to portvisor and prints the answer.
//
//   pvmgmt [--host IPV4] [--port N] [--wait SECONDS] OBJ_ID get|set|add|del [HEXDATA | +N]
// HEXDATA are the object's data bytes after its 16-byte header (for example 01000000 for the u32 1);
// +N sends N zero bytes (the room a GET answer needs). Data run to 65491 bytes at most: with the header
// that is 65507 bytes, the most one UDP datagram carries over IPv4. Prints "res=R" and the answered
// data in hex. Exits 0 when an answer came, 1 when the request could not be sent or no answer came in
// time (a second, or --wait: a CableScan request, object 3018, takes seconds), 2 on a usage error.
#include "le.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr size_t kHeaderSize = 16;
constexpr size_t kLargestDatagram = 65507;  // 65535 less the IPv4 and UDP headers
constexpr size_t kLargestData = kLargestDatagram - kHeaderSize;
constexpr uint64_t kLargestWaitSeconds = 600;

struct Request {
  std::string host = "127.0.0.1";
  uint16_t port = 28;
  int wait_seconds = 1;
  uint32_t obj_id = 0;
  uint32_t command = 0;
  std::vector<uint8_t> data;
};

void print_usage() {
  std::fprintf(
      stderr,
      "usage: pvmgmt [--host IPV4] [--port N] [--wait SECONDS] OBJ_ID get|set|add|del [HEXDATA | +N]\n");
}

// The whole of `text` as a number in `base` (0: C notation, 0x... hexadecimal) from 0 to `largest`.
// It starts with a digit: strtoull would skip spaces and take a sign, turning "-1" into its largest
// value.
std::optional<uint64_t> parse_number(const std::string &text, int base, uint64_t largest) {
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return std::nullopt;
  errno = 0;
  char *end = nullptr;
  const unsigned long long value = std::strtoull(text.c_str(), &end, base);
  if (errno == ERANGE || *end != '\0' || value > largest) return std::nullopt;
  return value;
}

// Parses `text` into `value`; says what was wrong otherwise.
template <typename Number>
bool parse_field(const char *what, const std::string &text, int base, uint64_t smallest, uint64_t largest,
                 Number &value) {
  const std::optional<uint64_t> number = parse_number(text, base, largest);
  if (!number || *number < smallest) {
    std::fprintf(stderr, "pvmgmt: %s must be a number from %llu to %llu, not \"%s\"\n", what,
                 static_cast<unsigned long long>(smallest), static_cast<unsigned long long>(largest),
                 text.c_str());
    return false;
  }
  value = static_cast<Number>(*number);
  return true;
}

bool parse_hex_bytes(const std::string &text, std::vector<uint8_t> &data) {
  const bool hex_digits = std::all_of(text.begin(), text.end(),
                                      [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
  if (text.size() % 2 != 0 || !hex_digits) {
    std::fprintf(stderr, "pvmgmt: HEXDATA must be pairs of hex digits, not \"%s\"\n", text.c_str());
    return false;
  }
  if (text.size() / 2 > kLargestData) {
    std::fprintf(stderr, "pvmgmt: HEXDATA holds %zu bytes; a request carries at most %zu\n", text.size() / 2,
                 kLargestData);
    return false;
  }
  for (size_t i = 0; i < text.size(); i += 2)
    data.push_back(static_cast<uint8_t>(std::strtoul(text.substr(i, 2).c_str(), nullptr, 16)));
  return true;
}

// HEXDATA, or "+N" for N zero bytes.
bool parse_data(const std::string &text, std::vector<uint8_t> &data) {
  if (text.empty() || text[0] != '+') return parse_hex_bytes(text, data);
  size_t count = 0;
  if (!parse_field("+N", text.substr(1), 10, 0, kLargestData, count)) return false;
  data.assign(count, 0);
  return true;
}

std::optional<uint32_t> command_code(const std::string &name) {
  const char *names[] = {"get", "set", "add", "del"};
  for (uint32_t i = 0; i < 4; ++i)
    if (name == names[i]) return i;
  std::fprintf(stderr, "pvmgmt: the command is get, set, add or del, not \"%s\"\n", name.c_str());
  return std::nullopt;
}

bool parse_option(const std::string &name, const std::string &value, Request &request) {
  if (name == "--host") {
    in_addr address{};
    if (inet_pton(AF_INET, value.c_str(), &address) == 1) {
      request.host = value;
      return true;
    }
    std::fprintf(stderr, "pvmgmt: --host must be an IPv4 address, not \"%s\"\n", value.c_str());
    return false;
  }
  if (name == "--port") return parse_field("--port", value, 10, 1, 65535, request.port);
  if (name == "--wait") return parse_field("--wait", value, 10, 1, kLargestWaitSeconds, request.wait_seconds);
  std::fprintf(stderr, "pvmgmt: unknown option \"%s\"\n", name.c_str());
  return false;
}

// Fills `request` from the command line; false, having said why, on a usage error.
bool parse_command_line(int argc, char **argv, Request &request) {
  int i = 1;
  for (; i + 1 < argc && argv[i][0] == '-' && argv[i][1] == '-'; i += 2) {
    if (!parse_option(argv[i], argv[i + 1], request)) return false;
  }
  if (argc - i < 2 || argc - i > 3) return false;
  const std::optional<uint32_t> command = command_code(argv[i + 1]);
  if (!command) return false;
  request.command = *command;
  return parse_field("OBJ_ID", argv[i], 0, 0, UINT32_MAX, request.obj_id) &&
         parse_data(argc - i == 3 ? argv[i + 2] : "", request.data);
}

std::vector<uint8_t> datagram_of(const Request &request) {
  std::vector<uint8_t> datagram(kHeaderSize, 0);
  le_store32(&datagram[0], request.obj_id);
  le_store32(&datagram[4], request.command);
  le_store16(&datagram[14], static_cast<uint16_t>(kHeaderSize + request.data.size()));
  datagram.insert(datagram.end(), request.data.begin(), request.data.end());
  return datagram;
}

// Sends the request and waits for the answer; the answer's length, or -1 after saying why none came.
ssize_t exchange(const Request &request, std::vector<uint8_t> &reply) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(request.port);
  inet_pton(AF_INET, request.host.c_str(), &peer.sin_addr);
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    std::fprintf(stderr, "pvmgmt: socket: %s\n", std::strerror(errno));
    return -1;
  }
  const std::vector<uint8_t> datagram = datagram_of(request);
  if (sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr *>(&peer), sizeof peer) !=
      static_cast<ssize_t>(datagram.size())) {
    std::fprintf(stderr, "pvmgmt: cannot send to %s:%u: %s\n", request.host.c_str(), request.port,
                 std::strerror(errno));
    close(fd);
    return -1;
  }
  pollfd p{fd, POLLIN, 0};
  const ssize_t n =
      poll(&p, 1, request.wait_seconds * 1000) > 0 ? recv(fd, reply.data(), reply.size(), 0) : -1;
  close(fd);
  if (n < static_cast<ssize_t>(kHeaderSize)) {
    std::fprintf(stderr, "pvmgmt: no answer from %s:%u\n", request.host.c_str(), request.port);
    return -1;
  }
  return n;
}

}  // namespace

int main(int argc, char **argv) {
  Request request;
  if (!parse_command_line(argc, argv, request)) {
    print_usage();
    return 2;
  }
  std::vector<uint8_t> reply(65535);
  const ssize_t n = exchange(request, reply);
  if (n < 0) return 1;
  std::printf("res=%u", le_load32(&reply[8]));
  if (n > static_cast<ssize_t>(kHeaderSize)) std::printf(" data=");
  for (ssize_t b = kHeaderSize; b < n; ++b) std::printf("%02x", reply[static_cast<size_t>(b)]);
  std::printf("\n");
  return 0;
}
