#include "backup/backup.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>
#include <new>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

#include "app/ui_text.h"
#include "engine/avail_map.h"
#include "engine/free_space.h"
#include "engine/output_file.h"

namespace quorvex {
namespace {

// Text slots of the backup.
constexpr int kSlotError = 17;
constexpr int kSlotBadRange = 35;
constexpr int kSlotOnSource = 36;
constexpr int kSlotBackupCaption = 37;
constexpr int kSlotCreating = 38;
constexpr int kSlotWait = 39;
constexpr int kSlotNoRoom = 40;
constexpr int kSlotSector = 41;
constexpr int kSlotPercent = 42;
constexpr int kSlotErrors = 43;
constexpr int kSlotDeleteQuestion = 44;
constexpr int kSlotPrompt = 45;
constexpr int kSlotFinishedBad = 46;
constexpr int kSlotFinished = 47;
constexpr int kSlotOpenFailed = 48;
constexpr int kSlotCollectPercent = 51;
constexpr int kSlotSource = 77;
constexpr int kSlotCollecting = 87;
constexpr int kSlotNoMemory = 88;

/// The folder an image path names its file in.
std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string Reason(int err) { return err == 0 ? std::string() : std::string(std::strerror(err)); }

/// Errors that mean the destination cannot take more bytes.
bool IsNoRoom(int err) { return err == ENOSPC || err == EDQUOT || err == EFBIG; }

/// Sectors first .. last not taken in the map.
int64_t AvailableSectors(const AvailMap& map, int64_t first, int64_t last) {
  int64_t taken = 0;
  int64_t s = first;
  while (s <= last && (s & 7) != 0) taken += map.IsTaken(s++) ? 1 : 0;
  const uint8_t* bytes = map.data();
  while (s + 7 <= last) {
    taken += std::popcount(bytes[static_cast<size_t>(s >> 3)]);
    s += 8;
  }
  while (s <= last) taken += map.IsTaken(s++) ? 1 : 0;
  return last - first + 1 - taken;
}

/// Free bytes the destination folder's file system grants this user (the superuser may
/// use the reserved blocks too); -1 when unknown.
int64_t FreeBytes(const std::string& folder) {
  struct statvfs st {};
  if (::statvfs(folder.c_str(), &st) != 0) return -1;
  const auto blocks = ::geteuid() == 0 ? st.f_bfree : st.f_bavail;
  return static_cast<int64_t>(blocks) * static_cast<int64_t>(st.f_frsize);
}

class Copier {
 public:
  Copier(SectorReader& reader, TNewFileStream& image, int64_t bps)
      : reader_(reader), image_(image), b_(bps), buffer_(static_cast<size_t>(kBackupChunkBytes)) {}

  /// Copies n sectors from sector s; false when the image write failed (write_error()).
  bool CopyChunk(int64_t s, int64_t n) {
    const int64_t bytes = n * b_;
    uint8_t* buf = buffer_.data();
    const int32_t missing = reader_.ReadSource(buf, static_cast<int32_t>(bytes), s * b_);
    if (missing > 0) {
      ++error_count_;
      // The bytes the window delivered are the source's; the rest is read again sector
      // by sector so one bad sector costs only itself. Unreadable sectors are zeros.
      const int64_t delivered = bytes - missing;
      const int64_t first_missing = delivered / b_;
      std::memset(buf + first_missing * b_, 0, static_cast<size_t>(bytes - first_missing * b_));
      for (int64_t k = first_missing; k < n; ++k) {
        if (reader_.ReadSectorDirect(s + k))
          std::memcpy(buf + k * b_, reader_.sector_buffer(), static_cast<size_t>(b_));
        else
          ++bad_sectors_;
      }
    }
    const int64_t written = image_.Write(buf, bytes);
    if (written != bytes) {
      write_error_ = image_.last_error() != 0 ? image_.last_error() : ENOSPC;
      return false;
    }
    sectors_written_ += n;
    return true;
  }

  int64_t error_count() const { return error_count_; }
  int64_t bad_sectors() const { return bad_sectors_; }
  int64_t sectors_written() const { return sectors_written_; }
  int write_error() const { return write_error_; }

