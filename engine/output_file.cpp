#include "engine/output_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvex {

std::string LetterName(int32_t count, int64_t n) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  if (count <= 0) return {};
  std::string text(static_cast<size_t>(count), 'A');
  uint64_t v = static_cast<uint64_t>(n);
  for (int32_t i = count - 1; i >= 0; --i) {
    text[static_cast<size_t>(i)] = kDigits[v % 26];
    v /= 26;
  }
  return text;
}

int64_t TNTHandleStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  ssize_t n;
  do n = ::read(fd_, buffer, static_cast<size_t>(count)); while (n < 0 && errno == EINTR);
  if (n < 0) { last_error_ = errno; return 0; }
  return n;
}

int64_t TNTHandleStream::Write(const void* buffer, int64_t count) {
  int64_t done = 0;
  const auto* p = static_cast<const uint8_t*>(buffer);
  while (done < count) {
    ssize_t n = ::write(fd_, p + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) { last_error_ = n < 0 ? errno : ENOSPC; break; }
    done += n;
  }
  return done;
}

int64_t TNTHandleStream::ReadAt(int64_t position, void* buffer, int64_t count) {
  int64_t done = 0;
  auto* p = static_cast<uint8_t*>(buffer);
  while (done < count) {
    ssize_t n = ::pread(fd_, p + done, static_cast<size_t>(count - done), static_cast<off_t>(position + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) { last_error_ = errno; break; }
    if (n == 0) break;
    done += n;
  }
  return done;
}

int64_t TNTHandleStream::WriteAt(int64_t position, const void* buffer, int64_t count) {
  int64_t done = 0;
  const auto* p = static_cast<const uint8_t*>(buffer);
  while (done < count) {
    ssize_t n = ::pwrite(fd_, p + done, static_cast<size_t>(count - done), static_cast<off_t>(position + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) { last_error_ = n < 0 ? errno : ENOSPC; break; }
    done += n;
  }
  return done;
}

int64_t TNTHandleStream::Seek(int origin, int64_t offset) {
  const int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
  off_t r = ::lseek(fd_, static_cast<off_t>(offset), whence);
  if (r < 0) { last_error_ = errno; return -1; }
  return r;
}

int64_t TNTHandleStream::Size() {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) { last_error_ = errno; return -1; }
  return st.st_size;
}

bool TNTHandleStream::SetSize(int64_t n) {
  if (::ftruncate(fd_, static_cast<off_t>(n)) != 0) { last_error_ = errno; return false; }
  return Seek(0, n) == n;
}

bool TNTHandleStream::Flush() {
  if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) { last_error_ = errno; return false; }
  return true;
}

TNewFileStream::TNewFileStream(const std::string& path, uint16_t mode) : TNTHandleStream(-1) {
  int flags = O_CLOEXEC;
  if (mode == kCreateMode) {
    flags |= O_RDWR | O_CREAT | O_TRUNC;
  } else {
    const int access = mode & 3;
    flags |= access == 0 ? O_RDONLY : access == 1 ? O_WRONLY : O_RDWR;
  }
  fd_ = ::open(path.c_str(), flags, 0644);
  if (fd_ < 0) last_error_ = errno;
}

TNewFileStream::~TNewFileStream() { Close(); }

bool TNewFileStream::Close() {
  if (fd_ < 0) return true;
  const int rc = ::close(fd_);
  fd_ = -1;
  if (rc != 0) { last_error_ = errno; return false; }
  return true;
}

std::unique_ptr<TNewFileStream> CreateOutputFile(const std::string& path, uint16_t mode, int* err) {
  if (mode == kCreateMode) {
    struct stat st {};
    // A read-only file of the same name is made writable so it can be replaced.
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0)
      ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR);
  }
  auto stream = std::make_unique<TNewFileStream>(path, mode);
  if (!stream->ok()) {
    if (err) *err = stream->last_error();
    return nullptr;
  }
  return stream;
}

}  // namespace quorvex
