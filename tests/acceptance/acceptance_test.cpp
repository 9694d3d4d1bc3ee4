// Rescues as an examiner runs them: disk images made by make_images.sh with the real tools
// (FAT12/16/32, NTFS, exFAT; deleted, formatted over, fragmented), rescued by the quorvex
// command line. Every archive the rescue can reach must come back byte-identical under the
// name of its first sector, and nothing else may be written.
//
// An archive is reachable when it still lies on the image (every sector of it found at a
// sector boundary; small files kept inside an NTFS file record are not), its first sector
// lies on the cluster grid the rescue examines, and no live file nothing identifies lies
// between its clusters (unless the rescue scans free space only). An archive whose start is
// still there but whose middle a new file system overwrote may be saved with the new bytes
// in it: without unpacking, nothing tells them from its own.
//
// Needs the Debian packages zip, libarchive-tools, 7zip, gcab, imagemagick, ffmpeg,
// dosfstools, mtools, exfatprogs and ntfs-3g (exfat-fuse for the deleted exFAT images);
// skipped when one is missing.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <unistd.h>
#include <unordered_set>
#include <vector>

#include "engine/output_file.h"
#include "support/run_command.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using testing::RunCommand;
using testing::Slurp;

const std::string kCli = QUORVEX_CLI;
const std::string kScript = std::string(QUORVEX_SOURCE_DIR) + "/tests/acceptance/make_images.sh";
constexpr int64_t kSector = 512;

struct Archive {
  std::string file;
  std::string bytes;
};

struct Image {
  std::string name;
  std::vector<std::string> archives;
  std::set<std::string> deleted;      // only for images with live archives too
  std::set<std::string> around_live;  // fragmented around live unidentified files
  bool mixed = false;
};

/// Where an archive lies on an image: the first sector holding its start (-1: none), and
/// whether every other sector of it is still there too.
struct Placement {
  int64_t first_sector = -1;
  bool whole = false;
};

/// The images, made once per test program run; several test processes share one copy.
class Images {
 public:
  static Images& Get() {
    static Images images;
    return images;
  }
  bool ok() const { return ok_; }
  const std::string& why() const { return why_; }
  const std::string& dir() const { return dir_; }
  const std::vector<Image>& images() const { return images_; }
  const Image& image(const std::string& name) const {
    for (const Image& i : images_)
      if (i.name == name) return i;
    static const Image none;
    return none;
  }
  const Archive& archive(const std::string& file) const { return archives_.at(file); }
  std::string ImagePath(const std::string& name) const { return dir_ + "/" + name + ".img"; }

  /// Where the archive lies on the image.
  Placement Place(const std::string& image, const std::string& file) {
    const std::string key = image + "/" + file;
    auto it = placements_.find(key);
    if (it != placements_.end()) return it->second;
    return placements_[key] = Locate(image, file);
  }

