#pragma once
// The subcommands of quorvex, each returning the program's exit status.

#include <cstdint>
#include <string>

namespace quorvex {

inline constexpr int kExitRan = 0;
inline constexpr int kExitCouldNot = 1;
inline constexpr int kExitUsage = 2;

struct RescueArgs {
  std::string source, out, types, cause, fs, cluster, range, report;
  bool types_given = false;
  bool free_space_only = false, quiet = false, classic = false;
};
struct BackupArgs {
  std::string source, image, range;
  bool free_space_only = false, quiet = false;
};
struct ViewArgs {
  std::string source;
  int64_t sector = 0;
};

int RunRescueCommand(const RescueArgs& args, int argc, char** argv);
int RunBackupCommand(const BackupArgs& args);
int RunViewCommand(const ViewArgs& args);
int RunDetectCommand(const std::string& source);
int RunDrivesCommand();

}  // namespace quorvex
