// An in-process Ethernet segment on a virtual clock: the engine's frames reach router peers at once,
// their replies arrive after a latency, and waiting for a frame advances time instead of sleeping.
#pragma once

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine_ports.h"
#include "image_file.h"
#include "router_peer.h"

namespace upgrade::testing {

class VirtualLink final : public FramePort, public Clock {
 public:
  explicit VirtualLink(std::uint32_t start_ms = 1000) : now_(start_ms) {}

  void attach(peer::RouterPeer &peer) { peers_.push_back(&peer); }

  bool own_mac(Mac &out) override {
    if (own_mac_fails) return false;
    out = own_address;
    return true;
  }

  int send(std::span<const std::uint8_t> frame) override {
    if (fail_sends > 0) {
      --fail_sends;
      return 1;
    }
    if (send_limit && sent.size() >= *send_limit) return 1;
    sent.emplace_back(frame.begin(), frame.end());
    for (auto *peer : peers_) {
      for (auto &reply : peer->handle_frame(frame)) queue_.push_back({now_ + latency_ms, std::move(reply)});
    }
    return 0;
  }

  std::size_t receive(FrameBuffer &buffer) override {
    ++receive_calls;
    // A receive wait lasts at most 100 ms, as on the adapter.
    if (queue_.empty() || queue_.front().due > now_ + 100) {
      now_ += 100;
      return 0;
    }
    Pending next = std::move(queue_.front());
    queue_.pop_front();
    now_ = std::max(now_, next.due);
    std::size_t n = std::min(next.bytes.size(), buffer.size());
    std::copy_n(next.bytes.begin(), n, buffer.begin());
    return n;
  }

  std::uint32_t now_ms() override { return now_; }
  void advance(std::uint32_t ms) { now_ += ms; }

  // Puts a frame on the wire towards the engine, as a stray or hostile station would.
  void inject(std::vector<std::uint8_t> frame) { queue_.push_back({now_, std::move(frame)}); }

  Mac own_address{0x00, 0x16, 0x3E, 0x00, 0x00, 0x01};
  bool own_mac_fails = false;
  int fail_sends = 0;                     // the next n sends fail
  std::optional<std::size_t> send_limit;  // sends beyond this many fail
  std::uint32_t latency_ms = 1;
  std::vector<std::vector<std::uint8_t>> sent;
  std::uint64_t receive_calls = 0;

 private:
  struct Pending {
    std::uint32_t due;
    std::vector<std::uint8_t> bytes;
  };
  std::uint32_t now_;
  std::vector<peer::RouterPeer *> peers_;
  std::deque<Pending> queue_;
};

struct RecordingHost final : EngineHost {
  void post_progress(std::intptr_t wParam, std::intptr_t lParam) override {
    posts.push_back({wParam, lParam});
  }
  void start_reboot_wait() override { ++reboot_waits; }
  std::vector<std::pair<std::intptr_t, std::intptr_t>> posts;
  int reboot_waits = 0;
};

// Images by name, held in memory; a reader handed out can be set to fail.
class MemoryImageStore final : public ImageStore {
 public:
  void put(const std::string &path, std::vector<std::uint8_t> bytes) { files_[path] = std::move(bytes); }
  std::unique_ptr<ImageReader> open(const std::string &path) override {
    auto it = files_.find(path);
    if (it == files_.end()) return nullptr;
    auto reader = std::make_unique<MemoryImageReader>(it->second);
    reader->fail_from = fail_from;
    ++opened;
    return reader;
  }
  std::optional<std::uint64_t> fail_from;
  int opened = 0;

 private:
  std::map<std::string, std::vector<std::uint8_t>> files_;
};

}  // namespace upgrade::testing
