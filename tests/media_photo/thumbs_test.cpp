#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "engine/thumbs.h"
#include "support/param_name.h"

namespace quorvex {
namespace {

struct ListCase {
  std::string name;
  std::string text;
  std::vector<int32_t> values;
  std::optional<std::string> invalid_part;
};

class ThumbList : public ::testing::TestWithParam<ListCase> {};

TEST_P(ThumbList, ReadsLikeStartUp) {
  const ListCase& c = GetParam();
  const ThumbListResult got = ParseThumbList(c.text);
  EXPECT_EQ(got.values, c.values);
  EXPECT_EQ(got.invalid_part, c.invalid_part);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ThumbList,
    ::testing::Values(
        ListCase{"mixed_forms", "160x120\r\n320*240\r\n640X480\r\n0\r\n-5\r\n", {19200, 76800}, std::nullopt},
        ListCase{"plain_number_and_lf_only", "19200\n100\n", {19200, 100}, std::nullopt},
        ListCase{"empty_line_ends_the_list", "160x120\n\n320x240\n", {19200}, std::nullopt},
        ListCase{"blank_only_line_ends_the_list", "160x120\r \r320x240", {19200}, std::nullopt},
        ListCase{"trimmed_ends", "  \t160x120  \n", {19200}, std::nullopt},
        ListCase{"comment_cut", "160x120;thumb\n", {19200}, std::nullopt},
        ListCase{"blank_before_comment_stops", "100\n160x120 ;thumb\n50\n", {100}, std::string("120 ")},
        ListCase{"blank_next_to_star_stops", "160 *120\n", {}, std::string("160 ")},
        ListCase{"only_first_x_replaced", "2x3x4\n", {}, std::string("3x4")},
        ListCase{"plain_invalid_is_skipped", "12a\n77\n", {77}, std::nullopt},
        ListCase{"product_wraps_to_negative", "65536x32768\n5\n", {5}, std::nullopt},
        ListCase{"empty_text", "", {}, std::nullopt}),
    testing::RowName());

TEST(ThumbLimit, FirstLineUntrimmed) {
  EXPECT_EQ(ParseThumbLimit("19200\r\nrest"), 19200);
  EXPECT_EQ(ParseThumbLimit("-7"), -7);
  EXPECT_EQ(ParseThumbLimit("19200 \n"), -1);  // a blank at the end makes the line invalid
  EXPECT_EQ(ParseThumbLimit(""), -1);
  EXPECT_EQ(ParseThumbLimit("99999999999"), -1);
}

TEST(ThumbSettingsTest, IsThumbnail) {
  ThumbSettings none;
  EXPECT_FALSE(none.IsThumbnail(1));  // -1 is below every pixel count
  ThumbSettings limit{160 * 120, std::nullopt};
  EXPECT_TRUE(limit.IsThumbnail(160 * 120));
  EXPECT_FALSE(limit.IsThumbnail(161 * 120));
  ThumbSettings list{-1, std::vector<int32_t>{19200}};
  EXPECT_TRUE(list.IsThumbnail(19200));
  EXPECT_FALSE(list.IsThumbnail(19201));
  ThumbSettings empty_list{-1, std::vector<int32_t>{}};
  EXPECT_FALSE(empty_list.IsThumbnail(19200));
}

TEST(ThumbSettingsTest, LoadsFromProgramFolder) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("quorvex_thumbs_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string folder = dir.string() + "/";
  std::string message;
  ThumbSettings missing = LoadThumbSettings(folder, &message);
  EXPECT_EQ(missing.pixel_limit, -1);
  EXPECT_FALSE(missing.pixel_list.has_value());
  EXPECT_TRUE(message.empty());

  std::ofstream(folder + kThumbLimitFile) << "4800\r\n";
  std::ofstream(folder + kThumbListFile) << "160x120\r\n10 x3\r\n320x240\r\n";
  ThumbSettings loaded = LoadThumbSettings(folder, &message);
  EXPECT_EQ(loaded.pixel_limit, 4800);
  ASSERT_TRUE(loaded.pixel_list.has_value());
  EXPECT_EQ(*loaded.pixel_list, std::vector<int32_t>{19200});
  EXPECT_EQ(message, "'10 ' is not a valid integer value");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace quorvex
