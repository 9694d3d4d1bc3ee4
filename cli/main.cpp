// quorvex: the rescue, backup, hex view, detection and drive list without a window.
// Exit status: 0 the operation ran, 1 it could not (message on stderr), 2 usage error.

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/ui_text.h"
#include "cli/cli_commands.h"

int main(int argc, char** argv) {
  using namespace quorvex;
  SelectUiText(VariantForCodePage(OemCodePageFromLocale()));

  CLI::App app{"quorvex: rescues lost and deleted RAR, ZIP, 7Z and CAB archives from raw disks and images"};
  app.set_version_flag("--version", std::string("quorvex ") + QUORVEX_VERSION);
  app.require_subcommand(1);

  RescueArgs rescue;
  auto* r = app.add_subcommand("rescue", "rescue the archives of SOURCE into a folder");
  r->add_option("SOURCE", rescue.source, "image file, device path, or hd:N for physical drive N")->required();
  r->add_option("--out", rescue.out, "folder the rescued archives are written to")->required();
  auto* types = r->add_option("--types", rescue.types, "archive types to save: rar,zip,7z,cab (default rar,zip,7z)");
  r->add_option("--cause", rescue.cause, "cause of the loss: deleted, formatted or repartitioned")
      ->check(CLI::IsMember({"deleted", "formatted", "repartitioned"}));
  r->add_option("--fs", rescue.fs, "file system: fat, fat32, ntfs, exfat, hfs, hfs+ or other")
      ->check(CLI::IsMember({"fat", "fat32", "ntfs", "exfat", "hfs", "hfs+", "other"}));
  r->add_option("--cluster", rescue.cluster, "cluster size: 0.5K 1K 2K 4K 8K 16K 32K 64K 128K")
      ->check(CLI::IsMember({"0.5K", "1K", "2K", "4K", "8K", "16K", "32K", "64K", "128K"}));
  r->add_option("--range", rescue.range, "first and last sector to scan, FIRST-LAST");
  r->add_flag("--free-space-only", rescue.free_space_only, "scan only the space the file system has not allocated");
  r->add_option("--report", rescue.report, "write a DFXML report of the rescued archives to FILE");
  r->add_flag("--quiet", rescue.quiet, "no progress on stderr");
  r->add_flag("--classic", rescue.classic,
              "recognise only the original formats and versions (no RAR 5, 7z 0.3 only, no ZIP data descriptors or ZIP64)");

  BackupArgs backup;
  auto* b = app.add_subcommand("backup", "copy a sector range of SOURCE into an image file");
  b->add_option("SOURCE", backup.source, "image file, device path, or hd:N")->required();
  b->add_option("IMAGE", backup.image, "image file to write")->required();
  b->add_option("--range", backup.range, "first and last sector to copy, FIRST-LAST");
  b->add_flag("--free-space-only", backup.free_space_only, "copy only the sectors the file system has not allocated");
  b->add_flag("--quiet", backup.quiet, "no progress on stderr");

  ViewArgs view;
  auto* v = app.add_subcommand("view", "print one sector as a hex dump");
  v->add_option("SOURCE", view.source, "image file, device path, or hd:N")->required();
  v->add_option("SECTOR", view.sector, "sector number (default 0)");

  std::string detect_source;
  auto* d = app.add_subcommand("detect", "print the file system and geometry of SOURCE");
  d->add_option("SOURCE", detect_source, "image file, device path, or hd:N")->required();

  auto* drives = app.add_subcommand("drives", "list the volumes and physical drives");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int rc = app.exit(e);
    return rc == 0 ? 0 : kExitUsage;
  }

  if (r->parsed()) {
    rescue.types_given = types->count() > 0;
    return RunRescueCommand(rescue, argc, argv);
  }
  if (b->parsed()) return RunBackupCommand(backup);
  if (v->parsed()) return RunViewCommand(view);
  if (d->parsed()) return RunDetectCommand(detect_source);
  if (drives->parsed()) return RunDrivesCommand();
  return kExitUsage;
}
