#pragma once
// The record of a rescue for examiners: every saved archive with the byte runs on the
// source it was assembled from, written as DFXML.

#include <cstdint>
#include <string>
#include <vector>

namespace quorvex {

struct ByteRun {
  int64_t file_offset = 0;
  int64_t img_offset = 0;
  int64_t length = 0;
};

struct RescuedFile {
  std::string path;
  int64_t size = 0;
  std::vector<ByteRun> runs;
};

class RescueReport {
 public:
  /// Records a saved file from the source sectors of its copy, in copy order; runs of
  /// consecutive sectors are merged and the last run is cut at size.
  void Add(std::string path, int64_t size, const std::vector<int64_t>& sectors, uint32_t bytes_per_sector);
  const std::vector<RescuedFile>& files() const { return files_; }

  /// Writes the DFXML document; false (errno in *err) when the file cannot be written.
  bool WriteDfxml(const std::string& report_path, const std::string& source_path, const std::string& command_line,
                  int* err) const;

 private:
  std::vector<RescuedFile> files_;
};

std::string XmlEscape(const std::string& text);

}  // namespace quorvex
