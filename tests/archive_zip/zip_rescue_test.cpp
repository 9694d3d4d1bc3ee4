// Rescues through the scan driver: real archives copied into a FAT image and deleted there
// (mkfs.fat from dosfstools, mcopy and mdel from mtools, run at test time).

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "archive_zip/zip_test_support.h"
#include "engine/scan_driver.h"
#include "support/fake_run.h"

namespace quorvex {
namespace {

using testing::Fixture;
using testing::ReadBytes;
using testing::TempFolder;
namespace fs = std::filesystem;

const char* const kArchives[] = {"plain.zip",  "descriptor.zip", "zip64.zip",   "stored.zip",
                                 "stream.zip", "stream64.zip"};

std::string Quote(const fs::path& path) { return "'" + path.string() + "'"; }

// Makes a 4 MiB FAT image holding the archives, then deletes them again.
void MakeDeletedArchivesImage(const fs::path& image) {
  auto run = [](const std::string& command) {
    ASSERT_EQ(testing::Shell(command), 0) << command;
  };
  run("mkfs.fat -C -S 512 -s 4 " + Quote(image) + " 4096");
  const fs::path data = fs::path(QUORVEX_TEST_DATA) / "archive_zip";
  for (const char* name : kArchives) run("mcopy -i " + Quote(image) + " " + Quote(data / name) + " ::" + name);
  for (const char* name : kArchives) run("mdel -i " + Quote(image) + " ::" + name);
}

// The rescued files of one run, by content.
std::multimap<std::vector<uint8_t>, std::string> Rescue(const fs::path& image, bool classic, uint32_t* count) {
  int err = 0;
  SourceState source;
  source.device = OpenPosixDevice(image.string(), &err);
  EXPECT_TRUE(source.device) << "errno " << err;
  if (!source.device) return {};
  source.kind = SourceKind::kImageFile;
  source.path = source.name = image.string();
  source.working.last_sector = source.device->Length() / 512 - 1;
  source.working.bytes_per_sector = 512;
  source.working.sectors_per_cluster = 1;
  source.working.cluster_offset = -1;
  source.detected = source.working;
  SectorReader reader;
  reader.SetDevice(source.device.get());

  TempFolder out;
  RescueRequest request;
  request.folder_text = out.text();
  request.first_text = "0";
  request.last_text = std::to_string(source.working.last_sector);
  request.cluster_bytes = 512;
  request.classic = classic;
  ScanSettings settings;
  EXPECT_EQ(CheckRescue(request, source, nullptr, &settings), 0);
  testing::FakeRun run;
  const RescueOutcome outcome = RunRescue(source, reader, settings, run);
  *count = outcome.rescued_count;
  std::multimap<std::vector<uint8_t>, std::string> files;
  for (const fs::path& file : out.Files()) files.emplace(ReadBytes(file), file.filename().string());
  return files;
}

TEST(ZipRescue, DeletedArchivesOnFatComeBackByteIdentical) {
  TempFolder work;
  const fs::path image = work.path() / "fat.img";
  MakeDeletedArchivesImage(image);
  if (HasFatalFailure()) return;
  uint32_t count = 0;
  const auto files = Rescue(image, false, &count);
  EXPECT_EQ(count, std::size(kArchives));
  EXPECT_EQ(files.size(), std::size(kArchives));
  for (const char* name : kArchives) EXPECT_EQ(files.count(Fixture(name)), 1u) << name << " not rescued intact";
}

TEST(ZipRescue, ClassicRescueLosesTheStreamedArchives) {
  TempFolder work;
  const fs::path image = work.path() / "fat.img";
  MakeDeletedArchivesImage(image);
  if (HasFatalFailure()) return;
  uint32_t count = 0;
  const auto files = Rescue(image, true, &count);
  // Only the plain archive survives whole; the stored stream is cut at its first descriptor,
  // and the entries with sizes in descriptors or ZIP64 fields are not saved at all.
  const std::vector<uint8_t> stored = Fixture("stored.zip");
  EXPECT_EQ(count, 2u);
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files.count(Fixture("plain.zip")), 1u);
  EXPECT_EQ(files.count(std::vector<uint8_t>(stored.begin(), stored.begin() + 19961)), 1u);
  EXPECT_EQ(files.count(Fixture("descriptor.zip")), 0u);
}

}  // namespace
}  // namespace quorvex
