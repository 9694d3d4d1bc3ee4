#include "engine/walk.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <unistd.h>

#include "app/ui_text.h"
#include "engine/report.h"

namespace quorvex {
namespace {
constexpr int64_t kGrowStep = 1048576;  // the memory copy grows 1 MiB at a time
constexpr int kSectorLabel = 41;        // "Sector: "
constexpr size_t kWriteBuffer = 1048576;  // output files are written 1 MiB at a time
}  // namespace

Walk::Walk(ScanContext& ctx, int64_t start_offset, Width width)
    : ctx_(ctx),
      start_(start_offset),
      bps_(ctx.bytes_per_sector),
      limit_(width == Width::k32 ? std::numeric_limits<int32_t>::max() : std::numeric_limits<int64_t>::max()),
      next_(start_offset) {}

Walk::~Walk() {
  if (!ended_) GiveUp();
}

bool Walk::StartTaken() const {
  const int64_t sector = start_ / bps_;
  return sector < 0 || sector > ctx_.last_sector || ctx_.map->IsTaken(sector);
}

bool Walk::CreateOutput(std::string path) {
  output_ = CreateOutputFile(path, kCreateMode);
  if (!output_) return false;
  output_path_ = std::move(path);
  return true;
}

void Walk::Claim(int64_t sector) {
  extents_.push_back(sector);
  ctx_.map->ClaimSector(sector);
}

bool Walk::AppendSector(int64_t sector) {
  const int64_t offset = sector * bps_;
  if (output_) {
    const size_t pending = pending_.size();
    if (pending_.capacity() < pending + bps_) pending_.reserve(kWriteBuffer + kMaxSectorSize);
    pending_.resize(pending + bps_);
    if (ctx_.reader->ReadSource(pending_.data() + pending, static_cast<int32_t>(bps_), offset) > 0) {
      pending_.resize(pending);
      return false;
    }
    // A short write is a failed walk: the archive on disk would have a hole.
    if (pending_.size() >= kWriteBuffer && !FlushOutput()) return false;
    copy_sectors_.push_back(sector);
  } else {
    const auto kept = static_cast<size_t>(buffered_ - base_);
    if (memory_.capacity() < kept + bps_) memory_.reserve(kept + static_cast<size_t>(kGrowStep));
    memory_.resize(kept + bps_);
    if (ctx_.reader->ReadSource(memory_.data() + kept, static_cast<int32_t>(bps_), offset) > 0) {
      memory_.resize(kept);
      return false;
    }
  }
  buffered_ += bps_;
  return true;
}

bool Walk::FlushOutput() {
  if (pending_.empty()) return true;
  const auto size = static_cast<int64_t>(pending_.size());
  if (output_->WriteAt(flushed_, pending_.data(), size) != size) return false;
  flushed_ += size;
  pending_.clear();
  return true;
}

bool Walk::Start() {
  const int64_t sector = start_ / bps_;
  Claim(sector);
  if (!AppendSector(sector)) return false;
  next_ = start_ + bps_;
  return true;
}

bool Walk::BeginArchive(std::string_view folder, std::string_view extension) {
  if (StartTaken()) return false;
  if (!folder.empty() && !CreateOutput(OutputPath(folder, start_, extension))) {
    ClusterTailClaim();
    return false;
  }
  return Start();
}

bool Walk::NextAvailable() {
  int64_t sector = next_ / bps_;
  while (sector <= ctx_.range_end && ctx_.map->IsTaken(sector)) {
    next_ += bps_;
    ++sector;
  }
  return sector <= ctx_.range_end;
}

bool Walk::ReadAhead(int64_t target) {
  if (target > limit_) return false;
  while (buffered_ < target) {
    if (!NextAvailable()) return false;
    const int64_t sector = next_ / bps_;
    Claim(sector);
    if (!AppendSector(sector)) return false;
    next_ += bps_;
    Progress();
  }
  return true;
}

bool Walk::SkipClaim() {
  if (!NextAvailable()) return false;
  Claim(next_ / bps_);
  next_ += bps_;
  return true;
}

void Walk::Progress() {
  RunControl& run = *ctx_.run;
  if (!run.RefreshDue()) return;
  run.SetLabel(ProgressWindow::kRecovery, 3,
               UiText(kSectorLabel) + std::to_string(start_ / bps_) + ", " + std::to_string(next_ / bps_));
  run.Pump();
}

bool Walk::Fetch(int64_t pos, void* out, size_t n) const {
  if (pos < base_ || n > static_cast<size_t>(std::numeric_limits<int64_t>::max()) ||
      pos > buffered_ - static_cast<int64_t>(n))
    return false;
  if (n == 0) return true;
  if (output_) {
    // Bytes before flushed_ are in the file, the rest still in the write buffer.
    auto* dest = static_cast<uint8_t*>(out);
    size_t done = 0;
    if (pos < flushed_) {
      done = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), flushed_ - pos));
      if (output_->ReadAt(pos, dest, static_cast<int64_t>(done)) != static_cast<int64_t>(done)) return false;
    }
    if (done < n) std::memcpy(dest + done, pending_.data() + (pos + static_cast<int64_t>(done) - flushed_), n - done);
    return true;
  }
  std::memcpy(out, memory_.data() + (pos - base_), n);
  return true;
}

