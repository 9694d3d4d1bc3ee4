#include "cli/cli_commands.h"

#include <cerrno>
#include <charconv>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "app/ui_text.h"
#include "backup/backup.h"
#include "cli/cli_progress.h"
#include "engine/report.h"
#include "engine/scan_driver.h"
#include "engine/thumbs.h"
#include "platform/device_identity.h"
#include "platform/drive_list.h"
#include "platform/sector_device.h"
#include "source/fs_detect.h"
#include "source/geometry.h"
#include "source/sector_reader.h"
#include "source/source_open.h"
#include "viewer/hex_dump.h"

namespace quorvex {
namespace {

constexpr int kSlotRescued = 27;
constexpr int kSlotDeleteQuestion = 44;
constexpr int kSlotGoToRange = 19;

void PrintError(const std::string& text, int err) {
  if (err != 0) std::fprintf(stderr, "%s (%s)\n", text.c_str(), std::strerror(err));
  else std::fprintf(stderr, "%s\n", text.c_str());
}

/// What SOURCE names: hd:N is physical drive N; a whole disk is a physical drive, any
/// other block device a volume; everything else an image file.
OpenView OpenForCommand(const std::string& text, SourceState& source, SectorReader& reader) {
  if (text.rfind("hd:", 0) == 0) {
    int number = -1;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data() + 3, end, number);
    DriveEntry entry;
    if (ec == std::errc() && ptr == end && number >= 0) entry = FindPhysicalDrive(number);
    if (entry.kind == SourceKind::kNone) {
      OpenView failed;
      failed.message_slot = kSlotFailedOpenDrive;
      failed.error_number = ENODEV;
      return failed;
    }
    return OpenDrive(source, reader, entry);
  }
  struct stat st {};
  if (::stat(text.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
    DriveEntry entry;
    entry.kind = SourceKind::kVolume;
    entry.device_path = text;
    entry.text = text;
    entry.rdev = st.st_rdev;
    for (const DriveEntry& disk : ListPhysicalDrives()) {
      if (disk.rdev == st.st_rdev) {
        entry = disk;
        entry.device_path = text;
        break;
      }
    }
    return OpenDrive(source, reader, entry);
  }
  return OpenImage(source, reader, text);
}

bool OpenOrReport(const std::string& text, SourceState& source, SectorReader& reader, OpenView* view) {
  *view = OpenForCommand(text, source, reader);
  if (view->opened) return true;
  PrintError(UiText(view->message_slot), view->error_number);
  return false;
}

/// The folder the running program lives in, ending with '/'.
std::string ProgramFolder() {
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "./";
  std::string folder(path, static_cast<size_t>(n));
  return folder.substr(0, folder.rfind('/') + 1);
}

int ItemOf(const std::vector<std::string>& items, const std::string& value) {
  for (size_t i = 0; i < items.size(); ++i)
    if (items[i] == value) return static_cast<int>(i);
  return -1;
}

const char* FsName(FsKind kind) {
  switch (kind) {
    case FsKind::kFat12: return "FAT12";
    case FsKind::kFat16: return "FAT16";
    case FsKind::kFat32: return "FAT32";
    case FsKind::kNtfs: return "NTFS";
    case FsKind::kExFat: return "exFAT";
    case FsKind::kHfs: return "HFS";
    case FsKind::kHfsPlus: return "HFS+/HFSX";
    case FsKind::kNone: break;
  }
  return "none";
}

uint32_t ParseTypes(const std::string& text, bool given, bool* ok) {
  *ok = true;
  if (!given) return kDefaultTypeMask;
  uint32_t mask = 0;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    if (item == "rar") mask |= 1u << kMaskBitRar;
    else if (item == "zip") mask |= 1u << kMaskBitZip;
    else if (item == "cab") mask |= 1u << kMaskBitCab;
    else if (item == "7z") mask |= 1u << kMaskBit7z;
    else if (!item.empty()) *ok = false;
  }
  return mask;
}

bool ParseRange(const std::string& text, std::string* first, std::string* last) {
  const auto dash = text.find('-');
  if (dash == std::string::npos) return false;
  *first = text.substr(0, dash);
  *last = text.substr(dash + 1);
  return true;
}

}  // namespace

