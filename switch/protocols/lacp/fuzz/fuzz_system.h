// The system side of the fuzz targets' hosts: odd ports up, full duplex, fixed addresses, frames
// built into one buffer and dropped.
#pragma once

#include "lacp_engine.h"

#include <vector>

template <class Interface>
class FuzzSystem : public Interface {
  public:
    int link_state(unsigned port) override { return port % 2; }
    int link_duplex(unsigned) override { return 1; }
    uint16_t make_key(unsigned, uint16_t admin_key) override { return static_cast<uint16_t>(admin_key << 8 | 3); }
    lacp::Mac system_mac() override { return {2, 0, 0, 0, 0, 1}; }
    lacp::Mac port_mac(unsigned port) override { return {2, 0, 0, 0, 0, static_cast<uint8_t>(port)}; }
    uint8_t *frame_alloc(unsigned, size_t length, void **buffer_ref) override {
        buffer_.assign(length, 0);
        *buffer_ref = &buffer_;
        return buffer_.data();
    }
    bool frame_send(unsigned, uint8_t *, size_t, void *) override { return true; }

  private:
    std::vector<uint8_t> buffer_;
};
