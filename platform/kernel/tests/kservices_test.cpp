// The stand-in kernel's services as the module relies on them.
#include "kservices.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

namespace {

std::vector<int> handled;
bool masked_in_handler = false;

void record_irq(int irq, void *, pt_regs *) {
  handled.push_back(irq);
  unsigned long flags;
  local_irq_save(flags);
  masked_in_handler = flags != 0;
  local_irq_restore(flags);
}

class Interrupts : public ::testing::Test {
 protected:
  void SetUp() override {
    handled.clear();
    ASSERT_EQ(request_irq(40, record_irq, 0, "test40", nullptr), 0);
    ASSERT_EQ(request_irq(41, record_irq, 0, "test41", nullptr), 0);
  }
  void TearDown() override {
    free_irq(40, nullptr);
    free_irq(41, nullptr);
  }
};

TEST_F(Interrupts, RaisedWhileMaskedRunsAtTheUnmask) {
  kern::CpuSection cpu;
  unsigned long flags;
  local_irq_save(flags);
  kern::raise_irq(40);
  EXPECT_TRUE(handled.empty());
  local_irq_restore(flags);
  ASSERT_EQ(handled.size(), 1u);
  EXPECT_TRUE(masked_in_handler);
}

TEST_F(Interrupts, DisabledLineWaitsForEnable) {
  kern::CpuSection cpu;
  disable_irq(41);
  kern::raise_irq(41);
  kern::raise_irq(40);
  EXPECT_EQ(handled, std::vector<int>{40});
  enable_irq(41);
  EXPECT_EQ(handled, (std::vector<int>{40, 41}));
}

TEST_F(Interrupts, SecondRequestOfALineFails) {
  EXPECT_EQ(request_irq(40, record_irq, 0, "again", nullptr), -16);
  std::string name;
  ASSERT_TRUE(kern::irq_requested(40, &name));
  EXPECT_EQ(name, "test40");
}

// A pending line that is freed must not fire for the next owner, and a line the controller does not
// have is refused rather than written outside it.
TEST_F(Interrupts, FreedLineForgetsItsPendingEdgeAndUnknownLinesAreRefused) {
  {
    kern::CpuSection cpu;
    disable_irq(41);
    kern::raise_irq(41);
    free_irq(41, nullptr);
    ASSERT_EQ(request_irq(41, record_irq, 0, "test41", nullptr), 0);
  }
  EXPECT_TRUE(handled.empty());
  EXPECT_EQ(request_irq(64, record_irq, 0, "beyond", nullptr), -22);
  EXPECT_EQ(request_irq(100000, record_irq, 0, "beyond", nullptr), -22);
  disable_irq(100000);
  enable_irq(100000);
  kern::raise_irq(100000);
  EXPECT_FALSE(kern::irq_requested(100000));
  EXPECT_TRUE(handled.empty());
}

// A thread that claims the CPU takes no lock in its sections, yet interrupts raised while masked in
// a section still run when it unmasks, and frames come and go from the pool as before.
TEST_F(Interrupts, ClaimedCpuStillDeliversAndKeepsItsPool) {
  kern::CpuClaim claim;
  {
    kern::CpuSection cpu;
    unsigned long flags;
    local_irq_save(flags);
    kern::raise_irq(40);
    EXPECT_TRUE(handled.empty());
    local_irq_restore(flags);
  }
  EXPECT_EQ(handled, std::vector<int>{40});
  size_t before = kern::blocks_in_use();
  sk_buff *skb = alloc_skb(64, GFP_ATOMIC);
  ASSERT_NE(skb, nullptr);
  sk_buff *clone = skb_clone(skb, GFP_ATOMIC);
  EXPECT_EQ(kern::blocks_in_use(), before + 2);
  kfree_skb(skb);
  kfree_skb(clone);
  EXPECT_EQ(kern::blocks_in_use(), before);
}

// Sections end in the reverse order of their start: one that ends early would leave the CPU's count
// wrong, and the next section would skip its lock or never deliver interrupts. Builds with
// assertions stop at the misuse.
TEST(CpuSectionDeathTest, EndingOutOfOrderStops) {
#ifdef NDEBUG
  GTEST_SKIP() << "checked in builds with assertions";
#else
  EXPECT_DEATH(
      {
        std::optional<kern::CpuSection> outer;
        outer.emplace();
        kern::CpuSection inner;
        outer.reset();
      },
      "CpuSection ended out of order");
#endif
}

// While one thread holds a claim no other thread gets onto the CPU, not even to take a frame from
// the pool; it gets there once the claim ends.
TEST(CpuClaim, OtherThreadsWaitForTheClaimToEnd) {
  std::atomic<bool> claim_over{false};
  std::atomic<bool> starting{false};
  std::atomic<bool> saw_claim_over{false};
  std::thread other;
  {
    kern::CpuClaim claim;
    other = std::thread([&] {
      starting = true;
      sk_buff *skb = alloc_skb(64, GFP_ATOMIC);
      saw_claim_over = claim_over.load();
      kfree_skb(skb);
    });
    while (!starting) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let it reach the CPU's door
    claim_over = true;
  }
  other.join();
  EXPECT_TRUE(saw_claim_over);
}

TEST(Dma, BlocksGetBusAddressesBelowTheEngineOffset) {
  dma_addr_t first_bus = 0;
  dma_addr_t second_bus = 0;
  auto *first = static_cast<unsigned char *>(pci_alloc_consistent(nullptr, 0x10000, &first_bus));
  auto *second = static_cast<unsigned char *>(pci_alloc_consistent(nullptr, 0x1000, &second_bus));
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_LT(first_bus + 0x10000u, 0x40000000u);
  EXPECT_EQ(virt_to_bus(first + 0x123), first_bus + 0x123);
  EXPECT_EQ(kern::bus_to_virt(first_bus + 0x100, 16), first + 0x100);
  EXPECT_EQ(kern::bus_to_virt(first_bus + 0xfff8, 16), nullptr);  // runs past the block
  EXPECT_EQ(virt_to_bus(&first_bus), 0u);                         // not DMA memory
  consistent_free(first, 0x10000, first_bus);
  EXPECT_EQ(kern::bus_to_virt(first_bus, 1), nullptr);
  dma_addr_t again_bus = 0;
  void *again = pci_alloc_consistent(nullptr, 0x8000, &again_bus);
  EXPECT_EQ(again_bus, first_bus);  // freed bus space is used again
  consistent_free(again, 0x8000, again_bus);
  consistent_free(second, 0x1000, second_bus);
}

TEST(SocketBuffers, ShareCheckClonesOnlyASharedBuffer) {
  size_t before = kern::blocks_in_use();
  const char text[] = "frame";
  sk_buff *skb = kern::make_frame("eth0", ETH_P_IP, text, sizeof text);
  EXPECT_EQ(skb_share_check(skb, GFP_ATOMIC), skb);
  ++skb->users;
  sk_buff *own = skb_share_check(skb, GFP_ATOMIC);
  ASSERT_NE(own, skb);
  EXPECT_EQ(skb->users, 1);
  EXPECT_EQ(own->data, skb->data);
  EXPECT_NE(virt_to_bus(own->data), 0u);
  ++skb->users;
  kern::fail_next(kern::Alloc::kKmalloc);
  EXPECT_EQ(skb_share_check(skb, GFP_ATOMIC), nullptr);
  EXPECT_EQ(skb->users, 2);
  kfree_skb(skb);
  kfree_skb(skb);
  kfree_skb(own);
  EXPECT_EQ(kern::blocks_in_use(), before);
}

TEST(SocketBuffers, CopyOwnsItsBytesAndKeepsTheHeaders) {
  size_t before = kern::blocks_in_use();
  const char text[] = "pppoe+ip";
  sk_buff *skb = kern::make_frame("ppp0", ETH_P_PPP_SES, text, sizeof text);
  skb->nh = skb->data + 6;
  sk_buff *copy = skb_copy(skb, GFP_ATOMIC);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy->data, skb->data);
  EXPECT_EQ(copy->nh, copy->data + 6);
  EXPECT_EQ(copy->dev, skb->dev);
  EXPECT_EQ(copy->protocol, skb->protocol);
  EXPECT_NE(virt_to_bus(copy->data), 0u);
  copy->data[0] = 'X';
  EXPECT_EQ(skb->data[0], 'p');
  kern::fail_next(kern::Alloc::kKmalloc);
  EXPECT_EQ(skb_copy(skb, GFP_ATOMIC), nullptr);
  kfree_skb(copy);
  kfree_skb(skb);
  EXPECT_EQ(kern::blocks_in_use(), before);
}