 private:
  Images() {
    const std::string script = Slurp(kScript);
    const std::string key = std::to_string(std::hash<std::string>{}(script));
    dir_ = (fs::temp_directory_path() / ("quorvex_acceptance_" + key)).string();
    if (!fs::exists(dir_ + "/manifest.txt")) {
      const std::string mine = dir_ + ".part" + std::to_string(::getpid());
      fs::remove_all(mine);
      const auto r = RunCommand("bash " + kScript + " " + mine);
      if (r.status == 77) {
        why_ = "a tool is missing: " + r.err;
        fs::remove_all(mine);
        return;
      }
      if (r.status != 0) {
        why_ = "make_images.sh failed: " + r.err;
        fs::remove_all(mine);
        return;
      }
      std::error_code ec;
      fs::rename(mine, dir_, ec);  // another process may have finished first
      if (ec) fs::remove_all(mine);
    }
    std::ifstream in(dir_ + "/manifest.txt");
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream words(line);
      std::string what, name, file;
      words >> what >> name >> file;
      if (what == "image") images_.push_back({name, {}, {}, {}, false});
      Image* image = nullptr;
      for (Image& i : images_)
        if (i.name == name) image = &i;
      if (image == nullptr) continue;
      if (what == "archive") image->archives.push_back(file);
      if (what == "deleted") image->deleted.insert(file);
      if (what == "around_live") image->around_live.insert(file);
      if (what == "mixed") image->mixed = true;
      if (!file.empty() && archives_.count(file) == 0) archives_[file] = {file, Slurp(dir_ + "/src/" + file)};
    }
    ok_ = !images_.empty();
    if (!ok_) why_ = "no images in " + dir_;
  }

  Placement Locate(const std::string& image_name, const std::string& file) {
    const std::string& bytes = archives_.at(file).bytes;
    if (image_bytes_name_ != image_name) {
      image_bytes_ = Slurp(ImagePath(image_name));
      image_bytes_name_ = image_name;
      sectors_.clear();
      for (size_t at = 0; at + kSector <= image_bytes_.size(); at += kSector)
        sectors_.insert(std::hash<std::string_view>{}(std::string_view(image_bytes_).substr(at, kSector)));
    }
    const std::string_view image(image_bytes_);
    Placement placement;
    // Every whole sector of the archive somewhere on a sector boundary.
    bool all_sectors = true;
    for (size_t at = 0; at + kSector <= bytes.size() && all_sectors; at += kSector)
      if (sectors_.count(std::hash<std::string_view>{}(std::string_view(bytes).substr(at, kSector))) == 0)
        all_sectors = false;
    // The start, and the last part sector, at sector boundaries.
    const std::string_view head = std::string_view(bytes).substr(0, std::min<size_t>(bytes.size(), kSector));
    const size_t tail_length = bytes.size() % kSector;
    const std::string_view tail = std::string_view(bytes).substr(bytes.size() - tail_length);
    // Archives made from the same files by different zippers can begin with the same sector:
    // the start is where the longest run of the archive follows.
    int64_t first = -1;
    size_t best_run = 0;
    bool tail_found = tail_length == 0;
    for (size_t at = 0; at + kSector <= image.size(); at += kSector) {
      const std::string_view sector = image.substr(at, kSector);
      if (sector.substr(0, head.size()) == head) {
        size_t run = 0;
        while (run < bytes.size() && at + run < image.size() &&
               image.substr(at + run, kSector).substr(0, std::min<size_t>(kSector, bytes.size() - run)) ==
                   std::string_view(bytes).substr(run, kSector))
          run += kSector;
        if (first < 0 || run > best_run) {
          first = static_cast<int64_t>(at) / kSector;
          best_run = run;
        }
      }
      if (!tail_found && sector.substr(0, tail_length) == tail) tail_found = true;
    }
    placement.first_sector = first;
    placement.whole = first >= 0 && all_sectors && tail_found;
    return placement;
  }

  bool ok_ = false;
  std::string why_;
  std::string dir_;
  std::vector<Image> images_;
  std::map<std::string, Archive> archives_;
  std::map<std::string, Placement> placements_;
  std::string image_bytes_name_;
  std::string image_bytes_;
  std::unordered_set<size_t> sectors_;
};

/// The cluster grid the rescue examines, as `quorvex detect` reports it.
struct Grid {
  int64_t sectors_per_cluster = 1;
  int64_t offset = 0;
};

Grid DetectGrid(const std::string& image) {
  Grid grid;
  const auto r = RunCommand(kCli + " detect " + image);
  std::istringstream in(r.out);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("Sectors per cluster: ", 0) == 0) grid.sectors_per_cluster = std::stoll(line.substr(21));
    if (line.rfind("Cluster offset: ", 0) == 0) grid.offset = std::stoll(line.substr(16));
  }
  if (grid.offset < 0) grid.offset = 0;
  return grid;
}

std::string Extension(const std::string& file) {
  if (file.size() >= 4 && file.compare(file.size() - 4, 4, ".zip") == 0) return ".ZIP";
  if (file.size() >= 4 && file.compare(file.size() - 4, 4, ".rar") == 0) return ".RAR";
  if (file.size() >= 4 && file.compare(file.size() - 4, 4, ".cab") == 0) return ".CAB";
  return ".7Z";
}

/// Kinds the classic identification and walks give back whole: not 7z 0.4 (what 7zz
/// writes), RAR 5, streamed (data-descriptor) or ZIP64 zips.
bool ClassicKind(const std::string& file) {
  return file.rfind("zipdd_", 0) != 0 && file.rfind("zip64_", 0) != 0 && file.rfind("7z_", 0) != 0 &&
         file.rfind("rar5_", 0) != 0;
}