const uint8_t* Walk::View(int64_t pos, size_t n) const {
  if (output_ || pos < base_ || pos > buffered_ - static_cast<int64_t>(n)) return nullptr;
  return memory_.data() + (pos - base_);
}

namespace {
template <typename T, bool kBig>
std::optional<T> Load(const Walk& walk, int64_t pos) {
  uint8_t b[sizeof(T)];
  if (!walk.Fetch(pos, b, sizeof(T))) return std::nullopt;
  T v = 0;
  for (size_t i = 0; i < sizeof(T); ++i) {
    const size_t index = kBig ? i : sizeof(T) - 1 - i;
    v = static_cast<T>((v << 8) | b[index]);
  }
  return v;
}
}  // namespace

std::optional<uint8_t> Walk::U8(int64_t pos) const { return Load<uint8_t, false>(*this, pos); }
std::optional<uint16_t> Walk::Le16(int64_t pos) const { return Load<uint16_t, false>(*this, pos); }
std::optional<uint32_t> Walk::Le32(int64_t pos) const { return Load<uint32_t, false>(*this, pos); }
std::optional<uint64_t> Walk::Le64(int64_t pos) const { return Load<uint64_t, false>(*this, pos); }
std::optional<uint16_t> Walk::Be16(int64_t pos) const { return Load<uint16_t, true>(*this, pos); }
std::optional<uint32_t> Walk::Be32(int64_t pos) const { return Load<uint32_t, true>(*this, pos); }
std::optional<uint64_t> Walk::Be64(int64_t pos) const { return Load<uint64_t, true>(*this, pos); }

void Walk::DiscardBefore(int64_t pos) {
  if (output_ || pos <= base_) return;
  if (pos > buffered_) pos = buffered_;
  memory_.erase(memory_.begin(), memory_.begin() + (pos - base_));
  base_ = pos;
}

void Walk::ReleaseExtentsAfter(size_t keep) {
  while (extents_.size() > keep) {
    ctx_.map->ReleaseSector(extents_.back());
    extents_.pop_back();
  }
}

void Walk::ClusterTailClaim() {
  const int64_t c = ctx_.sectors_per_cluster;
  if (c <= 1) return;
  int64_t sector = next_ / bps_;
  while (sector <= ctx_.last_sector && (sector - ctx_.cluster_offset) % c > 0) {
    ctx_.map->ClaimSector(sector);
    next_ += bps_;
    ++sector;
  }
}

void Walk::Accept() {
  if (ended_) return;
  ended_ = true;
  std::vector<uint8_t>().swap(memory_);
  if (output_) {
    // A claim-only ending of a walk that had a file: the file is not a rescue.
    output_.reset();
    ::unlink(output_path_.c_str());
  }
  extents_.clear();
  ClusterTailClaim();
}

bool Walk::AcceptSaved(int64_t exact_length) {
  if (ended_) return false;
  if (!output_ || !FlushOutput() || !output_->SetSize(exact_length) || !output_->Close()) {
    GiveUp();
    return false;
  }
  ended_ = true;
  output_.reset();
  ++ctx_.rescued_count;
  if (ctx_.report) ctx_.report->Add(output_path_, exact_length, copy_sectors_, bps_);
  extents_.clear();
  ClusterTailClaim();
  return true;
}

void Walk::GiveUp() {
  if (ended_) return;
  ended_ = true;
  for (int64_t sector : extents_) ctx_.map->ReleaseSector(sector);
  extents_.clear();
  std::vector<uint8_t>().swap(memory_);
  std::vector<uint8_t>().swap(pending_);
  if (output_) {
    output_.reset();
    ::unlink(output_path_.c_str());
  }
}

std::string OutputPath(std::string_view folder, int64_t start_offset, std::string_view extension) {
  std::string path(folder);
  path += "TEST_";
  path += LetterName(8, start_offset / 512);
  path += extension;
  return path;
}

}  // namespace quorvex
