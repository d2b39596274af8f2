#include "loop.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <vector>

namespace {

std::vector<int> calls;

class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    fd_reg_init();
    timer_reg_init();
    calls.clear();
  }
  void TearDown() override {
    fd_reg_init();
    timer_reg_init();
  }
};

void record(int fd, unsigned events) {
  calls.push_back(fd * 10 + static_cast<int>(events));
}

fd_set set_of(std::initializer_list<int> fds) {
  fd_set s;
  FD_ZERO(&s);
  for (int fd : fds) FD_SET(fd, &s);
  return s;
}

TEST_F(Registry, DispatchFollowsRegistrationOrderAndMasks) {
  EXPECT_EQ(fd_reg(record, kFdEventRead, 9), 0);
  EXPECT_EQ(fd_reg(record, kFdEventRead | kFdEventWrite, 4), 1);
  EXPECT_EQ(fd_reg(record, kFdEventExcept, 7), 2);
  fd_set r = set_of({4, 7, 9}), w = set_of({4, 9}), e = set_of({});
  fd_dispatch(&r, &w, &e);
  EXPECT_EQ(calls, (std::vector<int>{91, 43}));
}

TEST_F(Registry, RefusesBadRegistrations) {
  EXPECT_EQ(fd_reg(record, 0, 3), -1);
  EXPECT_EQ(fd_reg(record, kFdEventRead, -1), -1);
  EXPECT_EQ(fd_reg(record, kFdEventRead, FD_SETSIZE), -1);
  EXPECT_EQ(fd_reg(record, kFdEventRead, 3), 0);
  EXPECT_EQ(fd_reg(record, kFdEventRead, 3), -1);
  EXPECT_EQ(fd_reg(nullptr, kFdEventRead, 8), -1);
  EXPECT_EQ(fd_reg(nullptr, 0, 3), -1);
}

TEST_F(Registry, HundredAndFirstDescriptorRefused) {
  for (int fd = 0; fd < kFdRegMax; ++fd) ASSERT_EQ(fd_reg(record, kFdEventRead, fd), fd);
  EXPECT_EQ(fd_reg(record, kFdEventRead, kFdRegMax), -1);
}

TEST_F(Registry, RemovalKeepsOrderAndClearsTheSets) {
  fd_reg(record, kFdEventRead, 5);
  fd_reg(record, kFdEventRead, 6);
  fd_reg(record, kFdEventRead, 7);
  EXPECT_EQ(fd_reg(nullptr, kFdEventRead, 6), 1);
  EXPECT_EQ(fd_reg(record, kFdEventRead, 2), 2);
  fd_set r = set_of({2, 5, 6, 7});
  fd_dispatch(&r, nullptr, nullptr);
  EXPECT_EQ(calls, (std::vector<int>{51, 71, 21}));
}

int removed_fd = -1;
void remove_next(int fd, unsigned events) {
  record(fd, events);
  fd_reg(nullptr, kFdEventRead, removed_fd);
}

TEST_F(Registry, EntryRemovedDuringDispatchIsNotCalledAndNoneIsSkipped) {
  removed_fd = 6;
  fd_reg(remove_next, kFdEventRead, 5);
  fd_reg(record, kFdEventRead, 6);
  fd_reg(record, kFdEventRead, 7);
  fd_set r = set_of({5, 6, 7});
  fd_dispatch(&r, nullptr, nullptr);
  EXPECT_EQ(calls, (std::vector<int>{51, 71}));
}

void remove_self(int fd, unsigned events) {
  record(fd, events);
  fd_reg(nullptr, kFdEventRead, fd);
}

TEST_F(Registry, SelfRemovalDoesNotSkipTheNextEntry) {
  fd_reg(remove_self, kFdEventRead, 5);
  fd_reg(record, kFdEventRead, 6);
  fd_set r = set_of({5, 6});
  fd_dispatch(&r, nullptr, nullptr);
  EXPECT_EQ(calls, (std::vector<int>{51, 61}));
}

void replace_descriptor(int fd, unsigned events) {
  record(fd, events);
  fd_reg(nullptr, kFdEventRead, 6);
  fd_reg(record, kFdEventRead, 6);  // a new descriptor that reuses the number
}

TEST_F(Registry, DescriptorReusedDuringDispatchWaitsForItsOwnEvent) {
  fd_reg(replace_descriptor, kFdEventRead, 5);
  fd_reg(record, kFdEventRead, 6);
  fd_set r = set_of({5, 6});
  fd_dispatch(&r, nullptr, nullptr);
  EXPECT_EQ(calls, (std::vector<int>{51}));
}

uint32_t timer_a(uint32_t now, uint32_t, uint32_t elapsed) {
  calls.push_back(static_cast<int>(elapsed));
  return now;
}

uint32_t timer_b(uint32_t now, uint32_t, uint32_t) {
  calls.push_back(-1);
  return now;
}

TEST_F(Registry, TimersRunInOrderWhenTheirPeriodElapsed) {
  EXPECT_EQ(timer_reg(timer_a, 500), 0);
  EXPECT_EQ(timer_reg(timer_b, 33), 1);
  timer_dispatch(100000);  // last time 0: both due
  EXPECT_EQ(calls, (std::vector<int>{100000, -1}));
  calls.clear();
  timer_dispatch(100032);
  EXPECT_TRUE(calls.empty());
  timer_dispatch(100033);
  EXPECT_EQ(calls, (std::vector<int>{-1}));
  calls.clear();
  timer_dispatch(100500);
  EXPECT_EQ(calls, (std::vector<int>{500, -1}));
}

TEST_F(Registry, TimerRefusals) {
  EXPECT_EQ(timer_reg(nullptr, 5), -1);
  EXPECT_EQ(timer_reg(timer_a, 0), -1);
  for (int i = 0; i < kTimerRegMax; ++i) ASSERT_EQ(timer_reg(timer_a, 1000), i);
  EXPECT_EQ(timer_reg(timer_a, 1000), -1);
}

TEST_F(Registry, TimerAcrossTheClockWrap) {
  timer_reg(timer_a, 500);
  timer_dispatch(0xFFFFFF00u);
  calls.clear();
  // Across the wrap the elapsed time counts one millisecond less.
  timer_dispatch(0x000000F4u);
  EXPECT_TRUE(calls.empty());
  timer_dispatch(0x000000F5u);
  EXPECT_EQ(calls, (std::vector<int>{500}));
}

TEST_F(Registry, ClockSetBackFiresAtOnce) {
  timer_reg(timer_a, 1000);
  timer_dispatch(50000);
  calls.clear();
  timer_dispatch(40000);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(static_cast<uint32_t>(calls[0]), 40000u - 50000u - 1u);
}

uint32_t catch_up(uint32_t, uint32_t last, uint32_t elapsed) {
  calls.push_back(static_cast<int>(elapsed));
  return last + 1000;  // one whole second consumed per call
}

TEST_F(Registry, CallbackDecidesTheNextLastTime) {
  timer_reg(catch_up, 500);
  timer_dispatch(10000);
  timer_dispatch(10001);  // last is 1000: still 9001 behind
  EXPECT_EQ(calls, (std::vector<int>{10000, 9001}));
}

}  // namespace
