// The access layer's back end selection and its in-process recording.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>

#include "swgenio.h"

namespace {

TEST(AccessLayer, InProcessBackEndRecordsDecodedRegisterAccesses) {
  swgenio_attach_in_process([](uint32_t code, std::span<uint8_t> record) {
    if (code == swgenio::k32BitRead) record[4] = 0x42;
    return code == swgenio::k32BitWrite ? -EIO : 0;
  });
  const int fd = swgenio_open("/dev/swgenio", O_RDWR);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(fcntl(fd, F_SETFD, FD_CLOEXEC), 0);

  swgenio::BusRecord read{swgenio::bus_offset(3, 1, 2), 0};
  ASSERT_EQ(swgenio_ioctl(fd, swgenio::k32BitRead, &read), 0);
  EXPECT_EQ(read.value, 0x42u);
  swgenio::BusRecord write{swgenio::bus_offset(5, 0, 14), 9};
  errno = 0;
  EXPECT_EQ(swgenio_ioctl(fd, swgenio::k32BitWrite, &write), -1);
  EXPECT_EQ(errno, EIO);
  swgenio::SpiTimingRecord timing{{511, 1, 400}};
  ASSERT_EQ(swgenio_ioctl(fd, swgenio::kSpiTiming, &timing), 0);

  const auto &seen = swgenio_recorded();
  ASSERT_EQ(seen.size(), 3u);
  using K = SwgenioAccess::Kind;
  EXPECT_EQ(seen[0], (SwgenioAccess{K::kBusRead, 3, 1, 2, 0x42, swgenio::k32BitRead, 0}));
  EXPECT_EQ(seen[1], (SwgenioAccess{K::kBusWrite, 5, 0, 14, 9, swgenio::k32BitWrite, -EIO}));
  EXPECT_EQ(seen[2].kind, K::kOther);
  EXPECT_EQ(seen[2].request, swgenio::kSpiTiming);
  swgenio_clear_recorded();
  EXPECT_TRUE(swgenio_recorded().empty());
  swgenio_close(fd);
  swgenio_detach_in_process();
}

TEST(AccessLayer, PathThatIsNotASocketOpensAsADevice) {
  ::setenv("PORTVISOR_SWITCH_DEVICE", "/nonexistent/swgenio", 1);
  errno = 0;
  EXPECT_EQ(swgenio_open("/dev/swgenio", O_RDWR), -1);
  EXPECT_EQ(errno, ENOENT);
  ::unsetenv("PORTVISOR_SWITCH_DEVICE");
  // A plain file is opened as the real device would be; its ioctl is refused by the kernel.
  const int fd = swgenio_open("/dev/null", O_RDWR);
  ASSERT_GE(fd, 0);
  swgenio::BusRecord record{0, 0};
  EXPECT_EQ(swgenio_ioctl(fd, swgenio::k32BitRead, &record), -1);
  EXPECT_EQ(errno, ENOTTY);
  swgenio_close(fd);
}

}  // namespace
