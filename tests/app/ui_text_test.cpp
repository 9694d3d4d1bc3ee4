// The text table: the variant the locale chooses, and the texts of each variant.

#include "app/ui_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <set>
#include <utility>
#include <vector>
#include <string>

#include "support/param_name.h"

namespace quorvex {
namespace {

/// Sets (or, for nullopt, removes) the three locale variables for one test and restores
/// them afterwards.
class LocaleEnv {
 public:
  LocaleEnv(std::optional<std::string> lc_all, std::optional<std::string> lc_messages,
            std::optional<std::string> lang) {
    Set("LC_ALL", lc_all);
    Set("LC_MESSAGES", lc_messages);
    Set("LANG", lang);
  }
  ~LocaleEnv() {
    for (auto& [name, value] : saved_) {
      if (value) ::setenv(name, value->c_str(), 1);
      else ::unsetenv(name);
    }
  }
  LocaleEnv(const LocaleEnv&) = delete;
  LocaleEnv& operator=(const LocaleEnv&) = delete;

 private:
  void Set(const char* name, const std::optional<std::string>& value) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    if (value) ::setenv(name, value->c_str(), 1);
    else ::unsetenv(name);
  }
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

struct LocaleRow {
  std::string name;
  std::optional<std::string> lc_all, lc_messages, lang;
  int code_page;
  std::string open_drive;  // slot 2 of the chosen variant
  std::string font;
};

class UiTextByLocale : public ::testing::TestWithParam<LocaleRow> {};

TEST_P(UiTextByLocale, ChoosesVariant) {
  const LocaleRow& row = GetParam();
  const LocaleEnv env(row.lc_all, row.lc_messages, row.lang);
  const int code_page = OemCodePageFromLocale();
  EXPECT_EQ(code_page, row.code_page);
  SelectUiText(VariantForCodePage(code_page));
  EXPECT_EQ(UiText(2), row.open_drive);
  EXPECT_EQ(UiFontName(), row.font);
  SelectUiText(TextVariant::kEnglish);
}

const std::string kSc = "打开分区", kTc = "打開分區", kEn = "Open Drive";
const std::nullopt_t kUnset = std::nullopt;

const LocaleRow kLocaleRows[] = {
    {"LangSimplified", kUnset, kUnset, "zh_CN.UTF-8", 936, kSc, "宋体"},
    {"LangSingapore", kUnset, kUnset, "zh_SG", 936, kSc, "宋体"},
    {"LangTaiwan", kUnset, kUnset, "zh_TW.UTF-8", 950, kTc, "細明體"},
    {"LangHongKong", kUnset, kUnset, "zh_HK.UTF-8", 950, kTc, "細明體"},
    {"LangMacau", kUnset, kUnset, "zh_MO", 950, kTc, "細明體"},
    {"LangWithModifier", kUnset, kUnset, "zh_TW.UTF-8@radical", 950, kTc, "細明體"},
    {"LangEnglish", kUnset, kUnset, "en_US.UTF-8", 437, kEn, "Tahoma"},
    {"LangGerman", kUnset, kUnset, "de_DE.UTF-8", 437, kEn, "Tahoma"},
    {"LangC", kUnset, kUnset, "C.UTF-8", 437, kEn, "Tahoma"},
    {"NothingSet", kUnset, kUnset, kUnset, 437, kEn, "Tahoma"},
    {"ChineseLanguageOnly", kUnset, kUnset, "zh", 437, kEn, "Tahoma"},
    {"NotAPrefixMatch", kUnset, kUnset, "zh_CNX", 437, kEn, "Tahoma"},
    {"LcAllWins", "zh_TW.UTF-8", "zh_CN.UTF-8", "en_US.UTF-8", 950, kTc, "細明體"},
    {"LcMessagesBeforeLang", kUnset, "zh_CN.UTF-8", "zh_TW.UTF-8", 936, kSc, "宋体"},
    {"EmptyLcAllCountsAsUnset", "", "zh_CN.UTF-8", "en_US.UTF-8", 936, kSc, "宋体"},
    {"EmptyLcMessagesCountsAsUnset", "", "", "zh_HK.UTF-8", 950, kTc, "細明體"},
    {"LcAllEnglishHidesChineseLang", "en_GB.UTF-8", kUnset, "zh_CN.UTF-8", 437, kEn, "Tahoma"},
};

INSTANTIATE_TEST_SUITE_P(Locales, UiTextByLocale, ::testing::ValuesIn(kLocaleRows), testing::RowName());

TEST(UiText, CodePages) {
  EXPECT_EQ(VariantForCodePage(936), TextVariant::kSimplifiedChinese);
  EXPECT_EQ(VariantForCodePage(950), TextVariant::kTraditionalChinese);
  EXPECT_EQ(VariantForCodePage(437), TextVariant::kEnglish);
  EXPECT_EQ(VariantForCodePage(1252), TextVariant::kEnglish);
}

TEST(UiText, EnglishUntilSelected) {
  EXPECT_EQ(CurrentUiVariant(), TextVariant::kEnglish);
  EXPECT_EQ(UiText(14), "Start Rescue");
}

TEST(UiText, TellingRowsInAllVariants) {
  struct Row {
    int slot;
    const char* sc;
    const char* tc;
    const char* en;
  };
  const Row rows[] = {
      {1, "Quorvex 1.78", "Quorvex 1.78", "Quorvex 1.78"},
      {2, "打开分区", "打開分區", "Open Drive"},
      {14, "开始恢复", "開始恢復", "Start Rescue"},
      {16, "打开分区失败!", "打開分區失敗!", "Failed to open drive!"},
      {22, "恢复文件保存的路径不得在源文件同一分区!", "恢復文件保存的路徑不得在源文件同一分區!",
       "Dest folder can't be on source drive!"},
      {35, "备份扇区范围无效!", "備份扇區范圍無效!", "Invalid sector range!"},
      {44, "备份未完成，是否删除目标文件?", "備份未完成，是否刪除目標文件?", "Didn't finish, delete target file?"},
      {60, "基本操作: 1. 选择分区; 2. 打开分区; 3. 指定保存文件夹; 4. 选择文件丢失原因; 5. 开始恢复; 6. 查看文件夹.",
       "基本操作: 1. 選擇分區; 2. 打開分區; 3. 指定保存文件夾; 4. 選擇文件丟失原因; 5. 開始恢復; 6. 查看資料夾.",
       "Simple steps: 1. Select drive; 2. Open drive; 3. Select folder to store rescued files; 4. Select the "
       "reason of losing file; 5. Start rescue."},
      {67, "删除或自动消失", "刪除或自動消失", "Deleted or Disappeared"},
      {85, "仅扫描未分配的空间", "僅掃描未分配的空間", "Scan free space only"},
      {88, "内存空间不足!", "記憶體空間不足!", "No enough memory!"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(UiTextOf(TextVariant::kSimplifiedChinese, row.slot), row.sc) << row.slot;
    EXPECT_EQ(UiTextOf(TextVariant::kTraditionalChinese, row.slot), row.tc) << row.slot;
    EXPECT_EQ(UiTextOf(TextVariant::kEnglish, row.slot), row.en) << row.slot;
  }
}

TEST(UiText, EveryEnglishSlot) {
  const char* const english[kUiTextSlots] = {
      "", "Quorvex 1.78", "Open Drive", "Open IMG file", "Close", "Sector:", "Goto", "File Type:",
      "Save files to:", "Browse", "Tidying up the list", "Previous file system:", "Cluster Size:",
      "Scan Range:", "Start Rescue", "Backup to IMG file", "Failed to open drive!", "Error", "Total Sectors: ",
      "Invalid sector range!", "Please select file type to rescue!", "Please select folder to save file!",
      "Dest folder can't be on source drive!", "invalid sector range!", "Rescuing file", "Success: ", "",
      "Rescued file ", "", "Finished", "", "", "", "", "", "Invalid sector range!",
      "Can't save IMG file on source drive!", "Backup to IMG", "Creating IMG file...", "Wait a moment",
      "No enough free space on dest drive!", "Sector: ", "Percent: ", "Error: ",
      "Didn't finish, delete target file?", "Prompt", "Finished! There're some bad sectors.", "Finished!",
      "Failed to open file!", "Searching file", "Sector: ", "Percent: ", "Found: ", "Pause", "Stop", "Cancel",
      "", "", "", "",
      "Simple steps: 1. Select drive; 2. Open drive; 3. Select folder to store rescued files; 4. Select the "
      "reason of losing file; 5. Start rescue.",
      "", "More >>", "Failed to get parameters", "", "Progress: ", "Reason:", "Deleted or Disappeared",
      "Formatted", "Repartitioned", "Unknown file system, not support this option!", "", "", "", "", "", "",
      "Source:", "Lost data on drive:", "", "", "", "", "View Folder", "Opened: ", "Scan free space only",
      "Sector Size: ", "Collecting free sectors", "No enough memory!"};
  for (int slot = 0; slot < kUiTextSlots; ++slot)
    EXPECT_EQ(UiTextOf(TextVariant::kEnglish, slot), english[slot]) << "slot " << slot;
}

TEST(UiText, UnshownSlotsAreEmptyAndShownOnesAreNotInAnyVariant) {
  const std::set<int> unshown = {0,  26, 28, 30, 31, 32, 33, 34, 56, 57, 58, 59, 61, 64,
                                 71, 72, 73, 74, 75, 76, 79, 80, 81, 82};
  for (const TextVariant v :
       {TextVariant::kSimplifiedChinese, TextVariant::kTraditionalChinese, TextVariant::kEnglish}) {
    for (int slot = 0; slot < kUiTextSlots; ++slot)
      EXPECT_EQ(UiTextOf(v, slot).empty(), unshown.count(slot) == 1) << "slot " << slot;
  }
}

TEST(UiText, ChineseEndsInABlankWhereEnglishDoes) {
  // A number is appended to these texts; every variant keeps the blank before it.
  for (int slot = 0; slot < kUiTextSlots; ++slot) {
    const std::string& en = UiTextOf(TextVariant::kEnglish, slot);
    if (en.empty()) continue;
    const bool blank = en.back() == ' ';
    EXPECT_EQ(UiTextOf(TextVariant::kSimplifiedChinese, slot).back() == ' ', blank) << "slot " << slot;
    EXPECT_EQ(UiTextOf(TextVariant::kTraditionalChinese, slot).back() == ' ', blank) << "slot " << slot;
  }
}

TEST(UiText, CountFollowsTheBlank) { EXPECT_EQ(UiText(18) + std::to_string(2048), "Total Sectors: 2048"); }

TEST(UiText, EqualPairsStayEqual) {
  for (const TextVariant v :
       {TextVariant::kSimplifiedChinese, TextVariant::kTraditionalChinese, TextVariant::kEnglish}) {
    EXPECT_EQ(UiTextOf(v, 41), UiTextOf(v, 50));
    EXPECT_EQ(UiTextOf(v, 42), UiTextOf(v, 51));
  }
  EXPECT_NE(UiTextOf(TextVariant::kSimplifiedChinese, 19), UiTextOf(TextVariant::kSimplifiedChinese, 35));
  EXPECT_NE(UiTextOf(TextVariant::kTraditionalChinese, 19), UiTextOf(TextVariant::kTraditionalChinese, 35));
}

TEST(UiText, OutOfRangeSlotIsEmpty) {
  EXPECT_EQ(UiText(-1), "");
  EXPECT_EQ(UiText(kUiTextSlots), "");
  EXPECT_EQ(UiTextOf(TextVariant::kSimplifiedChinese, 1000), "");
}

}  // namespace
}  // namespace quorvex
