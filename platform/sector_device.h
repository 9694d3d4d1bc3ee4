#pragma once
// The read-only device interface the engine reads every source through.
// Implementations never write to what they read: the POSIX device opens O_RDONLY,
// and the interface has no write operation at all.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>

namespace quorvex {

/// Identity of a source for the "destination on the source" checks.
struct DeviceIdentity {
  bool is_block_device = false;
  dev_t rdev = 0;         ///< device number of a block device (st_rdev)
  dev_t containing = 0;   ///< file system an image file lives on (st_dev)
};

class SectorDevice {
 public:
  virtual ~SectorDevice() = default;

  /// Positioned read. Returns the number of bytes delivered (0 at or past the end),
  /// or -1 on failure with LastError() holding the errno.
  virtual int64_t ReadAt(int64_t byte_offset, void* dest, size_t count) = 0;
  /// Length in bytes.
  virtual int64_t Length() const = 0;
  /// Logical sector size the device reports (512 for image files).
  virtual uint32_t SectorSize() const = 0;
  virtual int LastError() const { return last_error_; }
  virtual DeviceIdentity Identity() const { return {}; }

 protected:
  int last_error_ = 0;
};

/// Opens a path read-only. Returns nullptr and sets *err (errno) on failure.
std::unique_ptr<SectorDevice> OpenPosixDevice(const std::string& path, int* err);

}  // namespace quorvex