// Frames come from a fixed pool of 2 KiB chunks; past its end, and for larger frames, the heap takes
// over. Either way every byte must translate to a bus address and back, and distinct frames must
// never share bytes.
TEST(SocketBuffers, EveryFrameTranslatesBothWaysWhetherPooledOrNot) {
  size_t before = kern::blocks_in_use();
  constexpr size_t kFrames = 32768 + 2;  // the pool's chunks and two beyond
  std::vector<sk_buff *> frames;
  frames.reserve(kFrames + 1);
  for (size_t i = 0; i < kFrames; ++i) {
    sk_buff *skb = alloc_skb(64, GFP_ATOMIC);
    ASSERT_NE(skb, nullptr) << i;
    std::memcpy(skb->data, &i, sizeof i);
    frames.push_back(skb);
  }
  frames.push_back(alloc_skb(9000, GFP_ATOMIC));
  ASSERT_NE(frames.back(), nullptr);
  EXPECT_EQ(kern::blocks_in_use(), before + frames.size());
  for (size_t i = 0; i < frames.size(); i += (i < 16 || i + 16 > frames.size()) ? 1 : 997) {
    sk_buff *skb = frames[i];
    dma_addr_t bus = virt_to_bus(skb->data + 5);
    ASSERT_NE(bus, 0u) << i;
    EXPECT_LT(bus, 0x40000000u);
    EXPECT_EQ(kern::bus_to_virt(bus - 5, skb->len), skb->data) << i;
    if (i < kFrames) {
      EXPECT_EQ(std::memcmp(skb->data, &i, sizeof i), 0) << i;
    }
  }
  for (sk_buff *skb : frames) kfree_skb(skb);
  EXPECT_EQ(kern::blocks_in_use(), before);

  // Recycled heads come back clean: no header, connection or clone mark of their former frame.
  sk_buff *first = alloc_skb(32, GFP_ATOMIC);
  first->nh = first->data;
  first->conn = first;
  sk_buff *clone = skb_clone(first, GFP_ATOMIC);
  kfree_skb(clone);
  kfree_skb(first);
  sk_buff *fresh = alloc_skb(32, GFP_ATOMIC);
  EXPECT_EQ(fresh->nh, nullptr);
  EXPECT_EQ(fresh->conn, nullptr);
  EXPECT_FALSE(fresh->cloned);
  EXPECT_EQ(fresh->users, 1);
  EXPECT_FALSE(skb_shared(fresh));
  kfree_skb(fresh);
  EXPECT_EQ(kern::blocks_in_use(), before);
}

