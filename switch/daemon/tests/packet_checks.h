// Checks of the packet module's pools shared by its tests.
#pragma once

#include "packet.h"

#include <gtest/gtest.h>

// Every buffer back in its pool, nothing waiting in the lists.
inline void expect_pools_full() {
  const PacketStats s = packet_stats_get();
  EXPECT_EQ(s.free[0], kPacketSmallCount);
  EXPECT_EQ(s.free[1], kPacketMediumCount);
  EXPECT_EQ(s.free[2], kPacketBigCount);
  EXPECT_EQ(s.rx_list + s.tx_list, 0u);
}
