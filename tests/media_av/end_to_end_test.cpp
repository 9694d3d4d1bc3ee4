// End to end through the engine: a FAT image (made by mkfs.fat and mtools, see
// tests/data/media_av/make.sh) in which a deleted ZIP archive was laid out around a video
// and a PDF that begin after it. Pass 2 walks the video and the PDF first (they are later
// candidates), claiming their clusters, so the ZIP walk steps over them and the archive
// comes back byte-identical.

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/identify.h"
#include "engine/scan_driver.h"
#include "media_av/av_fixture.h"
#include "source/fs_detect.h"
#include "source/source_open.h"
#include "carvers/carver.h"
#include "support/fake_run.h"
#include "support/walk_env.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using testing::ReadFixture;

std::vector<uint8_t> ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

/// The sector where a file's first 512 bytes lie in the image (-1 when absent).
int64_t SectorOf(const std::vector<uint8_t>& image, const std::vector<uint8_t>& file) {
  for (size_t at = 0; at + 512 <= image.size(); at += 512)
    if (std::memcmp(image.data() + at, file.data(), 512) == 0) return static_cast<int64_t>(at / 512);
  return -1;
}

TEST(MediaEndToEnd, VideoAndPdfWalksClaimExactlyTheirClusters) {
  // The walks on their own, over the image: each claims its file's clusters (the file
  // system wrote them contiguously) and nothing of the archive around them.
  const auto image = ReadFixture("fat_e2e.img");
  const auto video = ReadFixture("plain.mp4");
  const auto pdf = ReadFixture("doc.pdf");
  const int64_t video_at = SectorOf(image, video);
  const int64_t pdf_at = SectorOf(image, pdf);
  ASSERT_GT(video_at, 0);
  ASSERT_GT(pdf_at, video_at);
  testing::WalkEnv env(image, 512, 2, video_at % 2);
  CarvePdf(env.ctx, pdf_at * 512, "");
  CarveMp4(env.ctx, video_at * 512, "");
  std::vector<int64_t> expected = testing::RunWithTail(video_at, testing::SectorsFor(static_cast<int64_t>(video.size())), 2, video_at % 2);
  const auto pdf_run = testing::RunWithTail(pdf_at, testing::SectorsFor(static_cast<int64_t>(pdf.size())), 2, video_at % 2);
  expected.insert(expected.end(), pdf_run.begin(), pdf_run.end());
  EXPECT_EQ(env.Taken(), expected);
}

TEST(MediaEndToEnd, ArchiveAroundAVideoAndAPdfComesBackWhole) {
  const auto video = ReadFixture("plain.mp4");
  const auto pdf = ReadFixture("doc.pdf");
  // The candidates pass 1 must find for the walks to run.
  ASSERT_EQ(IdentifySector(video.data(), 512), type_code::kMp4);
  ASSERT_EQ(IdentifySector(pdf.data(), 512), type_code::kPdf);

  const fs::path out = fs::temp_directory_path() / ("quorvex_media_e2e_" + std::to_string(::getpid()));
  fs::remove_all(out);
  fs::create_directories(out);

  SourceState source;
  SectorReader reader;
  const std::string image = std::string(QUORVEX_TEST_DATA) + "/media_av/fat_e2e.img";
  const OpenView view = OpenImage(source, reader, image);
  ASSERT_TRUE(view.opened);
  RescueRequest request;
  request.folder_text = out.string();
  request.first_text = view.first_sector_text;
  request.last_text = view.last_sector_text;
  request.cluster_bytes = ClusterItemBytes(view.cluster_item);
  ScanSettings settings;
  ASSERT_EQ(CheckRescue(request, source, nullptr, &settings), 0);
  ASSERT_EQ(settings.sectors_per_cluster, 2u);  // the image's 1 KiB clusters

  testing::FakeRun run;
  const RescueOutcome outcome = RunRescue(source, reader, settings, run);
  EXPECT_EQ(outcome.message_slot, 0);
  EXPECT_EQ(outcome.rescued_count, 1u);

  std::vector<fs::path> saved;
  for (const auto& entry : fs::directory_iterator(out)) saved.push_back(entry.path());
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(saved[0].extension(), ".ZIP");
  EXPECT_EQ(ReadAll(saved[0]), ReadFixture("e2e_archive.zip"));
  CloseSource(source, reader);
  fs::remove_all(out);
}

}  // namespace
}  // namespace quorvex
