#include "cli/cli_commands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "app/ui_text.h"
#include "cli/cli_progress.h"
#include "engine/report.h"
#include "engine/scan_driver.h"
#include "platform/sector_device.h"
#include "source/geometry.h"
#include "source/sector_reader.h"

namespace quorvex {
namespace {

constexpr int kSlotFailedOpenDrive = 16;
constexpr int kSlotFailedOpenFile = 48;
constexpr int kSlotRescued = 27;

void PrintError(const std::string& text, int err) {
  if (err != 0) std::fprintf(stderr, "%s (%s)\n", text.c_str(), std::strerror(err));
  else std::fprintf(stderr, "%s\n", text.c_str());
}

/// Opens SOURCE for reading only and fills the geometry.
bool OpenForCommand(const std::string& path, SourceState& source, SectorReader& reader) {
  int err = 0;
  source.device = OpenPosixDevice(path, &err);
  if (!source.device) {
    PrintError(UiText(kSlotFailedOpenFile), err);
    return false;
  }
  source.kind = SourceKind::kImageFile;
  source.path = path;
  source.name = path;
  Geometry g;
  g.bytes_per_sector = 512;
  g.last_sector = source.device->Length() / g.bytes_per_sector - 1;
  source.detected = g;
  source.working = g;
  reader.SetDevice(source.device.get());
  reader.SetBytesPerSector(g.bytes_per_sector);
  (void)kSlotFailedOpenDrive;
  return true;
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
  if (!OpenForCommand(args.source, source, reader)) return kExitCouldNot;
  if (args.range.empty()) {
    request.first_text = "0";
    request.last_text = std::to_string(source.working.last_sector);
  }
  request.folder_text = args.out;
  request.free_space_only = args.free_space_only;
  request.cluster_bytes = source.working.sectors_per_cluster * source.working.bytes_per_sector;
  request.classic = args.classic;

  ScanSettings settings;
  const int slot = CheckRescue(request, source, nullptr, &settings);
  if (slot != 0) {
    PrintError(UiText(slot), 0);
    return kExitCouldNot;
  }
  CliRunControl run(args.quiet);
  run.StartTick();
  RescueReport report;
  const RescueOutcome outcome = RunRescue(source, reader, settings, run, args.report.empty() ? nullptr : &report);
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

int RunBackupCommand(const BackupArgs& /*args*/) {
  std::fprintf(stderr, "backup: not available in this build\n");
  return kExitCouldNot;
}

int RunViewCommand(const ViewArgs& /*args*/) {
  std::fprintf(stderr, "view: not available in this build\n");
  return kExitCouldNot;
}

int RunDetectCommand(const std::string& /*source*/) {
  std::fprintf(stderr, "detect: not available in this build\n");
  return kExitCouldNot;
}

int RunDrivesCommand() {
  std::fprintf(stderr, "drives: not available in this build\n");
  return kExitCouldNot;
}

}  // namespace quorvex
