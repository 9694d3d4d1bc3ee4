#include "engine/report.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>

namespace quorvex {

void RescueReport::Add(std::string path, int64_t size, const std::vector<int64_t>& sectors,
                       uint32_t bytes_per_sector) {
  RescuedFile file{std::move(path), size, {}};
  const int64_t bps = bytes_per_sector;
  int64_t file_offset = 0;
  for (int64_t sector : sectors) {
    if (file_offset >= size) break;
    const int64_t len = std::min(bps, size - file_offset);
    if (!file.runs.empty()) {
      ByteRun& last = file.runs.back();
      if (last.img_offset + last.length == sector * bps && last.file_offset + last.length == file_offset) {
        last.length += len;
        file_offset += len;
        continue;
      }
    }
    file.runs.push_back({file_offset, sector * bps, len});
    file_offset += len;
  }
  files_.push_back(std::move(file));
}

std::string XmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c;
    }
  }
  return out;
}

bool RescueReport::WriteDfxml(const std::string& report_path, const std::string& source_path,
                              const std::string& command_line, int* err) const {
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(report_path.c_str(), "w"), std::fclose);
  if (!f) {
    if (err) *err = errno;
    return false;
  }
  FILE* out = f.get();
  std::fprintf(out, "<?xml version='1.0' encoding='UTF-8'?>\n");
  std::fprintf(out, "<dfxml xmloutputversion='1.0' xmlns='http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML'>\n");
  std::fprintf(out, "  <creator>\n    <program>quorvex</program>\n    <version>%s</version>\n", QUORVEX_VERSION);
  std::fprintf(out, "    <execution_environment>\n      <command_line>%s</command_line>\n    </execution_environment>\n",
               XmlEscape(command_line).c_str());
  std::fprintf(out, "  </creator>\n  <source>\n    <image_filename>%s</image_filename>\n  </source>\n",
               XmlEscape(source_path).c_str());
  for (const RescuedFile& file : files_) {
    std::fprintf(out, "  <fileobject>\n    <filename>%s</filename>\n    <filesize>%lld</filesize>\n",
                 XmlEscape(file.path).c_str(), static_cast<long long>(file.size));
    std::fprintf(out, "    <byte_runs>\n");
    for (const ByteRun& run : file.runs)
      std::fprintf(out, "      <byte_run file_offset='%lld' img_offset='%lld' len='%lld'/>\n",
                   static_cast<long long>(run.file_offset), static_cast<long long>(run.img_offset),
                   static_cast<long long>(run.length));
    std::fprintf(out, "    </byte_runs>\n  </fileobject>\n");
  }
  std::fprintf(out, "</dfxml>\n");
  if (std::ferror(out) != 0) {
    if (err) *err = EIO;
    return false;
  }
  FILE* raw = f.release();
  if (std::fclose(raw) != 0) {
    if (err) *err = errno;
    return false;
  }
  return true;
}

}  // namespace quorvex
