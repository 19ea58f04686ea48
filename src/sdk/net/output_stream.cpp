#include "sdk/net/output_stream.h"

#include "platform/core/regular_file.h"
#include "sdk/core/console.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace telemetry {

namespace {

// Emptied, or made: never written through a link, nor anything but a regular file of its own.
int openOwnFile(const std::string& path, mode_t mode) {
  std::string why;
  const int fd = platform::openRegularFileForWriting(path, O_WRONLY | O_CREAT | O_TRUNC, mode, &why);
  if (fd < 0) consoleLog("[Telemetry] Cannot write " + path + ": " + why);
  return fd;
}

}  // namespace

bool MemoryOutputStream::open() {
  mOpen = true;
  return true;
}

ssize_t MemoryOutputStream::write(const uint8_t* bytes, size_t length) {
  if (!mOpen) return -1;
  if (length) mData.insert(mData.end(), bytes, bytes + length);
  return static_cast<ssize_t>(length);
}

void MemoryOutputStream::close() { mOpen = false; }

FileOutputStream::~FileOutputStream() { close(); }

bool FileOutputStream::open() {
  if (mDescriptor >= 0) return true;
  mDescriptor = openOwnFile(mPath, 0600);
  return mDescriptor >= 0;
}

ssize_t FileOutputStream::write(const uint8_t* bytes, size_t length) {
  if (mDescriptor < 0) return -1;
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::write(mDescriptor, bytes + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return done > 0 ? static_cast<ssize_t>(done) : -1;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

void FileOutputStream::close() {
  if (mDescriptor >= 0) ::close(mDescriptor);
  mDescriptor = -1;
}

CheckedFileOutputStream::~CheckedFileOutputStream() { close(); }

bool CheckedFileOutputStream::open() {
  if (mDescriptor < 0) mDescriptor = openOwnFile(mPath, 0644);
  if (mDescriptor < 0) mFailed = true;
  return mDescriptor >= 0;
}

ssize_t CheckedFileOutputStream::write(const uint8_t* bytes, size_t length) {
  if (mDescriptor < 0) {
    mFailed = true;
    return -1;
  }
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::write(mDescriptor, bytes + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      mFailed = true;
      return done > 0 ? static_cast<ssize_t>(done) : -1;
    }
    done += static_cast<size_t>(n);
  }
  mWritten += done;
  return static_cast<ssize_t>(done);
}

void CheckedFileOutputStream::close() {
  if (mDescriptor >= 0 && ::close(mDescriptor) != 0) mFailed = true;
  mDescriptor = -1;
}

}  // namespace telemetry