int RunRescueCommand(const RescueArgs& args, int argc, char** argv) {
  bool types_ok = true;
  RescueRequest request;
  request.type_mask = ParseTypes(args.types, args.types_given, &types_ok);
  if (!types_ok) {
    std::fprintf(stderr, "--types: expected a list of rar, zip, 7z and cab\n");
    return kExitUsage;
  }
  if (!args.range.empty() && !ParseRange(args.range, &request.first_text, &request.last_text)) {
    std::fprintf(stderr, "--range: expected FIRST-LAST\n");
    return kExitUsage;
  }
  SourceState source;
  SectorReader reader;
  OpenView view;
  if (!OpenOrReport(args.source, source, reader, &view)) return kExitCouldNot;
  // The options act as choosing in the window's boxes, in their order on the window:
  // cause of loss, then file system, then cluster size.
  int cluster_item = view.cluster_item;
  bool boxes_enabled = view.boxes_enabled;
  if (!args.cause.empty()) {
    const int cause = ItemOf({"deleted", "formatted", "repartitioned"}, args.cause);
    const CauseOfLossView chosen = CauseOfLossChosen(source.detected, source.working, cause);
    if (chosen.message_slot != 0) PrintError(UiText(chosen.message_slot), 0);
    cluster_item = chosen.cluster_item;
    boxes_enabled = chosen.boxes_enabled;
  }
  if (!args.fs.empty() || !args.cluster.empty()) {
    if (!boxes_enabled) {
      std::fprintf(stderr, "--fs and --cluster need --cause formatted or repartitioned on a recognised file system\n");
      return kExitUsage;
    }
    if (!args.fs.empty())
      cluster_item = FileSystemChosen(source.working, ItemOf({"fat", "fat32", "ntfs", "exfat", "hfs", "hfs+", "other"}, args.fs));
    if (!args.cluster.empty()) {
      cluster_item = ItemOf({"0.5K", "1K", "2K", "4K", "8K", "16K", "32K", "64K", "128K"}, args.cluster);
      ClusterSizeChosen(source.working, cluster_item, true);
    }
  }
  if (args.range.empty()) {
    request.first_text = view.first_sector_text;
    request.last_text = view.last_sector_text;
  }
  request.folder_text = args.out;
  request.free_space_only = args.free_space_only && view.free_space_enabled;
  request.cluster_bytes = ClusterItemBytes(cluster_item);
  request.classic = args.classic;

  ScanSettings settings;
  const DeviceIdentity identity = source.device->Identity();
  const int slot = CheckRescue(request, source,
                               [&](const std::string& folder) { return SameDeviceAsSource(folder, identity); },
                               &settings);
  if (slot != 0) {
    PrintError(UiText(slot), 0);
    return kExitCouldNot;
  }
  CliRunControl run(args.quiet);
  run.StartTick();
  // The thumbnail lists beside the program, as the window reads them at start-up.
  std::string thumbs_message;
  const ThumbSettings thumbs = LoadThumbSettings(ProgramFolder(), &thumbs_message);
  if (!thumbs_message.empty()) PrintError(thumbs_message, 0);
  RescueReport report;
  const RescueOutcome outcome =
      RunRescue(source, reader, settings, run, args.report.empty() ? nullptr : &report, &thumbs);
  if (outcome.message_slot != 0) {
    PrintError(UiText(outcome.message_slot), 0);
    return kExitCouldNot;
  }
  if (!args.report.empty()) {
    std::string command_line;
    for (int i = 0; i < argc; ++i) command_line += (i ? " " : "") + std::string(argv[i]);
    int err = 0;
    if (!report.WriteDfxml(args.report, args.source, command_line, &err)) {
      PrintError("Failed to write the report " + args.report, err);
      std::printf("%s%u\n", UiText(kSlotRescued).c_str(), outcome.rescued_count);
      return kExitCouldNot;
    }
  }
  std::printf("%s%u\n", UiText(kSlotRescued).c_str(), outcome.rescued_count);
  return kExitRan;
}

