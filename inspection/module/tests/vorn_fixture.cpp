#include "vorn_fixture.h"

#include <sys/mman.h>

#include <algorithm>

#include "packet_builder.h"
#include "pcap_file.h"
#include "vorn_records.h"

namespace vorn_test {

#ifdef MAP_32BIT
constexpr int kBelow4GiB = MAP_32BIT;
#else
constexpr int kBelow4GiB = 0;  // a 32-bit address space lies below 4 GiB as it is
#endif

LowBuffer::LowBuffer(size_t size) : size_(size) {
  void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | kBelow4GiB, -1, 0);
  data_ = p == MAP_FAILED ? nullptr : static_cast<unsigned char *>(p);
}

LowBuffer::~LowBuffer() {
  if (data_) munmap(data_, size_);
}

void VornTest::SetUp() {
  kern::clock_use_real(false);
  kern::clock_set(1700000000);
  kern::clear_failures();
  baseline_blocks = kern::blocks_in_use();
  device = std::make_unique<quorix::Device>();
  device->set_matcher(&matcher);
  kern::set_delivery_sink([this](const sk_buff &, kern::Fate fate, bool inspected) {
    deliveries.push_back(Delivery{fate, inspected});
  });
  kern::printk_clear();
  ASSERT_EQ(load_module(), 0);
}

void VornTest::TearDown() {
  if (loaded) unload_module();
  kern::set_delivery_sink(nullptr);
  device.reset();
  kern::clear_failures();
  EXPECT_EQ(kern::blocks_in_use(), baseline_blocks);
}

int VornTest::load_module() {
  kern::CpuSection cpu;
  int rc = vorn::init_module();
  loaded = rc == 0;
  return rc;
}

void VornTest::unload_module() {
  kern::CpuSection cpu;
  vorn::cleanup_module();
  loaded = false;
}

int VornTest::ioctl(uint32_t cmd, const void *arg) {
  return kern::chrdev_ioctl(vorn::kVornMajor, cmd, reinterpret_cast<unsigned long>(arg));
}

int VornTest::download(const std::vector<unsigned char> &packed) {
  LowBuffer buffer(packed.size());
  if (!buffer.data()) return -1000;
  std::copy(packed.begin(), packed.end(), buffer.data());
  vorn::ParamtVornPolicyTable table{buffer.address(), 0};
  return ioctl(vorn::VORN_IOC_LOAD_RULE_TABLES, &table);
}

void VornTest::install_image(const vorn::EngineImage &image) {
  ASSERT_EQ(download(image), 0);
  vorn::ParamtVornStatus on{1, 0};
  ASSERT_EQ(ioctl(vorn::VORN_IOC_SET_STATUS, &on), 0);
}

std::vector<kern::Fate> VornTest::replay(const std::string &name) {
  auto frames = pcap::read_file(std::string(VORN_CAPTURES) + "/" + name);
  deliveries.clear();
  for (const auto &f : frames) {
    kern::clock_set(f.seconds, f.microseconds / 1000);
    kern::receive(frame(f.payload, f.ethertype, "eth1"));
  }
  std::vector<kern::Fate> fates;
  for (const auto &d : deliveries) fates.push_back(d.fate);
  EXPECT_EQ(fates.size(), frames.size());
  return fates;
}

int VornTest::send(const std::vector<unsigned char> &bytes, uint16_t ethertype, const std::string &device) {
  return kern::receive(frame(bytes, ethertype, device));
}

vorn::EngineImage VornTest::basic_image() {
  vorn::EngineImage image;
  image.set_enable_word(1);
  image.set_bases(500, 1000);
  image.set_app(1, 0, 1, "ICQ");
  image.set_app(2, 1, 0, "MSN");
  image.set_app(101, 0, 1, "BitTorrent");
  image.set_app(102, 1, 1, "eDonkey", 0);
  image.set_app(201, 0, 0, "HTTP");
  image.set_threshold_rule(1, 0, 1, 100, "SYN scan");
  image.set_threshold_rule(5, 4, 1, 50, "IP sweep");
  image.set_threshold_rule(17, 0, 1, 2000, "SYN flood");
  image.set_threshold_rule(18, 1, 0, 3000, "UDP flood", 0);
  return image;
}

std::vector<vorn::VornLogRecord> VornTest::events() {
  auto table = std::make_unique<vorn::ParamtVornLogTable>();
  table->count = 8191;
  EXPECT_EQ(ioctl(vorn::VORN_IOC_GET_LOGS, table.get()), 0);
  return std::vector<vorn::VornLogRecord>(table->ring, table->ring + table->count);
}

bool VornTest::printed(const std::string &text) const {
  auto lines = kern::printk_lines();
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string &l) { return l.find(text) != std::string::npos; });
}

std::string VornTest::proc_report() const {
  std::string text;
  kern::proc_read(vorn::kProcName, &text);
  return text;
}

}  // namespace vorn_test