TEST(UserCopies, BadAddressesCopyNothing) {
  char source[16] = "caller's record";
  char target[16] = {};
  EXPECT_EQ(copy_from_user(target, reinterpret_cast<unsigned long>(source), sizeof source), 0u);
  EXPECT_STREQ(target, source);
  EXPECT_EQ(copy_from_user(target, 0x1000, sizeof target), sizeof target);
  EXPECT_EQ(copy_to_user(TASK_SIZE + 0x1000, source, sizeof source), sizeof source);
  EXPECT_FALSE(access_ok(VERIFY_READ, TASK_SIZE - 0x1000, 0x2000));
  EXPECT_TRUE(access_ok(VERIFY_READ, TASK_SIZE - 0x2000, 0x2000));
  EXPECT_TRUE(access_ok(VERIFY_READ, reinterpret_cast<unsigned long>(source), sizeof source));
}

TEST(Printk, KeepsLinesWithTheirLevels) {
  kern::printk_clear();
  printk("<3>failed %d\n", 7);
  printk("plain");
  auto lines = kern::printk_lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "<3>failed 7\n");
  EXPECT_EQ(lines[1], "plain");
}

TEST(Clock, VirtualTimeAdvancesOnlyWhenTold) {
  kern::clock_use_real(false);
  kern::clock_set(1000, 250);
  EXPECT_EQ(xtime_seconds(), 1000u);
  EXPECT_EQ(jiffies_now(), 100025ul);
  kern::clock_advance_ms(1750);
  EXPECT_EQ(xtime_seconds(), 1002u);
}

TEST(ReceivePath, WithoutHookFramesAreDelivered) {
  std::vector<kern::Fate> fates;
  kern::set_delivery_sink([&](const sk_buff &, kern::Fate fate, bool inspected) {
    fates.push_back(fate);
    EXPECT_FALSE(inspected);
  });
  kern::receive(kern::make_frame("eth0", ETH_P_IP, "x", 1));
  kern::set_delivery_sink(nullptr);
  EXPECT_EQ(fates, std::vector<kern::Fate>{kern::Fate::kDelivered});
}

}  // namespace
