#pragma once
// The image backup: copies a sector range of the open source, or only the sectors its
// file system has not allocated, into a raw image file (the sectors back to back, no
// header). The window's Backup button and the command line both run it through
// RunBackup and show the outcome's texts themselves.

#include <cstdint>
#include <string>

#include "engine/run_control.h"
#include "engine/scan_driver.h"
#include "source/geometry.h"
#include "source/sector_reader.h"

namespace quorvex {

/// What the main window holds when Backup to IMG file is pressed.
struct BackupRequest {
  std::string first_text;        ///< Edit3, decimal
  std::string last_text;         ///< Edit4, decimal
  std::string image_path;        ///< the file chosen in the save dialog
  bool free_space_only = false;  ///< CheckBox8
};

enum class BackupResult {
  kNotRun,               ///< no source open: nothing happens
  kBadRange,             ///< slot 35, caption 17
  kOnSource,             ///< slot 36, caption 17
  kNoMemory,             ///< slot 88, plain message
  kCancelledCollecting,  ///< Cancel during free-space collection: no image, no message
  kCreateFailed,         ///< slot 48 + system reason, caption 17: the image could not be created
  kNoRoom,               ///< slot 40 (+ reason), caption 17: the destination cannot hold the image; nothing copied
  kWriteFailed,          ///< slot 40 (full disk / file too large) or the system reason alone; then the slot 44 question
  kCancelled,            ///< Cancel during the copy: the slot 44 question, caption 45
  kFinishedWithErrors,   ///< slot 46, caption 45
  kFinished,             ///< slot 47, caption 45
};

struct BackupOutcome {
  BackupResult result = BackupResult::kNotRun;
  int message_slot = 0;        ///< text slot of the message to show; 0 = none (or the reason alone)
  int caption_slot = 0;        ///< 17 "Error" or 45 "Prompt"; 0 = plain message or none
  std::string reason;          ///< the system's reason ("No space left on device") when there is one
  int error_number = 0;        ///< the errno behind reason
  bool ask_delete = false;     ///< ask slot 44 "Didn't finish, delete target file?" (caption 45); Yes: DeleteBackupImage
  int64_t error_count = 0;     ///< chunks whose read failed (written zero-filled where unreadable)
  int64_t sectors_written = 0; ///< sectors in the image
  bool free_space_dropped = false;  ///< free space only asked for but not used: untick CheckBox8
  bool free_space_disable = false;  ///< ... and disable it (the collection failed, not cancelled)
};

/// The chunk size of the copy: at most 1 MiB of whole sectors a step.
inline constexpr int64_t kBackupChunkBytes = 1048576;

/// Runs the whole backup after the save dialog: checks the range, refuses a destination
/// on the source (on_source gets the image's folder), collects free space when asked,
/// creates the image, copies chunk by chunk and closes the search window again.
/// The caller has started the 200 ms tick. Reads go only through reader, bounded by the
/// range's last sector.
BackupOutcome RunBackup(SourceState& source, SectorReader& reader, const BackupRequest& request, RunControl& run,
                        const OnSourceTest& on_source);

/// The answer Yes to the slot 44 question: removes the partial image. False when the
/// system refuses.
bool DeleteBackupImage(const std::string& image_path);

}  // namespace quorvex
