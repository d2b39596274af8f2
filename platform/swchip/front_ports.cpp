#include "front_ports.h"

#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace swchip {

namespace {

constexpr size_t kMaxFrame = 9600;
constexpr size_t kMinWireFrame = 60;
constexpr unsigned kFramesPerWakeup = 64;  // one busy port must not starve the register clients

int open_tap(const std::string &name, std::string &error) {
  const int fd = ::open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = std::string("/dev/net/tun: ") + std::strerror(errno);
    return -1;
  }
  ifreq request{};
  request.ifr_flags = IFF_TAP | IFF_NO_PI;
  std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
  if (::ioctl(fd, TUNSETIFF, &request) < 0) {
    error = name + ": " + std::strerror(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

bool bring_up(const std::string &name, std::string &error) {
  const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq request{};
  std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
  bool ok = s >= 0 && ::ioctl(s, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
  ok = ok && ::ioctl(s, SIOCSIFFLAGS, &request) == 0;
  if (!ok) error = name + " up: " + std::strerror(errno);
  if (s >= 0) ::close(s);
  return ok;
}

}  // namespace

unsigned front_port_chip_port(unsigned port_no) {
  return port_no == FrontPorts::kPorts ? 6 : port_no - 1;
}

PhyAddress front_port_phy(unsigned port_no) {
  return port_no == FrontPorts::kPorts ? PhyAddress{1, 3} : PhyAddress{0, port_no - 1};
}

FrontPorts::~FrontPorts() {
  chip_.egress = nullptr;
  for (int fd : fds_)
    if (fd >= 0) ::close(fd);
}

bool FrontPorts::open(const std::string &prefix, std::string &error) {
  for (unsigned i = 0; i < kPorts; ++i) {
    const std::string name = prefix + std::to_string(i + 1);
    fds_[i] = open_tap(name, error);
    if (fds_[i] < 0 || !bring_up(name, error)) return false;
  }
  chip_.egress = [this](unsigned chip_port, const std::vector<uint8_t> &frame) {
    transmit(chip_port, frame);
  };
  sync_carriers();
  return true;
}

bool FrontPorts::wire_up(unsigned index) {
  const PhyAddress at = front_port_phy(index + 1);
  const PhyModel &phy = chip_.phy(at.controller, at.address);
  return phy.mounted && phy.link();
}

void FrontPorts::sync_carriers() {
  for (unsigned i = 0; i < kPorts; ++i) {
    if (fds_[i] < 0) continue;
    int carrier = wire_up(i) ? 1 : 0;
    if (carrier == carriers_[i]) continue;
    // Only a carrier the kernel took is remembered, so a failed change is tried again next time.
    if (::ioctl(fds_[i], TUNSETCARRIER, &carrier) == 0) carriers_[i] = carrier;
  }
}

void FrontPorts::receive(unsigned index) {
  std::vector<uint8_t> frame(kMaxFrame + 1);
  for (unsigned n = 0; n < kFramesPerWakeup; ++n) {
    const ssize_t got = ::read(fds_[index], frame.data(), frame.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return;
    // Frames that reach a port without link never enter the chip, as on a wire without its cable.
    if (!wire_up(index)) continue;
    // A frame larger than any the chip takes arrives cut at kMaxFrame + 1 bytes, which the chip refuses.
    std::vector<uint8_t> wire(frame.begin(), frame.begin() + got);
    // The peer's stack hands the TAP frames as short as their contents (a BPDU is 53 bytes); on a wire
    // the sending interface pads them to the minimum frame, so the chip never sees a shorter one.
    if (wire.size() < kMinWireFrame) wire.resize(kMinWireFrame, 0);
    chip_.receive_frame(front_port_chip_port(index + 1), wire);
  }
}

void FrontPorts::transmit(unsigned chip_port, const std::vector<uint8_t> &frame) {
  for (unsigned i = 0; i < kPorts; ++i) {
    if (front_port_chip_port(i + 1) != chip_port || fds_[i] < 0 || !wire_up(i)) continue;
    std::vector<uint8_t> wire = frame;
    if (wire.size() < kMinWireFrame) wire.resize(kMinWireFrame, 0);
    // A port whose other side is down or gone drops the frame, as a wire without a peer would.
    (void)!::write(fds_[i], wire.data(), wire.size());
  }
}

}  // namespace swchip
