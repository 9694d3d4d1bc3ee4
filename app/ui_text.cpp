#include "app/ui_text.h"
namespace quorvex {
static std::string e;
int OemCodePageFromLocale(){return 437;}
TextVariant VariantForCodePage(int){return TextVariant::kEnglish;}
void SelectUiText(TextVariant){}
TextVariant CurrentUiVariant(){return TextVariant::kEnglish;}
const std::string& UiText(int){return e;}
const std::string& UiTextOf(TextVariant,int){return e;}
std::string_view UiFontName(){return "Tahoma";}
std::string_view UiFontNameOf(TextVariant){return "Tahoma";}
}