struct Rescue {
  std::string types = "rar,zip,7z,cab";  // empty: the default types
  std::string extra;                     // further options
  bool classic = false;
  bool free_space_only = false;
  bool use_old_grid = false;  // --cluster given: the grid is that of the option
  int64_t old_grid = 1;
};

struct Outcome {
  std::map<std::string, std::string> files;  // name -> bytes
  std::string last_line;
  int status = -1;
  std::string err;
};

Outcome RunRescue(const std::string& image, const Rescue& rescue, const std::string& out) {
  fs::remove_all(out);
  fs::create_directories(out);
  std::string command = kCli + " rescue " + image + " --out " + out + " --quiet";
  if (!rescue.types.empty()) command += " --types " + rescue.types;
  if (rescue.classic) command += " --classic";
  if (rescue.free_space_only) command += " --free-space-only";
  command += rescue.extra;
  const auto r = RunCommand(command);
  Outcome o;
  o.status = r.status;
  o.err = r.err;
  o.last_line = r.LastLine();
  for (const auto& entry : fs::directory_iterator(out)) o.files[entry.path().filename().string()] = Slurp(entry.path());
  return o;
}

bool Selected(const Rescue& rescue, const std::string& file) {
  const std::string types = rescue.types.empty() ? "rar,zip,7z" : rescue.types;
  const std::string kind = file.substr(file.rfind('.') + 1);
  return ("," + types + ",").find("," + kind + ",") != std::string::npos;
}

/// Rescues image with the options and checks every reachable archive came back whole under
/// its name and nothing else was written (classic: a described cut may be written where an
/// archive of a newer kind, or one fragmented around live files, begins). Returns the files
/// written.
std::map<std::string, std::string> CheckImage(const Image& image, const Rescue& rescue,
                                              const std::set<std::string>& only = {}) {
  Images& images = Images::Get();
  const std::string path = images.ImagePath(image.name);
  Grid grid = DetectGrid(path);
  if (rescue.use_old_grid) grid = {rescue.old_grid, 0};
  const std::string out = images.dir() + "/out_" + std::to_string(::getpid());
  const Outcome o = RunRescue(path, rescue, out);
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.last_line, "Rescued file " + std::to_string(o.files.size()));

  std::map<std::string, std::string> expected;  // name -> archive file
  std::map<std::string, std::string> begins;    // name of any archive's first sector -> file
  std::set<std::string> damaged;                // names of archives overwritten after their start
  for (const std::string& file : image.archives) {
    const Placement placement = images.Place(image.name, file);
    const int64_t first = placement.first_sector;
    if (first < 0) continue;  // start overwritten, or not on sector boundaries
    const std::string name = "TEST_" + LetterName(8, first) + Extension(file);
    begins[name] = file;
    if (!placement.whole) {
      damaged.insert(name);
      continue;
    }
    if (!only.empty() && only.count(file) == 0) continue;
    if ((first - grid.offset) % grid.sectors_per_cluster != 0) continue;
    if (!rescue.free_space_only && image.around_live.count(file)) continue;
    if (!Selected(rescue, file) || (rescue.classic && !ClassicKind(file))) continue;
    expected[name] = file;
  }
  for (const auto& [name, file] : expected) {
    auto it = o.files.find(name);
    if (it == o.files.end()) {
      ADD_FAILURE() << image.name << ": " << file << " not rescued (expected as " << name << ")";
      continue;
    }
    EXPECT_TRUE(it->second == images.archive(file).bytes) << image.name << ": " << name << " differs from " << file;
  }
  for (const auto& [name, bytes] : o.files) {
    if (expected.count(name)) continue;
    auto begun = begins.find(name);
    // A new file system's metadata written over an archive's middle cannot be told from its
    // data without unpacking it: the archive may be saved with the new bytes in it.
    if (damaged.count(name)) continue;
    // The classic walk saves a ZIP cut where it meets a record it does not know: in the
    // newer kinds, or in another file's data between the clusters of a fragmented archive.
    const bool described_cut = rescue.classic && begun != begins.end() &&
                               (!ClassicKind(begun->second) || image.around_live.count(begun->second) != 0);
    EXPECT_TRUE(described_cut) << image.name << ": wrote " << name << " (" << bytes.size() << " bytes)"
                               << (begun != begins.end() ? " where " + begun->second + " begins" : "");
  }
  return o.files;
}