 private:
  SectorReader& reader_;
  TNewFileStream& image_;
  int64_t b_;
  std::vector<uint8_t> buffer_;
  int64_t error_count_ = 0;
  int64_t bad_sectors_ = 0;
  int64_t sectors_written_ = 0;
  int write_error_ = 0;
};

void SetMessage(BackupOutcome* o, BackupResult result, int slot, int caption) {
  o->result = result;
  o->message_slot = slot;
  o->caption_slot = caption;
}

}  // namespace

BackupOutcome RunBackup(SourceState& source, SectorReader& reader, const BackupRequest& request, RunControl& run,
                        const OnSourceTest& on_source) {
  BackupOutcome outcome;
  if (!source.is_open()) return outcome;
  const Geometry& g = source.working;
  const int64_t b = g.bytes_per_sector;
  const int64_t first = ParseSectorText(request.first_text);
  const int64_t last = ParseSectorText(request.last_text);
  if (first < 0 || first > last || last > g.last_sector || b <= 0 || b > kMaxSectorSize) {
    SetMessage(&outcome, BackupResult::kBadRange, kSlotBadRange, kSlotError);
    return outcome;
  }
  const std::string folder = FolderOf(request.image_path);
  if (on_source && on_source(folder)) {
    SetMessage(&outcome, BackupResult::kOnSource, kSlotOnSource, kSlotError);
    return outcome;
  }

  AvailMap map;
  try {
    map = AvailMap(g.last_sector);
  } catch (const std::bad_alloc&) {
    SetMessage(&outcome, BackupResult::kNoMemory, kSlotNoMemory, 0);
    return outcome;
  }

  run.SetLabel(ProgressWindow::kSearch, 4, UiText(kSlotSource) + source.name);
  run.SetLabel(ProgressWindow::kSearch, 3, "");
  run.ShowWindow(ProgressWindow::kSearch);
  run.search_cancel.store(false);
  // Every exit from here on closes the search window again.
  auto finish = [&run, &outcome]() -> BackupOutcome {
    run.search_cancel.store(true);
    run.CloseWindow(ProgressWindow::kSearch);
    return outcome;
  };

  bool free_only = request.free_space_only;
  if (free_only) {
    run.SetCaption(ProgressWindow::kSearch, UiText(kSlotCollecting));
    run.SetLabel(ProgressWindow::kSearch, 1, "");
    run.SetLabel(ProgressWindow::kSearch, 2, UiText(kSlotCollectPercent) + "0");
    // The file system is the one found at opening; its sectors are numbered like the map's.
    Geometry fs = source.detected;
    fs.last_sector = g.last_sector;
    FreeSpaceResult r;
    if (fs.bytes_per_sector == g.bytes_per_sector) r = CollectFreeSpace(reader, fs, map, run);
    if (!r.completed) {
      free_only = false;
      outcome.free_space_dropped = true;
      outcome.free_space_disable = !r.cancelled;
    }
  }
  run.SetCaption(ProgressWindow::kSearch, UiText(kSlotBackupCaption));
  run.SetLabel(ProgressWindow::kSearch, 1, UiText(kSlotCreating));
  run.SetLabel(ProgressWindow::kSearch, 2, UiText(kSlotWait));
  if (run.search_cancel.load()) {
    SetMessage(&outcome, BackupResult::kCancelledCollecting, 0, 0);
    return finish();
  }

  int err = 0;
  std::unique_ptr<TNewFileStream> image = CreateOutputFile(request.image_path, kCreateMode, &err);
  if (!image) {
    SetMessage(&outcome, BackupResult::kCreateFailed, kSlotOpenFailed, kSlotError);
    outcome.error_number = err;
    outcome.reason = Reason(err);
    return finish();
  }
  run.Pump();

  const int64_t image_bytes = (free_only ? AvailableSectors(map, first, last) : last - first + 1) * b;
  const int64_t room = FreeBytes(folder);
  if (room >= 0 && room < image_bytes) {
    // The file stays as created; nothing is copied.
    SetMessage(&outcome, BackupResult::kNoRoom, kSlotNoRoom, kSlotError);
    outcome.error_number = ENOSPC;
    outcome.reason = Reason(ENOSPC);
    image->Close();
    return finish();
  }

  reader.SetBytesPerSector(static_cast<uint32_t>(b));
  reader.SetRangeLastSector(last);
  const int64_t c = g.sectors_per_cluster == 0 ? 1 : g.sectors_per_cluster;
  const int64_t max_sectors = kBackupChunkBytes / b;
  const int64_t total = last - first + 1;
  Copier copier(reader, *image, b);
  bool write_failed = false;
  int64_t current = first;
  while (!run.search_cancel.load() && current <= last) {
    if (free_only && map.IsTaken(current)) {
      ++current;
    } else {
      int64_t n;
      if (free_only) {
        // Every sector of a free-space chunk is tested, so the image holds exactly the
        // available sectors of the range.
        n = 1;
        while (n < max_sectors && current + n <= last && !map.IsTaken(current + n)) ++n;
      } else {
        n = std::min(c, max_sectors);
        while ((n + c) * b <= kBackupChunkBytes) n += c;
      }
      if (current + n - 1 > last) n = last + 1 - current;
      if (!copier.CopyChunk(current, n)) {
        write_failed = true;
        break;
      }
      current += n;
    }
    if (run.RefreshDue()) {
      run.SetLabel(ProgressWindow::kSearch, 1, UiText(kSlotSector) + std::to_string(current));
      run.SetLabel(ProgressWindow::kSearch, 2, UiText(kSlotPercent) + PercentText(current - first, total));
      run.SetLabel(ProgressWindow::kSearch, 3,
                   copier.error_count() > 0 ? UiText(kSlotErrors) + std::to_string(copier.error_count()) : "");
      run.Pump();
    }
  }
  int write_error = copier.write_error();
  if (!image->Close() && !write_failed) {
    write_failed = true;
    write_error = image->last_error();
  }
  outcome.error_count = copier.error_count();
  outcome.sectors_written = copier.sectors_written();

  if (write_failed) {
    SetMessage(&outcome, BackupResult::kWriteFailed, IsNoRoom(write_error) ? kSlotNoRoom : 0, kSlotError);
    outcome.error_number = write_error;
    outcome.reason = Reason(write_error);
    outcome.ask_delete = true;
  } else if (run.search_cancel.load()) {
    SetMessage(&outcome, BackupResult::kCancelled, kSlotDeleteQuestion, kSlotPrompt);
    outcome.ask_delete = true;
  } else if (copier.error_count() > 0) {
    SetMessage(&outcome, BackupResult::kFinishedWithErrors, kSlotFinishedBad, kSlotPrompt);
  } else {
    SetMessage(&outcome, BackupResult::kFinished, kSlotFinished, kSlotPrompt);
  }
  return finish();
}

bool DeleteBackupImage(const std::string& image_path) { return ::unlink(image_path.c_str()) == 0; }

}  // namespace quorvex
