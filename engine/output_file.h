#pragma once
// Output files: the names rescued archives get and the stream they are written through
// (over a file descriptor, 64-bit positions). The backup writes its image the same way.

#include <cstdint>
#include <memory>
#include <string>

namespace quorvex {

/// n in base 26 with digits A..Z, most significant first, padded with A to count letters;
/// higher digits are dropped. LetterName(8, 2048) == "AAAAADAU".
std::string LetterName(int32_t count, int64_t n);

/// A stream over an open file descriptor.
class TNTHandleStream {
 public:
  explicit TNTHandleStream(int fd) : fd_(fd) {}
  virtual ~TNTHandleStream() = default;
  TNTHandleStream(const TNTHandleStream&) = delete;
  TNTHandleStream& operator=(const TNTHandleStream&) = delete;

  /// Bytes read at the current position (0 on failure or at the end).
  int64_t Read(void* buffer, int64_t count);
  /// Bytes written at the current position; a failed write returns 0, a short one less.
  int64_t Write(const void* buffer, int64_t count);
  /// Positioned forms that leave the current position alone.
  int64_t ReadAt(int64_t position, void* buffer, int64_t count);
  int64_t WriteAt(int64_t position, const void* buffer, int64_t count);
  /// New position (origin 0 beginning, 1 current, 2 end), or -1.
  int64_t Seek(int origin, int64_t offset);
  int64_t Size();
  void SetPosition(int64_t position) { Seek(0, position); }
  /// Cuts or extends the file to n bytes; false when the system refuses.
  bool SetSize(int64_t n);
  /// Forces the data to the disk; false when the system reports a failure.
  bool Flush();
  int handle() const { return fd_; }
  int last_error() const { return last_error_; }

 protected:
  int fd_;
  int last_error_ = 0;
};

/// A stream that opens or creates its own file. mode 0xFFFF creates or replaces;
/// otherwise (mode & 3) gives the access: 0 read, 1 write, 2 read and write.
class TNewFileStream : public TNTHandleStream {
 public:
  TNewFileStream(const std::string& path, uint16_t mode);
  ~TNewFileStream() override;
  bool ok() const { return fd_ >= 0; }
  /// Closes the file; false when the close reports a write error.
  bool Close();
};

inline constexpr uint16_t kCreateMode = 0xFFFF;

/// Creates (mode 0xFFFF: an existing read-only file is made writable first and replaced)
/// or opens a file. Returns null when the system refuses; *err gets the errno.
std::unique_ptr<TNewFileStream> CreateOutputFile(const std::string& path, uint16_t mode, int* err = nullptr);

}  // namespace quorvex
