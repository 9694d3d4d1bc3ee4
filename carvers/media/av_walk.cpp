#include "carvers/media/av_walk.h"

#include <string>

#include "app/ui_text.h"

namespace quorvex::av {
namespace {
constexpr int64_t kCompactionSectors = 60;
constexpr int kSectorLabel = 41;  // "Sector: "
constexpr int kProgressLabel = 3;
}  // namespace

StepResult StepOver(Walk& walk, Cursor& at, int64_t size) {
  const int64_t sector = walk.sector_size();
  int64_t end = at.position + size;  // the unit's end in the working copy
  if (end > walk.buffered()) {
    int64_t rest = size;
    while (rest >= 2 * sector && end - walk.buffered() >= sector) {
      if (!walk.SkipClaim()) return StepResult::kRangeEnd;
      walk.Progress();
      at.length += sector;
      rest -= sector;
      end -= sector;
    }
    if (!walk.ReadAhead(end)) return StepResult::kReadFail;
  }
  at.length += end - at.position;
  at.position = end;
  return StepResult::kDone;
}

void CompactBefore(Walk& walk, int64_t position) {
  const int64_t sector = walk.sector_size();
  const int64_t into = position - walk.kept_from();
  if (into <= kCompactionSectors * sector) return;
  walk.DiscardBefore(walk.kept_from() + into / sector * sector);
  RefreshNow(walk);
}

void TrimToLength(Walk& walk, int64_t length) {
  const int64_t sector = walk.sector_size();
  const int64_t needed = length <= 0 ? 0 : (length - 1) / sector + 1;
  ExtentList& extents = walk.extents();
  if (static_cast<int64_t>(extents.size()) <= needed) return;
  const int64_t first_released = extents[static_cast<size_t>(needed)];
  walk.ReleaseExtentsAfter(static_cast<size_t>(needed));
  walk.set_next_offset(first_released * sector);
}

void RefreshNow(Walk& walk) {
  ScanContext& ctx = walk.context();
  if (ctx.run == nullptr) return;
  const int64_t sector = walk.sector_size();
  ctx.run->last_refresh_tick = ctx.run->ui_tick.load(std::memory_order_relaxed);
  ctx.run->SetLabel(ProgressWindow::kRecovery, kProgressLabel,
                    UiText(kSectorLabel) + std::to_string(walk.start_offset() / sector) + ", " +
                        std::to_string(walk.next_offset() / sector));
  ctx.run->Pump();
}

}  // namespace quorvex::av
