// The quorvex command line as a user meets it: exit codes, the window's texts, the
// final line, and the rescue of the demo image.

#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "support/run_command.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using testing::RunCommand;

const std::string kCli = QUORVEX_CLI;

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("quorvex_cli_" + std::to_string(::getpid()));
    fs::create_directories(dir_ / "out");
    zeros_ = (dir_ / "zeros.img").string();
    std::ofstream(zeros_, std::ios::binary).seekp((8 << 20) - 1).put('\0');
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Out() const { return (dir_ / "out").string(); }
  fs::path dir_;
  std::string zeros_;
};

TEST_F(CliTest, RescueOfZerosFindsNothing) {
  const auto r = RunCommand(kCli + " rescue " + zeros_ + " --out " + Out() + " --quiet");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.LastLine(), "Rescued file 0");
  EXPECT_TRUE(fs::is_empty(Out()));
}

TEST_F(CliTest, FailingChecksPrintTheirTextAndExitOne) {
  struct Row { const char* name; std::string args; const char* text; };
  const std::vector<Row> rows = {
      {"no_type", " --out " + Out() + " --types ''", "Please select file type to rescue!"},
      {"no_folder", " --out " + (dir_ / "missing").string(), "Please select folder to save file!"},
      {"bad_range", " --out " + Out() + " --range 10-5", "invalid sector range!"},
      {"past_the_end", " --out " + Out() + " --range 0-16384", "invalid sector range!"},
  };
  for (const Row& row : rows) {
    const auto r = RunCommand(kCli + " rescue " + zeros_ + row.args + " --quiet");
    EXPECT_EQ(r.status, 1) << row.name;
    EXPECT_NE(r.err.find(row.text), std::string::npos) << row.name << ": " << r.err;
    EXPECT_EQ(r.out, "") << row.name;
  }
}

TEST_F(CliTest, MissingSourceExitsOneWithTheReason) {
  const auto r = RunCommand(kCli + " rescue " + (dir_ / "nothing.img").string() + " --out " + Out());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Failed to open file!"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("No such file or directory"), std::string::npos) << r.err;
}

TEST_F(CliTest, UsageErrorsExitTwo) {
  for (const std::string args : {"", " rescue", " rescue x", " frobnicate", " rescue x --out y --cluster 3K"}) {
    const auto r = RunCommand(kCli + args);
    EXPECT_EQ(r.status, 2) << args;
  }
  EXPECT_EQ(RunCommand(kCli + " --help").status, 0);
  const auto v = RunCommand(kCli + " --version");
  EXPECT_EQ(v.status, 0);
  EXPECT_NE(v.out.find("quorvex"), std::string::npos);
}

TEST_F(CliTest, ViewPrintsTheHeaderAndSixteenLinesOf117Characters) {
  const auto r = RunCommand(kCli + " view " + zeros_ + " 0");
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream in(r.out);
  std::string line;
  int lines = 0;
  while (std::getline(in, line)) {
    EXPECT_EQ(line.size(), 117u) << line;
    ++lines;
  }
  EXPECT_EQ(lines, 17);
  const auto past = RunCommand(kCli + " view " + zeros_ + " 16384");
  EXPECT_EQ(past.status, 1);
  EXPECT_NE(past.err.find("Invalid sector range!"), std::string::npos) << past.err;
}

TEST_F(CliTest, DetectReportsTheGeometryMkfsFatWrote) {
  const std::string image = (dir_ / "fat32.img").string();
  if (RunCommand("mkfs.fat -C -F 32 -s 8 " + image + " 65536").status != 0) GTEST_SKIP() << "no mkfs.fat";
  const auto r = RunCommand(kCli + " detect " + image);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("File system: FAT32"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Sector size: 512"), std::string::npos);
  EXPECT_NE(r.out.find("Sectors per cluster: 8"), std::string::npos);
  EXPECT_NE(r.out.find("Sectors: 131072"), std::string::npos);
}

TEST_F(CliTest, HugeSparseSourceNeedsMemoryOnlyForItsMap) {
  // 4 TiB of 512-byte sectors: a map of 1 GiB that stays untouched outside the range.
  const std::string huge = (dir_ / "huge.img").string();
  if (RunCommand("truncate -s 4T " + huge).status != 0) GTEST_SKIP() << "no sparse 4 TiB file here";
  const auto r = RunCommand("/usr/bin/time -f 'peak %M' " + kCli + " rescue " + huge + " --out " + Out() +
                            " --range 0-20000 --quiet");
  fs::remove(huge);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.LastLine(), "Rescued file 0");
  const auto at = r.err.find("peak ");
  if (at != std::string::npos) {
    EXPECT_LT(std::stoll(r.err.substr(at + 5)), 256 * 1024) << "KiB resident";
  }
}

#if !defined(__SANITIZE_ADDRESS__)
TEST_F(CliTest, AMapThatCannotBeHadIsNoEnoughMemory) {
  const std::string huge = (dir_ / "huge.img").string();
  if (RunCommand("truncate -s 4T " + huge).status != 0) GTEST_SKIP() << "no sparse 4 TiB file here";
  const auto r = RunCommand("ulimit -v 600000; " + kCli + " rescue " + huge + " --out " + Out() + " --range 0-100");
  fs::remove(huge);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("No enough memory!"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::is_empty(Out()));
}
#endif

TEST_F(CliTest, DemoImageGivesBackEveryDeletedArchive) {
  const std::string demo = std::string(QUORVEX_SOURCE_DIR) + "/demo";
  const std::string report = (dir_ / "report.xml").string();
  const auto r = RunCommand(kCli + " rescue " + demo + "/demo.img --out " + Out() + " --report " + report + " --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.LastLine(), "Rescued file 3");
  // Every rescued file is one of the originals, byte for byte, and nothing else was written.
  const auto sums = RunCommand("cd " + Out() + " && sha256sum * | cut -d' ' -f1 | sort");
  const auto want = RunCommand("cut -d' ' -f1 " + demo + "/originals/SHA256SUMS | sort");
  EXPECT_EQ(sums.out, want.out);
  const std::string xml = testing::Slurp(report);
  EXPECT_EQ(std::count(xml.begin(), xml.end(), '\n') > 0, true);
  size_t objects = 0;
  for (size_t at = xml.find("<fileobject>"); at != std::string::npos; at = xml.find("<fileobject>", at + 1)) ++objects;
  EXPECT_EQ(objects, 3u);
  EXPECT_NE(xml.find("<byte_run file_offset='0' img_offset="), std::string::npos);
}

}  // namespace
}  // namespace quorvex
