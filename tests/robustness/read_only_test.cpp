// Read-only proof: rescuing, viewing, detecting and backing up from an image (mode 0444)
// and, where the machine allows one, from a read-only loop device leaves every byte of the
// source as it was, and the source is opened for reading only (the open file's access mode
// as the kernel reports it in /proc/self/fdinfo).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/sector_device.h"
#include "robustness/robustness_fixture.h"
#include "support/run_command.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using testing::Quoted;
using testing::TempFolder;

const std::string kCli = QUORVEX_CLI;

/// FNV-1a over a file's bytes.
uint64_t HashFile(const fs::path& path) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (uint8_t b : testing::ReadBytes(path)) h = (h ^ b) * 0x100000001b3ull;
  return h;
}

/// The open flags of this process's descriptor for target, from /proc/self/fdinfo.
std::optional<int> OpenFlagsOf(const fs::path& target) {
  std::error_code ec;
  const fs::path wanted = fs::canonical(target, ec);
  for (const auto& fd : fs::directory_iterator("/proc/self/fd", ec)) {
    std::error_code link_ec;
    if (fs::read_symlink(fd.path(), link_ec) != wanted) continue;
    std::ifstream info("/proc/self/fdinfo/" + fd.path().filename().string());
    std::string key;
    while (info >> key) {
      if (key == "flags:") {
        std::string octal;
        info >> octal;
        return static_cast<int>(std::stol(octal, nullptr, 8));
      }
    }
  }
  return std::nullopt;
}

/// Opens path as the rescue does, checks the open is read-only, and rescues into out.
void RescueThroughEngine(const fs::path& path, const TempFolder& out, bool expect_all) {
  int err = 0;
  std::unique_ptr<SectorDevice> device = OpenPosixDevice(path.string(), &err);
  ASSERT_NE(device, nullptr) << "errno " << err;
  const std::optional<int> flags = OpenFlagsOf(path);
  ASSERT_TRUE(flags.has_value()) << "no descriptor for " << path;
  EXPECT_EQ(*flags & O_ACCMODE, O_RDONLY);
  SourceState source;
  ASSERT_TRUE(testing::UseDevice(source, std::move(device), path.string()));
  const testing::RescueResult result = testing::RescueInto(source, out);
  EXPECT_EQ(result.outcome.message_slot, 0);
  EXPECT_EQ(result.outcome.rescued_count, result.files.size());
  if (expect_all) {
    EXPECT_EQ(result.files.size(), testing::Originals().size());
  }
}

/// The command line's rescue, view, detect and backup of source, each ending with status 0.
void UseThroughCommandLine(const std::string& source, const TempFolder& work) {
  const std::string out = (work.path() / "cli_out").string();
  fs::create_directories(out);
  for (const std::string& command :
       {kCli + " rescue " + source + " --out " + out + " --types rar,zip,7z,cab --quiet",
        kCli + " view " + source + " 0", kCli + " view " + source + " 40", kCli + " detect " + source,
        kCli + " backup " + source + " " + Quoted(work.path() / "copy.img") + " --quiet"}) {
    const auto r = testing::RunCommand(command);
    EXPECT_EQ(r.status, 0) << command << "\n" << r.err;
  }
  EXPECT_FALSE(fs::is_empty(out));
}

class ReadOnlyProof : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::HaveFatTools()) GTEST_SKIP() << "needs mkfs.fat (dosfstools) and mcopy/mdel (mtools)";
    image_ = work_.path() / "source.img";
    ASSERT_TRUE(testing::BuildArchiveImage(image_));
    fs::permissions(image_, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    ASSERT_EQ(::stat(image_.c_str(), &before_), 0);
    hash_before_ = HashFile(image_);
  }
  void ExpectImageUnchanged() {
    struct stat after {};
    ASSERT_EQ(::stat(image_.c_str(), &after), 0);
    EXPECT_EQ(HashFile(image_), hash_before_);
    EXPECT_EQ(after.st_size, before_.st_size);
    EXPECT_EQ(after.st_mtim.tv_sec, before_.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before_.st_mtim.tv_nsec);
    EXPECT_EQ(after.st_mode & 0777, 0444u);
  }
  TempFolder work_{"readonly"};
  TempFolder out_{"readonly_out"};
  fs::path image_;
  struct stat before_ {};
  uint64_t hash_before_ = 0;
};

TEST_F(ReadOnlyProof, ImageFileIsOpenedReadOnlyAndLeftUnchanged) {
  RescueThroughEngine(image_, out_, true);
  UseThroughCommandLine(Quoted(image_), work_);
  EXPECT_EQ(testing::ReadBytes(work_.path() / "copy.img"), testing::ReadBytes(image_));
  ExpectImageUnchanged();
}

/// A read-only loop device over the image, detached again at the end.
class LoopDevice {
 public:
  explicit LoopDevice(const fs::path& image) {
    if (::geteuid() != 0 || !testing::Shell("command -v losetup")) return;
    const auto r = testing::RunCommand("losetup -r -f --show " + Quoted(image));
    if (r.status != 0) return;
    const std::string dev = r.LastLine();
    struct stat st {};
    if (dev.rfind("/dev/loop", 0) == 0 && ::stat(dev.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) path_ = dev;
    else if (!dev.empty()) testing::Shell("losetup -d " + dev);
  }
  ~LoopDevice() {
    if (!path_.empty()) testing::Shell("losetup -d " + path_);
  }
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST_F(ReadOnlyProof, ReadOnlyLoopDeviceIsLeftUnchanged) {
  LoopDevice loop(image_);
  if (loop.path().empty()) GTEST_SKIP() << "no read-only loop device here (needs root and losetup)";
  const uint64_t device_before = HashFile(loop.path());
  EXPECT_EQ(device_before, hash_before_);
  const auto ro = testing::RunCommand("blockdev --getro " + loop.path());
  if (ro.status == 0) {
    EXPECT_EQ(ro.LastLine(), "1");
  }
  RescueThroughEngine(loop.path(), out_, true);
  UseThroughCommandLine(loop.path(), work_);
  EXPECT_EQ(HashFile(loop.path()), device_before);
  ExpectImageUnchanged();
}

}  // namespace
}  // namespace quorvex
