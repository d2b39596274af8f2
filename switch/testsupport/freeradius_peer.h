// A FreeRADIUS started by a test on loopback with its own configuration directory: a free
// authentication port, one client (127.0.0.1 with kSecret) and the users alice and bob. Given a server
// certificate, it also serves tunnelled methods (PEAP with MSCHAPv2 inside) through its inner-tunnel
// site, which listens on 127.0.0.1:18120 of the caller's network namespace.
#pragma once

#include "process_util.h"

#include <arpa/inet.h>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace dot1x::test {

using namespace std::chrono_literals;

inline constexpr const char *kSecret = "loopbacksecret";

// A free UDP port on loopback, chosen by the kernel.
inline std::uint16_t free_udp_port() {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

// PEM files of the server's TLS side: the CA that signed its certificate, the certificate and its key
// (not encrypted).
struct ServerCertificate {
  std::string ca, certificate, key;
};

class FreeRadius {
 public:
  explicit FreeRadius(const std::optional<ServerCertificate> &tls = std::nullopt) : port_(free_udp_port()) {
    const std::string d = dir_.path() + "/raddb";
    if (!run("cp -rL /etc/freeradius/3.0 " + d))
      throw std::runtime_error("FreeRADIUS configuration /etc/freeradius/3.0 missing");
    // The default site on loopback and this test's ports, the inner tunnel only for tunnelled methods;
    // no privilege drop, so the copy stays readable.
    if (tls) {
      run("sed -i -e 's|^[[:space:]]*private_key_file = .*|private_key_file = " + tls->key +
          "|' -e 's|^[[:space:]]*certificate_file = .*|certificate_file = " + tls->certificate +
          "|' -e 's|^[[:space:]]*ca_file = .*|ca_file = " + tls->ca + "|' " + d + "/mods-enabled/eap");
    } else {
      run("rm -f " + d + "/sites-enabled/inner-tunnel");
    }
    run("awk -v auth=" + std::to_string(port_) + " -v acct=" + std::to_string(free_udp_port()) +
        " '/^[[:space:]]*port = 0$/ { n++; sub(/0$/, n % 2 ? auth : acct) }"
        " /^[[:space:]]*ipaddr = \\*$/ { sub(/\\*$/, \"127.0.0.1\") }"
        " /^[[:space:]]*ipv6addr = ::$/ { sub(/::$/, \"::1\") } { print }' " +
        d + "/sites-available/default > " + d + "/sites-enabled/default");
    run("sed -i -e 's/^[[:space:]]*user = .*//' -e 's/^[[:space:]]*group = .*//' " + d + "/radiusd.conf");
    std::ofstream(d + "/clients.conf")
        << "client loop {\n ipaddr = 127.0.0.1\n secret = " << kSecret << "\n}\n";
    std::ofstream users(d + "/mods-config/files/authorize");
    users << "alice Cleartext-Password := \"wonderland\"\n"
             "bob Cleartext-Password := \"builder\"\n";
    users.close();
    server_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/bin/sh", "-c",
                                 "exec freeradius -X -d " + d + " > " + dir_.path() + "/log 2>&1"},
        std::vector<std::string>{});
  }
  bool wait_ready() {
    for (int i = 0; i < 200; ++i) {
      if (read_text_file(dir_.path() + "/log").find("Ready to process requests") != std::string::npos)
        return true;
      if (server_->wait_exit(50ms) != -1) return false;
    }
    return false;
  }
  std::uint16_t port() const { return port_; }
  std::string log() const { return read_text_file(dir_.path() + "/log"); }

 private:
  TempDir dir_;
  std::uint16_t port_;
  std::unique_ptr<ChildProcess> server_;
};

}  // namespace dot1x::test
