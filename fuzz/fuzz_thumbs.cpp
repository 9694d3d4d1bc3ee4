// The thumbnail settings' parsers on arbitrary text: ThumbSiz.ini's limit, ThumbSpc.ini's
// list, and the line splitter under both. Every kept list value is above 0; the text of an
// invalid part comes from the input.
#include <cstdint>
#include <string_view>

#include "engine/thumbs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorvex;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)ParseThumbLimit(text);
  size_t line_bytes = 0;
  for (std::string_view line : SplitThumbLines(text)) {
    if (line.data() < text.data() || line.data() + line.size() > text.data() + text.size()) __builtin_trap();
    line_bytes += line.size();
  }
  if (line_bytes > size) __builtin_trap();
  const ThumbListResult list = ParseThumbList(text);
  for (int32_t v : list.values)
    if (v <= 0) __builtin_trap();
  if (list.invalid_part) {
    if (list.invalid_part->size() > size) __builtin_trap();
    (void)InvalidThumbMessage(*list.invalid_part);
  }
  ThumbSettings settings;
  settings.pixel_limit = ParseThumbLimit(text);
  settings.pixel_list = list.values;
  (void)settings.IsThumbnail(static_cast<int32_t>(size));
  return 0;
}
