#include "engine/thumbs.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace quorvex {
namespace {
constexpr int kOpenRetries = 10;
constexpr auto kRetryWait = std::chrono::milliseconds(100);

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlankOrControl(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlankOrControl(text.back())) text.remove_suffix(1);
  return text;
}
}  // namespace

bool ThumbSettings::IsThumbnail(int32_t pixels) const {
  if (pixels <= pixel_limit) return true;
  return pixel_list && std::find(pixel_list->begin(), pixel_list->end(), pixels) != pixel_list->end();
}

std::vector<std::string_view> SplitThumbLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t begin = 0;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(text.substr(begin, i - begin));
      i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
      begin = i;
    } else {
      ++i;
    }
  }
  if (begin < text.size()) lines.push_back(text.substr(begin));
  return lines;
}

std::optional<int32_t> ParseSignedDecimal(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > int64_t{INT32_MAX} + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
  return static_cast<int32_t>(value);
}

int32_t ParseThumbLimit(std::string_view text) {
  const auto lines = SplitThumbLines(text);
  if (lines.empty()) return -1;
  return ParseSignedDecimal(lines.front()).value_or(-1);
}

ThumbListResult ParseThumbList(std::string_view text) {
  ThumbListResult result;
  for (std::string_view raw : SplitThumbLines(text)) {
    std::string line(Trim(raw));
    if (line.empty()) break;  // an empty line ends the list
    if (const size_t semicolon = line.find(';'); semicolon != std::string::npos) line.resize(semicolon);
    if (const size_t x = line.find('x'); x != std::string::npos) line[x] = '*';
    int32_t value = -1;
    if (const size_t star = line.find('*'); star != std::string::npos) {
      const std::string_view whole(line);
      const std::string_view width_text = whole.substr(0, star);
      const std::string_view height_text = whole.substr(star + 1);
      const auto width = ParseSignedDecimal(width_text);
      if (!width) {
        result.invalid_part = std::string(width_text);
        break;
      }
      const auto height = ParseSignedDecimal(height_text);
      if (!height) {
        result.invalid_part = std::string(height_text);
        break;
      }
      // The product wraps as a signed 32-bit number, as the stored counts are 32-bit.
      value = static_cast<int32_t>(static_cast<uint32_t>(*width) * static_cast<uint32_t>(*height));
    } else {
      value = ParseSignedDecimal(line).value_or(-1);
    }
    if (value > 0) result.values.push_back(value);
  }
  return result;
}

std::string InvalidThumbMessage(std::string_view part) {
  return "'" + std::string(part) + "' is not a valid integer value";
}

std::optional<std::string> ReadThumbFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  int fd = -1;
  for (int attempt = 0; attempt <= kOpenRetries; ++attempt) {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) break;
    if (attempt < kOpenRetries) std::this_thread::sleep_for(kRetryWait);
  }
  std::string text;
  if (fd < 0) return text;  // still not openable: treated as empty
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  return text;
}

ThumbSettings LoadThumbSettings(const std::string& program_folder, std::string* message) {
  ThumbSettings settings;
  if (const auto text = ReadThumbFile(program_folder + kThumbLimitFile)) settings.pixel_limit = ParseThumbLimit(*text);
  if (const auto text = ReadThumbFile(program_folder + kThumbListFile)) {
    ThumbListResult list = ParseThumbList(*text);
    settings.pixel_list = std::move(list.values);
    if (list.invalid_part && message) *message = InvalidThumbMessage(*list.invalid_part);
  }
  return settings;
}

}  // namespace quorvex
