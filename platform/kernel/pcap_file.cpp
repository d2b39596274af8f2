#include "pcap_file.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace pcap {

namespace {

class Cursor {
 public:
  Cursor(const std::vector<unsigned char> &data, bool swapped) : data_(data), swapped_(swapped) {}
  bool has(size_t n) const { return n <= data_.size() - at_; }
  bool at_end() const { return at_ == data_.size(); }
  uint32_t u32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t{data_[at_ + i]} << (swapped_ ? 8 * (3 - i) : 8 * i);
    at_ += 4;
    return v;
  }
  const unsigned char *take(size_t n) {
    const unsigned char *p = data_.data() + at_;
    at_ += n;
    return p;
  }

 private:
  const std::vector<unsigned char> &data_;
  bool swapped_;
  size_t at_ = 0;
};

constexpr uint32_t kMicroMagic = 0xa1b2c3d4;
constexpr uint32_t kNanoMagic = 0xa1b23c4d;
constexpr uint32_t kEthernet = 1;

void put32(std::vector<unsigned char> &out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

}  // namespace

std::vector<unsigned char> serialize(const std::vector<CapturedFrame> &frames) {
  std::vector<unsigned char> out;
  put32(out, kMicroMagic);
  put32(out, 0x00040002);  // version 2.4
  put32(out, 0);           // time zone
  put32(out, 0);           // stamp accuracy
  put32(out, 65535);       // snap length
  put32(out, kEthernet);
  for (const CapturedFrame &frame : frames) {
    auto length = static_cast<uint32_t>(14 + frame.payload.size());
    put32(out, frame.seconds);
    put32(out, frame.microseconds);
    put32(out, length);
    put32(out, length);
    out.insert(out.end(), 12, 0);
    out.push_back(static_cast<unsigned char>(frame.ethertype >> 8));
    out.push_back(static_cast<unsigned char>(frame.ethertype));
    out.insert(out.end(), frame.payload.begin(), frame.payload.end());
  }
  return out;
}

void write_file(const std::string &path, const std::vector<CapturedFrame> &frames) {
  std::vector<unsigned char> data = serialize(frames);
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!file) throw std::runtime_error("cannot write " + path);
}

Capture read_capture(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot open " + path);
  std::vector<unsigned char> data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  try {
    return parse_capture(data);
  } catch (const std::runtime_error &e) {
    throw std::runtime_error(path + ": " + e.what());
  }
}

std::vector<CapturedFrame> read_file(const std::string &path) {
  return read_capture(path).frames;
}

Capture parse_capture(const std::vector<unsigned char> &data) {
  if (data.size() < 24) throw std::runtime_error("too short for a pcap header");
  uint32_t magic = data[0] | (data[1] << 8) | (data[2] << 16) | (uint32_t{data[3]} << 24);
  auto swap = [](uint32_t v) { return __builtin_bswap32(v); };
  bool swapped = magic == swap(kMicroMagic) || magic == swap(kNanoMagic);
  bool nano = magic == kNanoMagic || magic == swap(kNanoMagic);
  if (!swapped && magic != kMicroMagic && magic != kNanoMagic) throw std::runtime_error("not a pcap file");
  Cursor in(data, swapped);
  in.take(20);
  if (in.u32() != kEthernet) throw std::runtime_error("not an Ethernet capture");
  Capture capture;
  while (!in.at_end()) {
    // A capture cut anywhere but between records lost a frame: it is not taken as a whole one.
    if (!in.has(16)) throw std::runtime_error("truncated record header");
    CapturedFrame frame;
    frame.seconds = in.u32();
    uint32_t fraction = in.u32();
    frame.microseconds = nano ? fraction / 1000 : fraction;
    uint32_t captured = in.u32();
    in.u32();
    if (!in.has(captured)) throw std::runtime_error("truncated record");
    const unsigned char *bytes = in.take(captured);
    size_t header = 14;
    if (captured < header) {
      ++capture.too_short;
      continue;
    }
    uint16_t type = static_cast<uint16_t>((bytes[12] << 8) | bytes[13]);
    if (type == 0x8100 && captured >= 18) {
      type = static_cast<uint16_t>((bytes[16] << 8) | bytes[17]);
      header = 18;
    }
    frame.ethertype = type;
    frame.payload.assign(bytes + header, bytes + captured);
    capture.frames.push_back(std::move(frame));
  }
  return capture;
}

}  // namespace pcap
