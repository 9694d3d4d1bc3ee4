#pragma once
// The frame every carver walks in. A Walk owns the walk's ExtentList and its working copy
// (a memory buffer, or the output file of a saving carver). It ends exactly once:
// Accept()/AcceptSaved() keep the claims and do the cluster-tail claim; anything else
// (an early return, a failed read, an exception) gives up in the destructor, releasing
// every claimed sector and removing an unfinished output file.
//
// Positions in the working copy ("pos") are byte positions from the file's first byte.
// Reads of the working copy are bounds-checked against what has been gathered.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/avail_map.h"
#include "engine/output_file.h"
#include "engine/scan_context.h"

namespace quorvex {

class Walk {
 public:
  /// Width of the buffered length: 32-bit walks give up past 2,147,483,647 bytes.
  enum class Width { k32, k64 };

  Walk(ScanContext& ctx, int64_t start_offset, Width width = Width::k64);
  ~Walk();
  Walk(const Walk&) = delete;
  Walk& operator=(const Walk&) = delete;

  /// The start check: true when the start sector is already taken (the carver returns).
  bool StartTaken() const;

  /// Saving carvers: create the output file, which becomes the working copy.
  /// False when it cannot be created; nothing has been claimed then.
  bool CreateOutput(std::string path);
  bool has_output() const { return output_ != nullptr; }

  /// Claims and reads the start sector: N = S + one sector, B = one sector.
  /// False when the read failed (the walk then gives up when it goes out of scope).
  bool Start();

  /// The read-ahead step: gathers available sectors until B >= target bytes.
  /// False on the scan-range end, a failed read or write, or the width limit.
  bool ReadAhead(int64_t target);

  /// The opening of an archive walk: the start check; with a folder, the output file
  /// folder + "TEST_" + letters + extension (when it cannot be created nothing is read and
  /// only the rest of the start's cluster is taken); then the start sector. False when the
  /// walk ends there.
  bool BeginArchive(std::string_view folder, std::string_view extension);

  /// The skip-claim: claims the next available sector unread. False at the scan-range end.
  bool SkipClaim();

  /// The next-available-sector rule from N; false when the scan-range end is reached.
  bool NextAvailable();

  /// The progress line (refresh test); called after each sector a walk adds.
  void Progress();

  // --- reading the working copy --------------------------------------------------------
  /// Copies n bytes at pos; false unless pos .. pos + n lies within what is gathered and kept.
  bool Fetch(int64_t pos, void* out, size_t n) const;
  std::optional<uint8_t> U8(int64_t pos) const;
  std::optional<uint16_t> Le16(int64_t pos) const;
  std::optional<uint32_t> Le32(int64_t pos) const;
  std::optional<uint64_t> Le64(int64_t pos) const;
  std::optional<uint16_t> Be16(int64_t pos) const;
  std::optional<uint32_t> Be32(int64_t pos) const;
  std::optional<uint64_t> Be64(int64_t pos) const;
  /// Memory working copy: a view of n gathered bytes at pos, or null when out of range.
  const uint8_t* View(int64_t pos, size_t n) const;

  /// Memory working copy: forget the bytes before pos (positions stay the same).
  void DiscardBefore(int64_t pos);
  int64_t kept_from() const { return base_; }

  // --- walk state -----------------------------------------------------------------------
  int64_t start_offset() const { return start_; }   ///< S
  int64_t next_offset() const { return next_; }      ///< N
  void set_next_offset(int64_t n) { next_ = n; }
  int64_t buffered() const { return buffered_; }     ///< B
  uint32_t sector_size() const { return bps_; }
  ScanContext& context() { return ctx_; }
  ExtentList& extents() { return extents_; }
  /// Gives back the claimed sectors after the first keep ones (a carver that trims its
  /// read-ahead); the kept ones stay in the list.
  void ReleaseExtentsAfter(size_t keep);

  // --- endings --------------------------------------------------------------------------
  /// Accept a claim-only walk (the memory copy is dropped), then the cluster-tail claim.
  void Accept();
  /// Accept a saving walk: cut or extend the output file to exact_length, close it,
  /// count it and record it in the report. A file that cannot be finished is a failure:
  /// the walk gives up instead and false is returned.
  bool AcceptSaved(int64_t exact_length);
  /// Give up now (the destructor does the same for any walk not yet ended).
  void GiveUp();
  bool ended() const { return ended_; }

  /// The cluster-tail claim from N (also used on its own by a carver whose output file
  /// could not be created).
  void ClusterTailClaim();

 private:
  bool AppendSector(int64_t sector);
  void Claim(int64_t sector);
  /// Writes the pending sectors to the output file; false on a failed or short write.
  bool FlushOutput();

  ScanContext& ctx_;
  const int64_t start_;
  const uint32_t bps_;
  const int64_t limit_;
  int64_t next_;
  int64_t buffered_ = 0;
  int64_t base_ = 0;                    ///< memory copy holds bytes base_ .. buffered_
  std::vector<uint8_t> memory_;
  std::unique_ptr<TNewFileStream> output_;
  /// With an output file: the copied bytes flushed_ .. buffered_, not yet written. Sectors
  /// are written in large pieces rather than one system call per sector.
  std::vector<uint8_t> pending_;
  int64_t flushed_ = 0;
  std::string output_path_;
  std::vector<int64_t> copy_sectors_;   ///< with an output file: source sector of each copied sector
  ExtentList extents_;
  bool ended_ = false;
};

/// folder + "TEST_" + LetterName(8, S / 512) + extension (the folder ends with '/').
std::string OutputPath(std::string_view folder, int64_t start_offset, std::string_view extension);

}  // namespace quorvex
