// Prints, in one run over one page-cached image of random bytes (1 GiB unless a size in
// MiB is given): raw sequential 64 KiB reads, a forward ReadSource walk over every sector,
// pass 1 with unknown alignment (every sector read and identified), each as a ratio to the
// raw reads; and IdentifySector nanoseconds per sector for random and zero sectors.
//
//   scan_bench [SIZE_MIB] [IMAGE]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "engine/identify.h"
#include "engine/run_control.h"
#include "engine/scan_driver.h"
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

double RawRead(const std::string& path, int64_t* total) {
  int fd = ::open(path.c_str(), O_RDONLY);
  std::vector<char> buffer(65536);
  const auto t = Clock::now();
  int64_t sum = 0;
  for (;;) {
    ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n <= 0) break;
    sum += n;
  }
  const double s = Seconds(t);
  ::close(fd);
  *total = sum;
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quorvex;
  const int64_t mib = argc > 1 ? std::atoll(argv[1]) : 1024;
  const std::string path = argc > 2 ? argv[2] : "/tmp/quorvex_bench_random.img";
  const int64_t bytes = mib << 20;
  struct stat st {};
  const bool have = ::stat(path.c_str(), &st) == 0 && st.st_size == bytes;
  if (!have && !MakeImage(path, bytes)) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return 1;
  }
  int64_t total = 0;
  RawRead(path, &total);  // bring it into the page cache
  double raw = 1e9;
  for (int i = 0; i < 3; ++i) raw = std::min(raw, RawRead(path, &total));

  int err = 0;
  auto device = OpenPosixDevice(path, &err);
  if (!device) {
    std::fprintf(stderr, "cannot open %s\n", path.c_str());
    return 1;
  }
  const int64_t last = device->Length() / 512 - 1;
  SectorReader reader;
  reader.SetDevice(device.get());
  reader.SetBytesPerSector(512);
  reader.SetRangeLastSector(last);

  double walk = 1e9;
  uint8_t sector[512];
  uint64_t checksum = 0;
  for (int i = 0; i < 3; ++i) {
    reader.Empty();
    const auto t = Clock::now();
    for (int64_t s = 0; s <= last; ++s) {
      if (reader.ReadSource(sector, 512, s * 512) != 0) return 1;
      checksum += sector[0];
    }
    walk = std::min(walk, Seconds(t));
  }

  double pass1 = 1e9;
  size_t candidates = 0;
  for (int i = 0; i < 3; ++i) {
    reader.Empty();
    RunControl run;
    ScanSettings settings;
    settings.first_sector = 0;
    settings.last_sector = last;
    settings.sectors_per_cluster = 8;
    settings.cluster_offset = -1;
    CandidateList list;
    uint32_t found = 0;
    const auto t = Clock::now();
    SearchPass(reader, settings, 512, nullptr, run, &list, &found);
    pass1 = std::min(pass1, Seconds(t));
    candidates = list.size();
  }

  // IdentifySector alone, over sectors already in memory.
  std::vector<uint8_t> random_sectors(4096 * 512);
  std::mt19937 rng(7);
  for (auto& b : random_sectors) b = static_cast<uint8_t>(rng());
  std::vector<uint8_t> zero(512, 0);
  const int rounds = 200;
  auto t = Clock::now();
  unsigned codes = 0;
  for (int r = 0; r < rounds; ++r)
    for (size_t i = 0; i < 4096; ++i) codes += IdentifySector(random_sectors.data() + i * 512, 512);
  const double random_ns = Seconds(t) * 1e9 / (rounds * 4096.0);
  t = Clock::now();
  for (int r = 0; r < rounds * 4096; ++r) codes += IdentifySector(zero.data(), 512);
  const double zero_ns = Seconds(t) * 1e9 / (rounds * 4096.0);

  const double gib = static_cast<double>(total) / (1 << 30);
  std::printf("image: %s, %.2f GiB, page-cached (best of three)\n", path.c_str(), gib);
  std::printf("%-42s %8.3f s  %7.0f MiB/s\n", "raw sequential 64 KiB reads", raw, gib * 1024 / raw);
  std::printf("%-42s %8.3f s  %7.0f MiB/s  ratio to raw %.2f (aim >= 0.9 of raw speed)\n",
              "ReadSource walk over every sector", walk, gib * 1024 / walk, raw / walk);
  std::printf("%-42s %8.3f s  %7.0f MiB/s  time ratio %.2f (aim <= 1.3)\n",
              "pass 1, unknown alignment, every sector", pass1, gib * 1024 / pass1, pass1 / raw);
  std::printf("%-42s %8.1f ns (aim < 25)\n", "IdentifySector, random sector", random_ns);
  std::printf("%-42s %8.1f ns\n", "IdentifySector, zero sector", zero_ns);
  std::printf("(candidates in random data: %zu; checksum %llu/%u)\n", candidates,
              static_cast<unsigned long long>(checksum), codes);
  return 0;
}