class Acceptance : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Images::Get().ok()) GTEST_SKIP() << Images::Get().why();
  }
};

TEST_F(Acceptance, EveryReachableArchiveComesBackWholeAndNothingElse) {
  for (const Image& image : Images::Get().images()) {
    SCOPED_TRACE(image.name);
    CheckImage(image, Rescue{});
  }
}

TEST_F(Acceptance, DefaultTypesLeaveCabinetsOut) {
  for (const Image& image : Images::Get().images()) {
    SCOPED_TRACE(image.name);
    Rescue rescue;
    rescue.types.clear();
    const auto files = CheckImage(image, rescue);
    for (const auto& [name, bytes] : files) EXPECT_EQ(name.find(".CAB"), std::string::npos) << name;
  }
}

TEST_F(Acceptance, ClassicGivesTheDescribedResults) {
  for (const Image& image : Images::Get().images()) {
    SCOPED_TRACE(image.name);
    Rescue rescue;
    rescue.classic = true;
    const auto files = CheckImage(image, rescue);
    // Nothing of the newer kinds comes back whole.
    for (const auto& [name, bytes] : files)
      for (const std::string& file : image.archives)
        if (!ClassicKind(file)) {
          EXPECT_FALSE(bytes == Images::Get().archive(file).bytes) << name << " is " << file;
        }
  }
}

// Free space only: of live and deleted archives only the deleted ones come back, and an
// archive fragmented around live files is reassembled around them.
TEST_F(Acceptance, FreeSpaceOnlyGivesBackTheDeletedArchives) {
  int checked = 0;
  for (const Image& image : Images::Get().images()) {
    const bool deleted = image.name.find("_deleted") != std::string::npos || image.name.find("_frag") != std::string::npos;
    if (!image.mixed && !deleted) continue;
    SCOPED_TRACE(image.name);
    Rescue rescue;
    rescue.free_space_only = true;
    const std::set<std::string> only = image.mixed ? image.deleted : std::set<std::string>{};
    CheckImage(image, rescue, only);
    ++checked;
  }
  EXPECT_GT(checked, 3);
}

// Formatted over with a larger cluster: the old archives lie off the new grid, and choosing
// the old cluster size brings back every one still on the image.
TEST_F(Acceptance, FormattedOverWithTheOldClusterSize) {
  int checked = 0;
  for (const Image& image : Images::Get().images()) {
    if (image.name.rfind("fat32_4k_over_", 0) != 0) continue;
    SCOPED_TRACE(image.name);
    Rescue rescue;
    rescue.extra = " --cause formatted --cluster 4K";
    rescue.use_old_grid = true;
    rescue.old_grid = 8;
    CheckImage(image, rescue);
    ++checked;
  }
  EXPECT_EQ(checked, 2);
}

// A backup image opened again as a source rescues exactly as the original.
TEST_F(Acceptance, BackupImageRescuesAsTheOriginal) {
  Images& images = Images::Get();
  for (const std::string name : {"fat16_mixed", "fat12_frag_2k", "ntfs_4k_over_fat16"}) {
    const Image& image = images.image(name);
    if (image.name.empty()) continue;
    SCOPED_TRACE(name);
    const std::string copy = images.dir() + "/backup_" + std::to_string(::getpid()) + ".img";
    const auto b = RunCommand(kCli + " backup " + images.ImagePath(name) + " " + copy + " --quiet");
    ASSERT_EQ(b.status, 0) << b.err;
    const std::string out = images.dir() + "/out_backup_" + std::to_string(::getpid());
    for (bool free_space_only : {false, true}) {
      Rescue rescue;
      rescue.free_space_only = free_space_only;
      const Outcome from_original = RunRescue(images.ImagePath(name), rescue, out);
      const Outcome from_backup = RunRescue(copy, rescue, out);
      EXPECT_FALSE(from_original.files.empty());
      EXPECT_TRUE(from_original.files == from_backup.files);
      EXPECT_EQ(from_original.last_line, from_backup.last_line);
    }
    fs::remove(copy);
    fs::remove_all(out);
  }
}

}  // namespace
}  // namespace quorvex