int RunBackupCommand(const BackupArgs& args) {
  BackupRequest request;
  if (!args.range.empty() && !ParseRange(args.range, &request.first_text, &request.last_text)) {
    std::fprintf(stderr, "--range: expected FIRST-LAST\n");
    return kExitUsage;
  }
  SourceState source;
  SectorReader reader;
  OpenView view;
  if (!OpenOrReport(args.source, source, reader, &view)) return kExitCouldNot;
  if (args.range.empty()) {
    request.first_text = view.first_sector_text;
    request.last_text = view.last_sector_text;
  }
  request.image_path = args.image;
  request.free_space_only = args.free_space_only;
  if (args.free_space_only && !view.free_space_enabled) {
    std::fprintf(stderr, "--free-space-only needs a recognised file system on the source\n");
    return kExitCouldNot;
  }
  CliRunControl run(args.quiet);
  run.StartTick();
  const DeviceIdentity identity = source.device->Identity();
  const BackupOutcome outcome = RunBackup(
      source, reader, request, run, [&](const std::string& folder) { return SameDeviceAsSource(folder, identity); });
  run.CloseWindow(ProgressWindow::kSearch);

  std::string text = outcome.message_slot != 0 ? UiText(outcome.message_slot) : std::string();
  if (!outcome.reason.empty()) text += text.empty() ? outcome.reason : " (" + outcome.reason + ")";
  switch (outcome.result) {
    case BackupResult::kFinished:
    case BackupResult::kFinishedWithErrors:
      std::printf("%s\n", text.c_str());
      return kExitRan;
    case BackupResult::kCancelledCollecting:
      return kExitRan;
    case BackupResult::kCancelled:
    case BackupResult::kWriteFailed: {
      if (!text.empty()) std::fprintf(stderr, "%s\n", text.c_str());
      // The window asks whether to delete the unfinished image; on a terminal so do we,
      // otherwise the image is kept (nothing is lost without being asked).
      if (outcome.ask_delete && ::isatty(STDIN_FILENO) == 1) {
        std::fprintf(stderr, "%s [y/N] ", UiText(kSlotDeleteQuestion).c_str());
        char answer[16] = {};
        if (std::fgets(answer, sizeof answer, stdin) != nullptr && (answer[0] == 'y' || answer[0] == 'Y'))
          DeleteBackupImage(args.image);
      }
      return outcome.result == BackupResult::kCancelled ? kExitRan : kExitCouldNot;
    }
    default:
      std::fprintf(stderr, "%s\n", text.c_str());
      return kExitCouldNot;
  }
}

int RunViewCommand(const ViewArgs& args) {
  SourceState source;
  SectorReader reader;
  OpenView view;
  if (!OpenOrReport(args.source, source, reader, &view)) return kExitCouldNot;
  if (args.sector < 0 || args.sector > source.working.last_sector) {
    PrintError(UiText(kSlotGoToRange), 0);
    return kExitCouldNot;
  }
  if (!reader.ReadSectorDirect(args.sector)) {
    PrintError("Sector " + std::to_string(args.sector) + " cannot be read", source.device->LastError());
    return kExitCouldNot;
  }
  for (const std::string& line : HexDumpLines(reader.sector_buffer(), source.working.bytes_per_sector))
    std::printf("%s\n", line.c_str());
  return kExitRan;
}

int RunDetectCommand(const std::string& text) {
  SourceState source;
  SectorReader reader;
  OpenView view;
  if (!OpenOrReport(text, source, reader, &view)) return kExitCouldNot;
  const Geometry& g = source.detected;
  std::printf("File system: %s\n", view.recognised ? FsName(g.fs_kind) : "none recognised");
  std::printf("Sector size: %u\n", g.bytes_per_sector);
  std::printf("Sectors per cluster: %u\n", g.sectors_per_cluster);
  std::printf("Cluster offset: %d\n", g.cluster_offset);
  std::printf("Sectors: %lld\n", static_cast<long long>(g.last_sector + 1));
  return kExitRan;
}

int RunDrivesCommand() {
  for (const DriveEntry& entry : ListDrives()) std::printf("%s\t%s\n", entry.text.c_str(), entry.device_path.c_str());
  return kExitRan;
}

}  // namespace quorvex
