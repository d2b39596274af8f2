// Runs the real vostrel against partition files made by each test, through the flash library's
// TORVEL_MTD_MAP table override.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "emulator.h"

namespace fs = std::filesystem;

namespace {

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

class VostrelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("vostrel_test." + std::to_string(getpid()) + "." +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  // A name that vostrel turns into "/dev/<name>" and that resolves to `file` inside the test folder.
  std::string mtd_name(const std::string &file) const { return "../" + (dir / file).string().substr(1); }
  std::string device_of(const std::string &file) const { return "/dev/" + mtd_name(file); }

  void write_map(const std::vector<std::pair<std::string, int>> &entries) {
    std::ofstream map(dir / "map");
    for (const auto &[path, value] : entries) map << path << ' ' << value << '\n';
  }

  RunResult run(const std::vector<std::string> &args) {
    int pipefd[2];
    EXPECT_EQ(pipe(pipefd), 0);
    pid_t pid = fork();
    if (pid == 0) {
      dup2(pipefd[1], 1);
      close(pipefd[0]);
      // The flash library speaks on standard error while it loads, before vostrel's main runs.
      if (!std::freopen((dir / "stderr").c_str(), "w", stderr)) _exit(126);
      setenv("TORVEL_MTD_MAP", (dir / "map").c_str(), 1);
      std::vector<std::string> command{std::getenv("VOSTREL_BIN")};
      command.insert(command.end(), args.begin(), args.end());
      command = rt_testing::emulated_argv(command);
      std::vector<char *> argv;
      for (const auto &a : command) argv.push_back(const_cast<char *>(a.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(pipefd[1]);
    RunResult result;
    char buf[4096];
    for (ssize_t n; (n = read(pipefd[0], buf, sizeof buf)) > 0;)
      result.out.append(buf, static_cast<size_t>(n));
    close(pipefd[0]);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    result.err = read_file(dir / "stderr");
    return result;
  }

  static std::string read_file(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  static void write_file(const fs::path &p, const std::string &bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
  }
  static std::string random_bytes(size_t n) {
    std::mt19937 gen(42);
    std::string s(n, '\0');
    for (auto &c : s) c = static_cast<char>(gen());
    return s;
  }

  fs::path dir;
};

const std::string kUsage =
    "This function will erase or program mtd.\n"
    "Usage: vostrel <erase|program> <mtdx> [filename]\n"
    "Note: filename only required when program.\n"
    "System mtd map:\n" +
    std::string(60, '=') + "\n";

TEST_F(VostrelTest, UsagePathsPrintTheHelpAndExitZero) {
  write_map({});
  for (const auto &args :
       std::vector<std::vector<std::string>>{{}, {"erase"}, {"format", "mtd1"}, {"program", "mtd1"}}) {
    RunResult r = run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(0, kUsage.size()), kUsage) << "args: " << args.size();
  }
}

TEST_F(VostrelTest, NameOutsideTheTableIsInvalidEvenWhenDevExists) {
  write_map({{device_of("part0"), 0}});
  for (const std::string &name : std::vector<std::string>{"null", "zero", std::string(5000, 'x')}) {
    RunResult r = run({"erase", name});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind(name + " is an invalid mtd name!\n" + kUsage, 0), 0u);
  }
}

TEST_F(VostrelTest, EraseFillsThePartitionWithOnes) {
  write_file(dir / "part2", random_bytes(20000));
  write_map({{device_of("part0"), 0}, {device_of("part2"), 2}});
  RunResult r = run({"erase", mtd_name("part2")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Erasing " + device_of("part2") + "...\nErase " + device_of("part2") + " successful!\n");
  EXPECT_EQ(read_file(dir / "part2"), std::string(20000, '\xff'));
  EXPECT_EQ(read_file(dir / "part0"), "");
}

TEST_F(VostrelTest, FailedEraseReportsTheCodeAndExitsOne) {
  write_map({{device_of("missing"), 3}});
  RunResult r = run({"erase", mtd_name("missing")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Erasing " + device_of("missing") + "...\nFail to erase " + device_of("missing") +
                       ", ret is -2\n");
}

TEST_F(VostrelTest, ProgrammingAnEmptyImagePrintsNoDots) {
  write_file(dir / "part1", "");
  write_file(dir / "empty.img", "");
  write_map({{device_of("part1"), 1}});
  std::string image = (dir / "empty.img").string();
  RunResult r = run({"program", mtd_name("part1"), image});
  EXPECT_EQ(r.status, 0);
  const std::string dev = device_of("part1");
  EXPECT_EQ(r.out, "Open " + dev + " successful.\nOpen " + image + " successful\nPrograming " + dev +
                       "...\n\nProgram " + dev + " successful!\n");
}

TEST_F(VostrelTest, ImageOfSeveralBlocksLandsByteForByte) {
  const std::string image_bytes = random_bytes(3 * 8192 + 1000);
  write_file(dir / "part4", std::string(40000, '\xff'));
  write_file(dir / "fw.img", image_bytes);
  write_map({{device_of("part4"), 4}});
  RunResult r = run({"program", mtd_name("part4"), (dir / "fw.img").string()});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("...\n....\nProgram " + device_of("part4") + " successful!\n"), std::string::npos);
  std::string written = read_file(dir / "part4");
  EXPECT_EQ(written.substr(0, image_bytes.size()), image_bytes);
  EXPECT_EQ(written.substr(image_bytes.size()), std::string(40000 - image_bytes.size(), '\xff'));
}

TEST_F(VostrelTest, FailedWriteIsAFailure) {
  write_file(dir / "fw.img", random_bytes(10000));
  write_map({{"/dev/full", 3}});
  RunResult r = run({"program", "full", (dir / "fw.img").string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Fail to write 8192 bytes to </dev/full>\n"), std::string::npos);
  EXPECT_EQ(r.out.find("successful!"), std::string::npos);
}

TEST_F(VostrelTest, MissingImageOrDeviceShowsTheUsage) {
  write_map({{device_of("part1"), 1}, {device_of("absent"), 2}});
  write_file(dir / "part1", "");
  RunResult no_image = run({"program", mtd_name("part1"), "/nonexistent.img"});
  EXPECT_EQ(no_image.status, 0);
  EXPECT_NE(no_image.out.find("Can not open file /nonexistent.imgs\n" + kUsage), std::string::npos);

  RunResult no_device = run({"program", mtd_name("absent"), "/nonexistent.img"});
  EXPECT_EQ(no_device.status, 0);
  EXPECT_EQ(no_device.out.rfind("Can not open <" + device_of("absent") + ">.\n" + kUsage, 0), 0u);
}

// A partition is a flash device of fixed size: programming stops at its end instead of growing it.
TEST_F(VostrelTest, ImagesAreProgrammedOnlyWithinThePartitionSize) {
  struct Case {
    size_t partition;
    size_t image;
  };
  for (const Case c : {Case{20000, 20000}, Case{16384, 16384}, Case{1, 1}, Case{20000, 50000},
                       Case{16384, 16385}, Case{0, 1}}) {
    SCOPED_TRACE(std::to_string(c.image) + " bytes into " + std::to_string(c.partition));
    const std::string image_bytes = random_bytes(c.image);
    write_file(dir / "part2", std::string(c.partition, '\xff'));
    write_file(dir / "fw.img", image_bytes);
    write_map({{device_of("part2"), 2}});
    RunResult r = run({"program", mtd_name("part2"), (dir / "fw.img").string()});
    const std::string dev = device_of("part2");
    if (c.image <= c.partition) {
      EXPECT_EQ(r.status, 0);
      EXPECT_NE(r.out.find("\nProgram " + dev + " successful!\n"), std::string::npos);
    } else {
      // The block that runs past the end is the one reported.
      const size_t failing_block = std::min<size_t>(8192, c.image - c.partition / 8192 * 8192);
      EXPECT_EQ(r.status, 1);
      EXPECT_NE(r.out.find("Fail to write " + std::to_string(failing_block) + " bytes to <" + dev + ">\n"),
                std::string::npos)
          << r.out;
      EXPECT_EQ(r.out.find("successful!"), std::string::npos);
    }
    // What fits is written, and the partition keeps its size.
    const std::string written = read_file(dir / "part2");
    EXPECT_EQ(written.size(), c.partition);
    EXPECT_TRUE(written == image_bytes.substr(0, c.partition));
  }
}

TEST_F(VostrelTest, MapWithTwoLinesOfOnePartitionIsRefused) {
  const std::string first = random_bytes(3000);
  const std::string second = std::string(3000, 'b');
  write_file(dir / "d0", first);
  write_file(dir / "d1", second);
  write_map({{device_of("d0"), 0}, {device_of("d1"), 0}});
  RunResult r = run({"erase", mtd_name("d1")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind(mtd_name("d1") + " is an invalid mtd name!\n" + kUsage, 0), 0u) << r.out;
  EXPECT_NE(r.err.find("lines 1 and 2 both give partition 0"), std::string::npos) << r.err;
  EXPECT_EQ(read_file(dir / "d0"), first);
  EXPECT_EQ(read_file(dir / "d1"), second);
}

// A map names every partition there is: a device it leaves out is not one, even if it shares a
// partition value with a mapped file.
TEST_F(VostrelTest, MapIsTheWholeTable) {
  const std::string contents = random_bytes(3000);
  write_file(dir / "part3", contents);
  write_map({{device_of("part3"), 3}});
  RunResult r = run({"erase", "mtd3"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("mtd3 is an invalid mtd name!\n" + kUsage, 0), 0u) << r.out;
  EXPECT_EQ(read_file(dir / "part3"), contents);
}

}  // namespace
