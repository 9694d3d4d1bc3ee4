#pragma once
// The rescue: checks, preparation, pass 1 (identify one sector per cluster), the alignment
// step, pass 2 (every candidate from the last to the first through its carver), the end.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/report.h"
#include "engine/run_control.h"
#include "engine/scan_context.h"
#include "engine/scan_options.h"
#include "source/geometry.h"
#include "source/sector_reader.h"

namespace quorvex {

/// What the main window holds when Start Rescue is pressed.
struct RescueRequest {
  std::string folder_text;        ///< Edit2
  std::string first_text;         ///< Edit3
  std::string last_text;          ///< Edit4
  uint32_t type_mask = kDefaultTypeMask;
  bool free_space_only = false;   ///< CheckBox8
  uint32_t cluster_bytes = 512;   ///< the ComboBox1 choice, 512 .. 131072
  bool classic = false;
};

/// True when a folder lies on the open source (volume, or a partition of the disk).
using OnSourceTest = std::function<bool(const std::string& folder)>;

/// The checks, in order. Returns 0 and fills settings when the rescue may start, else the
/// text slot of the message (20, 21, 22 or 23). Reads nothing from the source.
int CheckRescue(const RescueRequest& request, const SourceState& source, const OnSourceTest& on_source,
                ScanSettings* settings);

/// Candidates found by pass 1, in increasing sector order; 64-bit start sectors.
class CandidateList {
 public:
  static constexpr size_t kGrowth = 1000000;
  void Append(int64_t sector, uint8_t code) {
    if (sectors_.size() == sectors_.capacity()) {
      sectors_.reserve(sectors_.size() + kGrowth);
      codes_.reserve(codes_.size() + kGrowth);
    }
    sectors_.push_back(sector);
    codes_.push_back(code);
  }
  size_t size() const { return sectors_.size(); }
  int64_t sector(size_t i) const { return sectors_[i]; }
  uint8_t code(size_t i) const { return codes_[i]; }
  void Remove(size_t i) { codes_[i] = 0; }
  /// Drops removed entries, keeping the order.
  void Compact();
  void Clear() {
    std::vector<int64_t>().swap(sectors_);
    std::vector<uint8_t>().swap(codes_);
  }

 private:
  std::vector<int64_t> sectors_;
  std::vector<uint8_t> codes_;
};

/// Derives the cluster offset from the candidates (the histogram of start sector mod C)
/// and removes the candidates off that grid. Returns the offset.
int64_t AlignCandidates(CandidateList& list, uint32_t sectors_per_cluster, RunControl& run);

struct RescueOutcome {
  int message_slot = 0;            ///< 0 when the rescue ran, 88 when the map could not be had
  uint32_t rescued_count = 0;
  uint32_t found_count = 0;        ///< selected archive candidates seen in pass 1
  size_t candidates = 0;           ///< after the alignment step
  int64_t effective_cluster_offset = 0;
  bool free_space_dropped = false; ///< free space only was asked for but not used
  bool free_space_disable = false; ///< ... and CheckBox8 is to be disabled
  uint32_t walk_errors = 0;        ///< walks that ended by an error (memory exhausted)
};

/// Runs a checked rescue. The caller has started the 200 ms tick. thumbs are the
/// thumbnail lists read at start-up (null: none); report, when given, records every
/// saved archive.
RescueOutcome RunRescue(SourceState& source, SectorReader& reader, const ScanSettings& settings, RunControl& run,
                        RescueReport* report = nullptr, const ThumbSettings* thumbs = nullptr);

/// Pass 1 over settings' range: one sector per cluster when the offset is known,
/// skipping taken sectors with free space only (map may be null otherwise).
void SearchPass(SectorReader& reader, const ScanSettings& settings, uint32_t bytes_per_sector, const AvailMap* map,
                RunControl& run, CandidateList* list, uint32_t* found_count);

/// Pass 2: the main run and the extra run for JPEGs without APP0/APP1.
void RecoveryPass(ScanContext& ctx, const CandidateList& list, const ScanSettings& settings, RunControl& run,
                  uint32_t* walk_errors);

}  // namespace quorvex
