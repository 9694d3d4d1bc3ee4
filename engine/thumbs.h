#pragma once
// The thumbnail settings: pictures of these pixel counts are small copies of other pictures
// (camera previews, cached thumbnails), and the JPEG walk gives their sectors back instead of
// keeping them. They come from two optional text files beside the program, ThumbSiz.ini (one
// upper pixel count) and ThumbSpc.ini (exact pixel counts, "160x120" or "19200" per line),
// read once at start-up and fixed for the rest of the run.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex {

struct ThumbSettings {
  /// Pictures of at most this many pixels are thumbnails; -1 (below every count) when unset.
  int32_t pixel_limit = -1;
  /// Exact pixel counts of thumbnails (each > 0); absent when there is no ThumbSpc.ini.
  std::optional<std::vector<int32_t>> pixel_list;

  /// True when a decoded picture of this many pixels is to be treated as a thumbnail.
  bool IsThumbnail(int32_t pixels) const;
};

inline constexpr const char* kThumbLimitFile = "ThumbSiz.ini";
inline constexpr const char* kThumbListFile = "ThumbSpc.ini";

/// Splits text into lines at CR, LF or CR LF; a break at the very end opens no further line.
std::vector<std::string_view> SplitThumbLines(std::string_view text);

/// A signed decimal 32-bit integer: an optional sign and digits, nothing else (no blanks).
std::optional<int32_t> ParseSignedDecimal(std::string_view text);

/// ThumbSiz.ini's text: its first line as a signed integer (not trimmed), else -1.
int32_t ParseThumbLimit(std::string_view text);

struct ThumbListResult {
  std::vector<int32_t> values;
  /// When reading stopped at a width-times-height line with a part that is not an integer:
  /// that part, for the message "'%s' is not a valid integer value".
  std::optional<std::string> invalid_part;
};

/// ThumbSpc.ini's text, line by line: trimmed; an empty line ends the list; a ';' starts a
/// comment; the first lower-case 'x' means '*'; "W*H" gives W × H (as a signed 32-bit product),
/// a plain number gives itself; values above 0 are kept.
ThumbListResult ParseThumbList(std::string_view text);

/// The message shown for an invalid part of a ThumbSpc.ini line.
std::string InvalidThumbMessage(std::string_view part);

/// Reads a whole text file, retrying a failed open 10 times 100 ms apart; a file that cannot
/// be read is empty text. Nullopt when the file does not exist.
std::optional<std::string> ReadThumbFile(const std::string& path);

/// Start-up: the settings from the two files in program_folder (ending in '/'). When
/// ThumbSpc.ini holds an invalid width-times-height line, *message receives its text (the
/// values before that line are kept).
ThumbSettings LoadThumbSettings(const std::string& program_folder, std::string* message);

}  // namespace quorvex
