#pragma once
// Where an encoder writes: an open/write/close stream into memory or into a file.

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace telemetry {

class OutputStream {
 public:
  virtual ~OutputStream() = default;
  virtual bool open() = 0;
  // The number of bytes taken (possibly fewer than offered), or -1 on failure.
  virtual ssize_t write(const uint8_t* bytes, size_t length) = 0;
  virtual void close() = 0;
};

class MemoryOutputStream final : public OutputStream {
 public:
  bool open() override;
  ssize_t write(const uint8_t* bytes, size_t length) override;
  void close() override;
  const std::vector<uint8_t>& data() const { return mData; }

 private:
  bool mOpen = false;
  std::vector<uint8_t> mData;
};

// Creates or truncates the file (mode 0600) when opened.
class FileOutputStream final : public OutputStream {
 public:
  explicit FileOutputStream(std::string path) : mPath(std::move(path)) {}
  ~FileOutputStream() override;
  bool open() override;
  ssize_t write(const uint8_t* bytes, size_t length) override;
  void close() override;
  const std::string& path() const { return mPath; }

 private:
  std::string mPath;
  int mDescriptor = -1;
};

// A file stream that remembers any failure: a refused open, a short write or a failed close.
// Creates or truncates the file (mode 0644, never through a link) when opened.
class CheckedFileOutputStream final : public OutputStream {
 public:
  explicit CheckedFileOutputStream(std::string path) : mPath(std::move(path)) {}
  ~CheckedFileOutputStream() override;
  bool open() override;
  ssize_t write(const uint8_t* bytes, size_t length) override;
  void close() override;
  bool failed() const { return mFailed; }
  uint64_t written() const { return mWritten; }

 private:
  std::string mPath;
  int mDescriptor = -1;
  bool mFailed = false;
  uint64_t mWritten = 0;
};

}  // namespace telemetry
