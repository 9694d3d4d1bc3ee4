// Prints the image backup's throughput over one page-cached image of random bytes (1 GiB
// unless a size in MiB is given) next to `dd bs=1M` copying the same range into the same
// folder, and their ratio. Each is run three times; the best run counts.
//
//   backup_bench [SIZE_MIB] [FOLDER]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "backup/backup.h"
#include "engine/run_control.h"
#include "platform/sector_device.h"
#include "source/sector_reader.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

bool MakeImage(const std::string& path, int64_t bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::mt19937_64 rng(42);
  std::vector<uint64_t> block(1 << 17);
  for (int64_t done = 0; done < bytes; done += static_cast<int64_t>(block.size() * 8)) {
    for (auto& v : block) v = rng();
    std::fwrite(block.data(), 8, block.size(), f);
  }
  return std::fclose(f) == 0;
}

double TimeBackup(const std::string& source_path, const std::string& image, int64_t sectors) {
  using namespace quorvex;
  int err = 0;
  SourceState source;
  source.device = OpenPosixDevice(source_path, &err);
  if (!source.device) return -1;
  source.kind = SourceKind::kImageFile;
  source.name = source_path;
  source.working.last_sector = sectors - 1;
  source.working.sectors_per_cluster = 8;
  source.detected = source.working;
  SectorReader reader;
  reader.SetDevice(source.device.get());
  RunControl run;
  BackupRequest request;
  request.first_text = "0";
  request.last_text = std::to_string(sectors - 1);
  request.image_path = image;
  const auto t = Clock::now();
  const BackupOutcome o = RunBackup(source, reader, request, run, nullptr);
  const double s = Seconds(t);
  return o.result == BackupResult::kFinished ? s : -1;
}

double TimeDd(const std::string& source_path, const std::string& image, int64_t mib) {
  const std::string cmd = "dd if='" + source_path + "' of='" + image + "' bs=1M count=" + std::to_string(mib) +
                          " status=none";
  const auto t = Clock::now();
  const int rc = std::system(cmd.c_str());
  const double s = Seconds(t);
  return rc == 0 ? s : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int64_t mib = argc > 1 ? std::atoll(argv[1]) : 1024;
  const std::string folder = argc > 2 ? argv[2] : "/tmp";
  const std::string source = folder + "/quorvex_backup_bench_source.img";
  const std::string image = folder + "/quorvex_backup_bench_copy.img";
  const int64_t bytes = mib * 1048576;
  if (!MakeImage(source, bytes)) {
    std::fprintf(stderr, "cannot write %s\n", source.c_str());
    return 1;
  }
  // Bring the source into the page cache.
  if (std::system(("cat '" + source + "' > /dev/null").c_str()) != 0) return 1;

  double best_backup = 1e30, best_dd = 1e30;
  for (int i = 0; i < 3; ++i) {
    ::unlink(image.c_str());
    const double d = TimeDd(source, image, mib);
    ::unlink(image.c_str());
    const double b = TimeBackup(source, image, bytes / 512);
    if (d < 0 || b < 0) {
      std::fprintf(stderr, "a copy failed\n");
      return 1;
    }
    best_dd = std::min(best_dd, d);
    best_backup = std::min(best_backup, b);
  }
  ::unlink(image.c_str());
  ::unlink(source.c_str());
  const double mb = static_cast<double>(bytes) / 1e6;
  std::printf("copy of %lld MiB, page-cached source, destination %s\n", static_cast<long long>(mib), folder.c_str());
  std::printf("%-22s %10.1f MB/s  (%.3f s)\n", "backup (RunBackup)", mb / best_backup, best_backup);
  std::printf("%-22s %10.1f MB/s  (%.3f s)\n", "dd bs=1M", mb / best_dd, best_dd);
  std::printf("%-22s %10.2f\n", "ratio backup / dd", best_dd / best_backup);
  return 0;
}
