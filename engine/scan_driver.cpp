#include "engine/scan_driver.h"

#include <charconv>
#include <new>
#include <sys/stat.h>

#include "app/ui_text.h"
#include "carvers/carver.h"
#include "engine/free_space.h"
#include "engine/identify.h"

namespace quorvex {
namespace {

// Text slots of the rescue.
constexpr int kSlotTidying = 10;
constexpr int kSlotRescuing = 24;
constexpr int kSlotSuccess = 25;
constexpr int kSlotSelectType = 20;
constexpr int kSlotSelectFolder = 21;
constexpr int kSlotOnSource = 22;
constexpr int kSlotBadRange = 23;
constexpr int kSlotSectorRecovery = 41;
constexpr int kSlotSearching = 49;
constexpr int kSlotSector = 50;
constexpr int kSlotPercent = 51;
constexpr int kSlotFound = 52;
constexpr int kSlotProgress = 65;
constexpr int kSlotSource = 77;
constexpr int kSlotCollecting = 87;
constexpr int kSlotNoMemory = 88;

constexpr size_t kAlignLabelEvery = 1024;

bool IsFolder(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Candidate codes that never enter the list.
constexpr bool NeverKept(uint8_t code) {
  using namespace type_code;
  return code == kMpeg2Pack || code == kPack30 || code == kPack32 || code == kTsPacket34 || code == kTsPacket35;
}

bool IsSelectedArchive(uint8_t code, uint32_t mask) {
  using namespace type_code;
  switch (code) {
    case kRar: case kZip: case kCab: case k7z: return (mask >> (code + 4)) & 1u;
    case kRar5: return (mask >> kMaskBitRar) & 1u;
    default: return false;
  }
}

}  // namespace

int CheckRescue(const RescueRequest& request, const SourceState& source, const OnSourceTest& on_source,
                ScanSettings* settings) {
  if (request.type_mask == 0) return kSlotSelectType;
  if (!IsFolder(request.folder_text)) return kSlotSelectFolder;
  if (on_source && on_source(request.folder_text)) return kSlotOnSource;
  ScanSettings s;
  const uint32_t bps = source.working.bytes_per_sector;
  s.sectors_per_cluster = bps == 0 ? 1 : request.cluster_bytes / bps;
  if (s.sectors_per_cluster < 1) s.sectors_per_cluster = 1;
  s.cluster_offset = source.working.cluster_offset;
  s.output_folder = request.folder_text;
  if (s.output_folder.back() != '/') s.output_folder += '/';
  s.first_sector = ParseSectorText(request.first_text);
  s.last_sector = ParseSectorText(request.last_text);
  if (s.first_sector < 0 || s.first_sector > s.last_sector || s.last_sector > source.working.last_sector)
    return kSlotBadRange;
  s.type_mask = request.type_mask;
  s.free_space_only = request.free_space_only;
  s.classic = request.classic;
  *settings = std::move(s);
  return 0;
}

void CandidateList::Compact() {
  size_t out = 0;
  for (size_t i = 0; i < sectors_.size(); ++i) {
    if (codes_[i] == 0) continue;
    sectors_[out] = sectors_[i];
    codes_[out] = codes_[i];
    ++out;
  }
  sectors_.resize(out);
  codes_.resize(out);
  sectors_.shrink_to_fit();
  codes_.shrink_to_fit();
}

void SearchPass(SectorReader& reader, const ScanSettings& settings, uint32_t bps, const AvailMap* map,
                RunControl& run, CandidateList* list, uint32_t* found_count) {
  const int64_t first = settings.first_sector;
  const int64_t last = settings.last_sector;
  const int64_t total = last - first + 1;
  const int64_t c = settings.sectors_per_cluster;
  const bool grid = settings.cluster_offset != -1 && c > 1;
  const int64_t residue = grid ? settings.cluster_offset % c : 0;
  const bool free_only = settings.free_space_only && map != nullptr;
  uint8_t* buffer = reader.sector_buffer();
  const std::string sector_label = UiText(kSlotSector);

  for (int64_t s = first; s <= last; ++s) {
    if (run.search_cancel.load(std::memory_order_relaxed)) break;
    // Off the cluster grid: jump straight to the next sector on it (the skipped ones
    // would only have passed through the refresh test).
    if (grid && s % c != residue) {
      int64_t next = s - s % c + residue;
      if (next < s) next += c;
      s = next;
      if (s > last) break;
    }
    if (!(free_only && map->IsTaken(s))) {
      // The sector is identified where the read window holds it; when the window cannot
      // be filled around it, it is read on its own into the sector buffer.
      const uint8_t* bytes = reader.View(s * static_cast<int64_t>(bps), static_cast<int32_t>(bps));
      if (bytes == nullptr && reader.ReadSectorDirect(s)) bytes = buffer;
      if (bytes != nullptr) {
        const uint8_t t = IdentifySector(bytes, bps, settings.classic);
        if (t > 0) {
          if (!NeverKept(t)) list->Append(s, t);
          if (IsSelectedArchive(t, settings.type_mask)) ++*found_count;
        }
      }
    }
    if (run.RefreshDue()) {
      run.SetLabel(ProgressWindow::kSearch, 1, sector_label + std::to_string(s));
      run.SetLabel(ProgressWindow::kSearch, 2, UiText(kSlotPercent) + PercentText(s - first, total));
      run.SetLabel(ProgressWindow::kSearch, 3, UiText(kSlotFound) + std::to_string(*found_count));
      run.Pump();
    }
  }
}

int64_t AlignCandidates(CandidateList& list, uint32_t sectors_per_cluster, RunControl& run) {
  const int64_t c = sectors_per_cluster;
  run.SetCaption(ProgressWindow::kSearch, UiText(kSlotTidying));
  run.SetLabel(ProgressWindow::kSearch, 3, "");
  std::vector<double> weight(static_cast<size_t>(c), 0.0);
  const size_t count = list.size();
  auto label = [&](size_t handled, size_t index) {
    if (handled % kAlignLabelEvery != 0) return;
    run.SetLabel(ProgressWindow::kSearch, 1, UiText(kSlotSector) + std::to_string(list.sector(index)));
    run.SetLabel(ProgressWindow::kSearch, 2,
                 UiText(kSlotPercent) + PercentText(static_cast<int64_t>(handled), static_cast<int64_t>(count)));
  };
  for (size_t k = 0; k < count; ++k) {
    const size_t i = count - 1 - k;
    const auto r = static_cast<size_t>(list.sector(i) % c);
    const uint8_t code = list.code(i);
    if (code == type_code::kJpegOther) weight[r] += 0.5;
    else if (code != type_code::kMetadata) weight[r] += 1.0;
    label(k, i);
  }
  size_t best = 0;
  for (size_t r = 1; r < weight.size(); ++r)
    if (weight[r] > weight[best]) best = r;
  const auto offset = static_cast<int64_t>(best);
  for (size_t k = 0; k < count; ++k) {
    const size_t i = count - 1 - k;
    if (list.sector(i) % c != offset) list.Remove(i);
    label(k, i);
  }
  list.Compact();
  return offset;
}

namespace {

void ClaimMetadata(ScanContext& ctx, int64_t s) {
  const int64_t c = ctx.sectors_per_cluster;
  do {
    if (s > ctx.last_sector) return;
    ctx.map->ClaimSector(s);
    ++s;
  } while ((s - ctx.cluster_offset) % c != 0);
}

bool RunOne(ScanContext& ctx, uint8_t code, int64_t sector, const ScanSettings& settings, uint32_t* walk_errors) {
  try {
    const int64_t start = sector * static_cast<int64_t>(ctx.bytes_per_sector);
    if (code == type_code::kMetadata) {
      ClaimMetadata(ctx, sector);
      return true;
    }
    const DispatchRow& row = DispatchFor(code);
    if (row.carver == nullptr) return true;
    std::string_view folder;
    if (row.folder == FolderRule::kAlways ||
        (row.folder == FolderRule::kIfSelected && ((settings.type_mask >> row.mask_bit) & 1u)))
      folder = settings.output_folder;
    row.carver(ctx, start, folder);
  } catch (const std::exception&) {
    // The walk has already given up on its way out (released its claims, removed its
    // file); the rescue goes on with the next candidate.
    ++*walk_errors;
  }
  return true;
}

}  // namespace

void RecoveryPass(ScanContext& ctx, const CandidateList& list, const ScanSettings& settings, RunControl& run,
                  uint32_t* walk_errors) {
  const size_t count = list.size();
  auto one_run = [&](bool extra) {
    for (size_t k = 0; k < count; ++k) {
      const size_t i = count - 1 - k;
      if (!run.PauseTest()) return;
      run.SetLabel(ProgressWindow::kRecovery, 2, UiText(kSlotProgress) + std::to_string(k * 100 / count) + "%");
      run.SetLabel(ProgressWindow::kRecovery, 3, UiText(kSlotSectorRecovery) + std::to_string(list.sector(i)));
      run.Pump();
      const uint8_t code = list.code(i);
      if (extra) {
        if (code == type_code::kJpegOther) {
          try {
            CarveJpeg(ctx, list.sector(i) * static_cast<int64_t>(ctx.bytes_per_sector), settings.output_folder);
          } catch (const std::exception&) {
            ++*walk_errors;
          }
        }
      } else {
        RunOne(ctx, code, list.sector(i), settings, walk_errors);
      }
      run.SetLabel(ProgressWindow::kRecovery, 1, UiText(kSlotSuccess) + std::to_string(ctx.rescued_count));
      run.Pump();
    }
  };
  one_run(false);
  one_run(true);
}

RescueOutcome RunRescue(SourceState& source, SectorReader& reader, const ScanSettings& settings, RunControl& run,
                        RescueReport* report, const ThumbSettings* thumbs) {
  RescueOutcome outcome;
  const Geometry& g = source.working;
  const uint32_t bps = g.bytes_per_sector;
  AvailMap map;
  try {
    map = AvailMap(g.last_sector);
  } catch (const std::bad_alloc&) {
    outcome.message_slot = kSlotNoMemory;
    return outcome;
  }
  reader.SetBytesPerSector(bps);
  reader.SetRangeLastSector(settings.last_sector);

  ScanSettings s = settings;
  run.SetLabel(ProgressWindow::kSearch, 4, UiText(kSlotSource) + source.name);
  run.SetLabel(ProgressWindow::kSearch, 3, "");
  run.search_cancel.store(false);
  run.ShowWindow(ProgressWindow::kSearch);

  if (s.free_space_only) {
    run.SetCaption(ProgressWindow::kSearch, UiText(kSlotCollecting));
    run.SetLabel(ProgressWindow::kSearch, 1, "");
    run.SetLabel(ProgressWindow::kSearch, 2, UiText(kSlotPercent) + "0");
    const FreeSpaceResult r = CollectFreeSpace(reader, g, map, run);
    if (!r.completed) {
      s.free_space_only = false;
      outcome.free_space_dropped = true;
      outcome.free_space_disable = !r.cancelled;
    }
    reader.SetRangeLastSector(settings.last_sector);
  }

  run.SetCaption(ProgressWindow::kSearch, UiText(kSlotSearching));
  run.SetLabel(ProgressWindow::kSearch, 1, UiText(kSlotSector) + "0");
  run.SetLabel(ProgressWindow::kSearch, 2, UiText(kSlotPercent) + "0");
  CandidateList list;
  int64_t offset = s.cluster_offset == -1 ? 0 : s.cluster_offset;
  if (!run.search_cancel.load()) {
    SearchPass(reader, s, bps, &map, run, &list, &outcome.found_count);
    if (s.cluster_offset == -1 && s.sectors_per_cluster > 1) offset = AlignCandidates(list, s.sectors_per_cluster, run);
  }
  outcome.candidates = list.size();
  outcome.effective_cluster_offset = offset;

  run.search_cancel.store(true);
  run.CloseWindow(ProgressWindow::kSearch);
  run.SetCaption(ProgressWindow::kRecovery, UiText(kSlotRescuing));
  run.SetLabel(ProgressWindow::kRecovery, 4, UiText(kSlotSource) + source.name);
  run.SetLabel(ProgressWindow::kRecovery, 1, UiText(kSlotSuccess));
  run.SetLabel(ProgressWindow::kRecovery, 2, UiText(kSlotProgress));
  run.SetLabel(ProgressWindow::kRecovery, 3, UiText(kSlotSectorRecovery));
  run.ShowWindow(ProgressWindow::kRecovery);
  run.run_state.store(kRun);

  ScanContext ctx;
  ctx.reader = &reader;
  ctx.map = &map;
  ctx.run = &run;
  ctx.bytes_per_sector = bps;
  ctx.range_end = s.last_sector;
  ctx.last_sector = g.last_sector;
  ctx.sectors_per_cluster = s.sectors_per_cluster;
  ctx.cluster_offset = offset;
  ctx.report = report;
  ctx.thumbs = thumbs;
  ctx.classic = s.classic;
  RecoveryPass(ctx, list, s, run, &outcome.walk_errors);

  run.CloseWindow(ProgressWindow::kRecovery);
  outcome.rescued_count = ctx.rescued_count;
  return outcome;
}

}  // namespace quorvex
