#include "source/source_open.h"

#include <fcntl.h>
#include <unistd.h>

#include "app/ui_text.h"
#include "source/fs_detect.h"

namespace quorvex {
namespace {

constexpr int kSlotSectorSize = 86;    // "Sector Size: "
constexpr int kSlotTotalSectors = 18;  // "Total Sectors: "
constexpr int kSlotOpened = 84;        // "Opened: "
constexpr uint32_t kImageSectorSize = 512;

OpenView Failed(int slot, int error_number) {
  OpenView view;
  view.message_slot = slot;
  view.error_number = error_number;
  return view;
}

/// OpenPosixDevice fails both when the path cannot be opened and when a block device
/// does not tell its length; the window has a message for each.
int FailureSlot(const std::string& path, int open_failure_slot) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return open_failure_slot;
  ::close(fd);
  return kSlotFailedParameters;
}

/// The buffers hold sectors of up to 4,096 bytes; a device with larger (or no) logical
/// sectors cannot be read sector by sector.
bool SectorSizeSupported(uint32_t bytes_per_sector) {
  return bytes_per_sector > 0 && bytes_per_sector <= kMaxSectorSize;
}

void Unrecognised(Geometry& detected, uint32_t bytes_per_sector) {
  detected.fs_kind = FsKind::kNone;
  detected.bytes_per_sector = bytes_per_sector;
  detected.sectors_per_cluster = 1;
  detected.cluster_offset = -1;
}

/// The steps common to every opening, once the detected geometry but the last sector is known.
OpenView FinishOpening(SourceState& source, SectorReader& reader, int64_t length_bytes, bool recognised,
                       const std::string& label_name) {
  OpenView view;
  view.opened = true;
  view.recognised = recognised;
  view.cause_item = recognised ? kCauseDeleted : kCauseRepartitioned;
  view.boxes_enabled = !recognised;

  Geometry& detected = source.detected;
  // A partial sector at the end is not part of the source.
  detected.last_sector = length_bytes / static_cast<int64_t>(detected.bytes_per_sector) - 1;
  source.working = detected;
  reader.SetBytesPerSector(source.working.bytes_per_sector);
  reader.SetRangeLastSector(source.working.last_sector);
  reader.Empty();

  view.free_space_enabled = source.working.fs_kind != FsKind::kNone;
  view.fs_item = FsItemForKind(source.working.fs_kind);
  view.cluster_item = ClusterItemFor(source.working.sectors_per_cluster, source.working.bytes_per_sector);
  view.first_sector_text = "0";
  view.last_sector_text = std::to_string(source.working.last_sector);
  view.set_sector_size_panel = source.kind != SourceKind::kImageFile;
  if (view.set_sector_size_panel) {
    view.sector_size_panel = UiText(kSlotSectorSize) + std::to_string(source.working.bytes_per_sector);
  }
  view.total_sectors_panel = UiText(kSlotTotalSectors) + std::to_string(source.working.last_sector + 1);
  view.source_name = source.name;
  view.opened_label = UiText(kSlotOpened) + label_name;
  return view;
}

}  // namespace

bool CloseSource(SourceState& source, SectorReader& reader) {
  const bool was_open = source.is_open();
  reader.SetDevice(nullptr);  // also empties the window
  reader.Empty();
  source.device.reset();
  source.kind = SourceKind::kNone;
  return was_open;
}

OpenView OpenDrive(SourceState& source, SectorReader& reader, const DriveEntry& entry) {
  CloseSource(source, reader);
  if (entry.kind != SourceKind::kVolume && entry.kind != SourceKind::kPhysicalDrive) {
    return Failed(kSlotFailedOpenDrive, 0);
  }
  int err = 0;
  std::unique_ptr<SectorDevice> device = OpenPosixDevice(entry.device_path, &err);
  if (!device) return Failed(FailureSlot(entry.device_path, kSlotFailedOpenDrive), err);
  const int64_t length = device->Length();
  const uint32_t sector_size = device->SectorSize();
  if (length < 0 || !SectorSizeSupported(sector_size)) return Failed(kSlotFailedParameters, 0);

  source.device = std::move(device);
  source.kind = entry.kind;
  source.path = entry.device_path;
  source.name = entry.text;
  reader.SetDevice(source.device.get());
  reader.SetBytesPerSector(sector_size);

  bool recognised = false;
  if (entry.kind == SourceKind::kVolume) recognised = DetectFileSystem(reader, source.detected);
  // A physical drive is never examined: it holds a partition table, not a file system.
  // On Linux the volume's "free space figures" give just its logical sector size.
  if (!recognised) Unrecognised(source.detected, sector_size);
  return FinishOpening(source, reader, length, recognised, source.name);
}

OpenView OpenImage(SourceState& source, SectorReader& reader, const std::string& path) {
  CloseSource(source, reader);
  int err = 0;
  std::unique_ptr<SectorDevice> device = OpenPosixDevice(path, &err);
  if (!device) return Failed(kSlotFailedOpenFile, err);

  source.device = std::move(device);
  source.kind = SourceKind::kImageFile;
  source.path = path;
  source.name = path;
  reader.SetDevice(source.device.get());
  reader.SetBytesPerSector(kImageSectorSize);
  const int64_t length = reader.SeekSource(0, 2);
  if (length < 0) {
    CloseSource(source, reader);
    return Failed(kSlotFailedParameters, 0);
  }
  const bool recognised = DetectFileSystem(reader, source.detected);
  if (!recognised) Unrecognised(source.detected, kImageSectorSize);
  const size_t slash = path.find_last_of('/');
  const std::string file_name = slash == std::string::npos ? path : path.substr(slash + 1);
  return FinishOpening(source, reader, length, recognised, file_name);
}

}  // namespace quorvex
