// The source device on Linux: a block device or an image file, opened read-only.
#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/sector_device.h"

namespace quorvex {
namespace {

class PosixDevice final : public SectorDevice {
 public:
  PosixDevice(int fd, int64_t length, uint32_t sector_size, DeviceIdentity id)
      : fd_(fd), length_(length), sector_size_(sector_size), id_(id) {}
  ~PosixDevice() override { ::close(fd_); }

  int64_t ReadAt(int64_t byte_offset, void* dest, size_t count) override {
    if (byte_offset < 0) {
      last_error_ = EINVAL;
      return -1;
    }
    size_t done = 0;
    auto* out = static_cast<unsigned char*>(dest);
    while (done < count) {
      ssize_t n = ::pread(fd_, out + done, count - done, static_cast<off_t>(byte_offset) + static_cast<off_t>(done));
      if (n < 0) {
        if (errno == EINTR) continue;
        last_error_ = errno;
        return done > 0 ? static_cast<int64_t>(done) : -1;
      }
      if (n == 0) break;
      done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
  }
  int64_t Length() const override { return length_; }
  uint32_t SectorSize() const override { return sector_size_; }
  DeviceIdentity Identity() const override { return id_; }

 private:
  int fd_;
  int64_t length_;
  uint32_t sector_size_;
  DeviceIdentity id_;
};

}  // namespace

std::unique_ptr<SectorDevice> OpenPosixDevice(const std::string& path, int* err) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (err) *err = errno;
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    if (err) *err = errno;
    ::close(fd);
    return nullptr;
  }
  DeviceIdentity id;
  int64_t length = 0;
  uint32_t sector_size = 512;
  if (S_ISBLK(st.st_mode)) {
    id.is_block_device = true;
    id.rdev = st.st_rdev;
    uint64_t bytes = 0;
    int ssz = 0;
    if (::ioctl(fd, BLKGETSIZE64, &bytes) != 0) {
      if (err) *err = errno;
      ::close(fd);
      return nullptr;
    }
    if (::ioctl(fd, BLKSSZGET, &ssz) == 0 && ssz > 0) sector_size = static_cast<uint32_t>(ssz);
    length = static_cast<int64_t>(bytes);
  } else if (S_ISDIR(st.st_mode)) {
    if (err) *err = EISDIR;
    ::close(fd);
    return nullptr;
  } else {
    id.containing = st.st_dev;
    off_t end = ::lseek(fd, 0, SEEK_END);
    if (end < 0) {
      if (err) *err = errno;
      ::close(fd);
      return nullptr;
    }
    length = static_cast<int64_t>(end);
  }
  return std::make_unique<PosixDevice>(fd, length, sector_size, id);
}

}  // namespace quorvex
