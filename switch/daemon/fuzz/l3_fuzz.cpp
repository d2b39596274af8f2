// What reaches the L3 module from outside, against the in-process chip model: management datagrams for
// objects 5000..5003, switch.conf images with blocks 1, 2 and 13, frames the host writes into a leg's
// TAP device and frames from the switch. The first byte picks the way in. Shell commands are recorded,
// never run, and TAP devices are socket pairs.
#include "chip_model.h"
#include "conf.h"
#include "driver.h"
#include "l3.h"
#include "loop.h"
#include "mgmt.h"
#include "packet.h"
#include "swc_api.h"
#include "swgenio.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

struct ChipBench {
  swchip::ChipModel chip;
  swchip::Driver driver{chip};
  std::unique_ptr<SwcApiState> state = std::make_unique<SwcApiState>();
  SwcContext context{};
};

// Every command must be one of the module's fixed forms filled with numbers only.
int check_command(const char *command) {
  for (const char *c = command; *c; ++c)
    if (*c == ';' || *c == '|' || *c == '&' || *c == '`' || *c == '$' || *c == '\n') std::abort();
  return 0;
}

std::map<std::string, int> host_ends;
int open_pair(const char *name) {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) return -1;
  auto found = host_ends.find(name);
  if (found != host_ends.end()) close(found->second);
  host_ends[name] = pair[1];
  return pair[0];
}

void init_once() {
  static std::unique_ptr<ChipBench> bench;
  if (bench) return;
  bench = std::make_unique<ChipBench>();
  swgenio_attach_in_process(
      [](uint32_t code, std::span<uint8_t> record) { return bench->driver.handle(code, record); });
  swgenio_set_recording(false);
  bench->context.fd = swgenio_open("/dev/swgenio", 2);
  bench->context.state = bench->state.get();
  swc_select_context(&bench->context);
  SwcInitSetup setup{1, 1, 0, -1, 0};
  swc_init_state(&setup);
  char dir[] = "/tmp/pv_l3_fuzz.XXXXXX";
  setenv("PORTVISOR_WORKDIR", mkdtemp(dir), 1);
  l3_test_hooks_set(check_command, open_pair);
  conf_module_reg(kConfModuleL3, l3_conf);
  mgmt_module_reg(5, l3_mgmt);
  packet_buffer_init();
  conf_init();
  l3_init();
}

// The first leg with a device, so host frames have somewhere to come from.
bool first_device(L3Leg &leg) {
  leg = L3Leg{};
  for (bool exact = true; rl_config_get(leg, exact) >= 0; exact = false)
    if (leg.fd >= 0) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  init_once();
  if (size < 1 || size > kMgmtBufferSize) return 0;
  // Exactly the input's bytes, so any read past their end is caught.
  std::vector<uint8_t> bytes(data + 1, data + size);
  switch (data[0] % 4) {
    case 0:
      mgmt_process(bytes.data(), bytes.size());
      break;
    case 1:
      if (conf_load_image(bytes) == 0) l3_conf(ConfAction{kConfActionRead, 0});
      break;
    case 2: {
      L3Leg leg;
      if (!first_device(leg)) break;
      send(host_ends.at(l3_tap_txt(leg.rlid)), bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
      l3_packet_event(leg.fd, kFdEventRead);
      l3_packet_event(leg.fd, kFdEventRead);
      // The frames queued for the chip leave, so the pools do not run dry across inputs.
      packet_queue();
      break;
    }
    default:
      // The CPU path hands on only frames with a whole Ethernet header.
      if (bytes.size() < 14) break;
      if (PacketBuffer *buffer = packet_alloc(static_cast<uint32_t>(bytes.size()))) {
        std::memcpy(buffer->data, bytes.data(), bytes.size());
        buffer->length = static_cast<uint32_t>(bytes.size());
        buffer->vid = bytes[0] % 8;
        l3_packet_rx(buffer);
      }
      // Whatever the devices were given is read away.
      for (auto &[name, end] : host_ends) {
        uint8_t sink[9700];
        while (recv(end, sink, sizeof sink, MSG_DONTWAIT) > 0) {}
      }
  }
  return 0;
}
