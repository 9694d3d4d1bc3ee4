#pragma once
// The text table: every language-dependent text the program shows, in three variants
// chosen once at start-up from the locale. Texts are UTF-8.

#include <string>
#include <string_view>

namespace quorvex {

inline constexpr int kUiTextSlots = 89;

enum class TextVariant { kSimplifiedChinese, kTraditionalChinese, kEnglish };

/// The OEM code page the locale stands for: LC_ALL, then LC_MESSAGES, then LANG;
/// zh_CN / zh_SG -> 936, zh_TW / zh_HK / zh_MO -> 950, anything else -> 437.
int OemCodePageFromLocale();
TextVariant VariantForCodePage(int code_page);

/// Chooses the variant used by UiText() and UiFontName(); English until called.
void SelectUiText(TextVariant variant);
TextVariant CurrentUiVariant();

/// Slot 0..88 of the current variant; an out-of-range slot gives the empty text.
const std::string& UiText(int slot);
const std::string& UiTextOf(TextVariant variant, int slot);
/// Font face name of the current variant ("宋体", "細明體", "Tahoma").
std::string_view UiFontName();
std::string_view UiFontNameOf(TextVariant variant);

}  // namespace quorvex
