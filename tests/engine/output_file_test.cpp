#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/output_file.h"
#include "engine/walk.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;

TEST(LetterName, Table) {
  struct Row { int32_t count; int64_t n; const char* text; };
  const int64_t p8 = 208827064576LL;  // 26^8
  for (const Row& r : {Row{8, 0, "AAAAAAAA"}, Row{8, 25, "AAAAAAAZ"}, Row{8, 26, "AAAAAABA"}, Row{8, 2048, "AAAAADAU"},
                       Row{8, p8, "AAAAAAAA"}, Row{8, p8 - 1, "ZZZZZZZZ"}, Row{0, 5, ""}, Row{-1, 5, ""}, Row{3, 27, "ABB"}})
    EXPECT_EQ(LetterName(r.count, r.n), r.text) << r.n;
}

TEST(OutputPath, NamesByStartIn512ByteUnits) {
  EXPECT_EQ(OutputPath("/out/", 1048576, ".ZIP"), "/out/TEST_AAAAADAU.ZIP");
  EXPECT_EQ(OutputPath("/out/", 256 * 4096, ".ZIP"), "/out/TEST_AAAAADAU.ZIP");
  EXPECT_EQ(OutputPath("/out/", 0, ".RAR"), "/out/TEST_AAAAAAAA.RAR");
}

class OutputFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("quorvex_out_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(OutputFileTest, ReplacesAReadOnlyFile) {
  const std::string path = (dir_ / "TEST_AAAAAAAA.RAR").string();
  { std::ofstream(path) << "old contents"; }
  ::chmod(path.c_str(), 0444);
  auto stream = CreateOutputFile(path, kCreateMode);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->Size(), 0);
  EXPECT_EQ(stream->Write("new", 3), 3);
  stream.reset();
  EXPECT_EQ(fs::file_size(path), 3u);
}

TEST_F(OutputFileTest, SetSizeCutsAndExtends) {
  const std::string path = (dir_ / "f").string();
  auto stream = CreateOutputFile(path, kCreateMode);
  ASSERT_NE(stream, nullptr);
  const std::string data(1024, 'x');
  EXPECT_EQ(stream->WriteAt(0, data.data(), 1024), 1024);
  ASSERT_TRUE(stream->SetSize(100));
  EXPECT_EQ(stream->Size(), 100);
  char c;
  EXPECT_EQ(stream->ReadAt(100, &c, 1), 0);  // nothing past the cut
  ASSERT_TRUE(stream->SetSize(5000));
  EXPECT_EQ(stream->Size(), 5000);
  EXPECT_EQ(stream->ReadAt(4999, &c, 1), 1);
  EXPECT_EQ(c, 0);
}

TEST_F(OutputFileTest, CreationFailsInAMissingFolder) {
  int err = 0;
  EXPECT_EQ(CreateOutputFile((dir_ / "gone" / "f").string(), kCreateMode, &err), nullptr);
  EXPECT_EQ(err, ENOENT);
}

TEST_F(OutputFileTest, OpensAnExistingFileForReading) {
  const std::string path = (dir_ / "r").string();
  { std::ofstream(path) << "abc"; }
  auto stream = CreateOutputFile(path, 0);
  ASSERT_NE(stream, nullptr);
  char buf[3];
  EXPECT_EQ(stream->Read(buf, 3), 3);
  EXPECT_EQ(stream->Write("z", 1), 0);  // read access only
  EXPECT_EQ(CreateOutputFile((dir_ / "missing").string(), 0), nullptr);
}

}  // namespace
}  // namespace quorvex
