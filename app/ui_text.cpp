// The text table in its three variants. Each row keeps the three wordings of one slot
// side by side so that a change to one language is seen next to the others. Slots no
// window shows hold empty texts.

#include "app/ui_text.h"

#include <array>
#include <atomic>
#include <cstdlib>

namespace quorvex {
namespace {

struct Row {
  const char* simplified;
  const char* traditional;
  const char* english;
};

// clang-format off
constexpr std::array<Row, kUiTextSlots> kRows = {{
  /*  0 */ {"", "", ""},
  /*  1 */ {"Quorvex 1.78", "Quorvex 1.78", "Quorvex 1.78"},
  /*  2 */ {"打开分区", "打開分區", "Open Drive"},
  /*  3 */ {"打开IMG文件", "打開IMG文件", "Open IMG file"},
  /*  4 */ {"关闭", "關閉", "Close"},
  /*  5 */ {"扇区:", "扇區:", "Sector:"},
  /*  6 */ {"跳转", "跳轉", "Goto"},
  /*  7 */ {"文件类型:", "文件類型:", "File Type:"},
  /*  8 */ {"文件保存到:", "文件保存到:", "Save files to:"},
  /*  9 */ {"浏览", "瀏覽", "Browse"},
  /* 10 */ {"正在整理列表", "正在整理列表", "Tidying up the list"},
  /* 11 */ {"原文件系统:", "原文件系統:", "Previous file system:"},
  /* 12 */ {"簇大小:", "叢集大小:", "Cluster Size:"},
  /* 13 */ {"扫描范围:", "掃描范圍:", "Scan Range:"},
  /* 14 */ {"开始恢复", "開始恢復", "Start Rescue"},
  /* 15 */ {"备份到IMG文件", "備份到IMG文件", "Backup to IMG file"},
  /* 16 */ {"打开分区失败!", "打開分區失敗!", "Failed to open drive!"},
  /* 17 */ {"错误", "錯誤", "Error"},
  /* 18 */ {"总扇区数: ", "總扇區數: ", "Total Sectors: "},
  /* 19 */ {"扇区号无效!", "扇區號無效!", "Invalid sector range!"},
  /* 20 */ {"请选择要恢复的文件类型!", "請選擇要恢復的文件類型!", "Please select file type to rescue!"},
  /* 21 */ {"请选择保存文件的文件夹!", "請選擇保存文件的資料夾!", "Please select folder to save file!"},
  /* 22 */ {"恢复文件保存的路径不得在源文件同一分区!", "恢復文件保存的路徑不得在源文件同一分區!",
            "Dest folder can't be on source drive!"},
  /* 23 */ {"扫描扇区范围无效!", "掃描扇區范圍無效!", "invalid sector range!"},
  /* 24 */ {"正在恢复文件", "正在恢復文件", "Rescuing file"},
  /* 25 */ {"成功: ", "成功: ", "Success: "},
  /* 26 */ {"", "", ""},
  /* 27 */ {"已恢复文件 ", "已恢復文件 ", "Rescued file "},
  /* 28 */ {"", "", ""},
  /* 29 */ {"完成", "完成", "Finished"},
  /* 30 */ {"", "", ""},
  /* 31 */ {"", "", ""},
  /* 32 */ {"", "", ""},
  /* 33 */ {"", "", ""},
  /* 34 */ {"", "", ""},
  /* 35 */ {"备份扇区范围无效!", "備份扇區范圍無效!", "Invalid sector range!"},
  /* 36 */ {"IMG文件不能保存在源分区!", "IMG文件不能保存在源分區!", "Can't save IMG file on source drive!"},
  /* 37 */ {"备份到IMG", "備份到IMG", "Backup to IMG"},
  /* 38 */ {"正在创建IMG文件...", "正在創建IMG文件...", "Creating IMG file..."},
  /* 39 */ {"请稍候", "請稍候", "Wait a moment"},
  /* 40 */ {"目标分区剩余空间不足!", "目標分區剩餘空間不足!", "No enough free space on dest drive!"},
  /* 41 */ {"扇区: ", "扇區: ", "Sector: "},
  /* 42 */ {"百分比: ", "百分比: ", "Percent: "},
  /* 43 */ {"错误: ", "錯誤: ", "Error: "},
  /* 44 */ {"备份未完成，是否删除目标文件?", "備份未完成，是否刪除目標文件?", "Didn't finish, delete target file?"},
  /* 45 */ {"提示", "提示", "Prompt"},
  /* 46 */ {"完成! 有一些坏扇区.", "完成! 有一些壞扇區.", "Finished! There're some bad sectors."},
  /* 47 */ {"完成!", "完成!", "Finished!"},
  /* 48 */ {"打开文件失败!", "打開文件失敗!", "Failed to open file!"},
  /* 49 */ {"正在搜索文件", "正在搜索文件", "Searching file"},
  /* 50 */ {"扇区: ", "扇區: ", "Sector: "},
  /* 51 */ {"百分比: ", "百分比: ", "Percent: "},
  /* 52 */ {"已找到: ", "已找到: ", "Found: "},
  /* 53 */ {"暂停", "暫停", "Pause"},
  /* 54 */ {"停止", "停止", "Stop"},
  /* 55 */ {"取消", "取消", "Cancel"},
  /* 56 */ {"", "", ""},
  /* 57 */ {"", "", ""},
  /* 58 */ {"", "", ""},
  /* 59 */ {"", "", ""},
  /* 60 */ {"基本操作: 1. 选择分区; 2. 打开分区; 3. 指定保存文件夹; 4. 选择文件丢失原因; 5. 开始恢复; 6. 查看文件夹.",
            "基本操作: 1. 選擇分區; 2. 打開分區; 3. 指定保存文件夾; 4. 選擇文件丟失原因; 5. 開始恢復; 6. 查看資料夾.",
            "Simple steps: 1. Select drive; 2. Open drive; 3. Select folder to store rescued files; "
            "4. Select the reason of losing file; 5. Start rescue."},
  /* 61 */ {"", "", ""},
  /* 62 */ {"更多 >>", "更多 >>", "More >>"},
  /* 63 */ {"获取参数失败", "獲取參數失敗", "Failed to get parameters"},
  /* 64 */ {"", "", ""},
  /* 65 */ {"进度: ", "進度: ", "Progress: "},
  /* 66 */ {"丢失原因:", "丟失原因:", "Reason:"},
  /* 67 */ {"删除或自动消失", "刪除或自動消失", "Deleted or Disappeared"},
  /* 68 */ {"被格式化", "被格式化", "Formatted"},
  /* 69 */ {"重新分区", "重新分區", "Repartitioned"},
  /* 70 */ {"未知文件系统, 不支持此选项!", "未知文件系統, 不支援此選項!",
            "Unknown file system, not support this option!"},
  /* 71 */ {"", "", ""},
  /* 72 */ {"", "", ""},
  /* 73 */ {"", "", ""},
  /* 74 */ {"", "", ""},
  /* 75 */ {"", "", ""},
  /* 76 */ {"", "", ""},
  /* 77 */ {"来源:", "來源:", "Source:"},
  /* 78 */ {"丢失数据的分区:", "丟失資料的分區:", "Lost data on drive:"},
  /* 79 */ {"", "", ""},
  /* 80 */ {"", "", ""},
  /* 81 */ {"", "", ""},
  /* 82 */ {"", "", ""},
  /* 83 */ {"查看文件夹", "查看資料夾", "View Folder"},
  /* 84 */ {"已打开: ", "已打開: ", "Opened: "},
  /* 85 */ {"仅扫描未分配的空间", "僅掃描未分配的空間", "Scan free space only"},
  /* 86 */ {"扇区大小: ", "扇區大小: ", "Sector Size: "},
  /* 87 */ {"正在收集未分配扇区", "正在收集未分配扇區", "Collecting free sectors"},
  /* 88 */ {"内存空间不足!", "記憶體空間不足!", "No enough memory!"},
}};
// clang-format on

constexpr int kCodePageSimplified = 936;
constexpr int kCodePageTraditional = 950;
constexpr int kCodePageDefault = 437;

constexpr int kVariants = 3;

int VariantIndex(TextVariant variant) {
  switch (variant) {
    case TextVariant::kSimplifiedChinese: return 0;
    case TextVariant::kTraditionalChinese: return 1;
    case TextVariant::kEnglish: break;
  }
  return 2;
}

/// The table as strings, built once; callers hold references for the program's life.
const std::array<std::array<std::string, kUiTextSlots>, kVariants>& Table() {
  static const auto table = [] {
    std::array<std::array<std::string, kUiTextSlots>, kVariants> t;
    for (size_t slot = 0; slot < kRows.size(); ++slot) {
      t[0][slot] = kRows[slot].simplified;
      t[1][slot] = kRows[slot].traditional;
      t[2][slot] = kRows[slot].english;
    }
    return t;
  }();
  return table;
}

std::atomic<TextVariant> current_variant{TextVariant::kEnglish};

/// True when the locale name is language_TERRITORY for the given pair, optionally
/// followed by ".codeset" or "@modifier" ("zh_TW.UTF-8", "zh_CN@pinyin").
bool LocaleIs(std::string_view name, std::string_view language_territory) {
  if (name.substr(0, language_territory.size()) != language_territory) return false;
  if (name.size() == language_territory.size()) return true;
  const char next = name[language_territory.size()];
  return next == '.' || next == '@';
}

}  // namespace

int OemCodePageFromLocale() {
  std::string_view name;
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] != '\0') {
      name = value;
      break;
    }
  }
  if (LocaleIs(name, "zh_CN") || LocaleIs(name, "zh_SG")) return kCodePageSimplified;
  if (LocaleIs(name, "zh_TW") || LocaleIs(name, "zh_HK") || LocaleIs(name, "zh_MO")) return kCodePageTraditional;
  return kCodePageDefault;
}

TextVariant VariantForCodePage(int code_page) {
  if (code_page == kCodePageSimplified) return TextVariant::kSimplifiedChinese;
  if (code_page == kCodePageTraditional) return TextVariant::kTraditionalChinese;
  return TextVariant::kEnglish;
}

void SelectUiText(TextVariant variant) { current_variant.store(variant, std::memory_order_relaxed); }

TextVariant CurrentUiVariant() { return current_variant.load(std::memory_order_relaxed); }

const std::string& UiTextOf(TextVariant variant, int slot) {
  static const std::string empty;
  if (slot < 0 || slot >= kUiTextSlots) return empty;
  return Table()[static_cast<size_t>(VariantIndex(variant))][static_cast<size_t>(slot)];
}

const std::string& UiText(int slot) { return UiTextOf(CurrentUiVariant(), slot); }

std::string_view UiFontNameOf(TextVariant variant) {
  switch (variant) {
    case TextVariant::kSimplifiedChinese: return "宋体";
    case TextVariant::kTraditionalChinese: return "細明體";
    case TextVariant::kEnglish: break;
  }
  return "Tahoma";
}

std::string_view UiFontName() { return UiFontNameOf(CurrentUiVariant()); }

}  // namespace quorvex
