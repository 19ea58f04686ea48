#include "sdk/analytics/ana_compress_log_operation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/core/regular_file.h"
#include "sdk/analytics/ana_file_utils.h"
#include "sdk/analytics/ana_logger.h"
#include "sdk/core/file_io.h"

namespace telemetry {

ANACompressLogOperation::ANACompressLogOperation(std::string uncompressedLogURL, std::string compressedLogURL)
    : mUncompressedLogURL(std::move(uncompressedLogURL)), mCompressedLogURL(std::move(compressedLogURL)) {}

std::string ANACompressLogOperation::compressedURLForUncompressedURL(const std::string& path) {
  return ANAFileUtils::replacingPathExtension(path, "gz");
}

void ANACompressLogOperation::main() {
  mSuccess = false;
  // Only a plain file: a link could hand out another file, a pipe would block the queue.
  if (fileio::kindOf(mUncompressedLogURL) != fileio::FileKind::Regular) return;
  if (fileio::kindOf(mCompressedLogURL) != fileio::FileKind::Missing) return;

  bool ok = ANAFileUtils::writeStageFile(mCompressedLogURL,
                                         [this](const std::string& temporary) { return compressInto(temporary); });
  if (!ok) ANALogger::sharedLogger().log("Failed to compress file at %s", mUncompressedLogURL.c_str());
  mSuccess = ok;
}

bool ANACompressLogOperation::compressInto(const std::string& temporaryPath) {
  int in = ::open(mUncompressedLogURL.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (in < 0) return false;
  std::string why;
  const int out = platform::openRegularFileForWriting(temporaryPath, O_WRONLY | O_CREAT | O_TRUNC, 0644, &why);
  if (out < 0) ANALogger::sharedLogger().log("Cannot write %s: %s", temporaryPath.c_str(), why.c_str());
  gzFile gz = out >= 0 ? gzdopen(out, "wb") : nullptr;
  if (!gz) {
    if (out >= 0) ::close(out);
    ::close(in);
    return false;
  }
  // A line a killed writer left unfinished is no event: it stays out of the package.
  struct stat st {};
  off_t left = ::fstat(in, &st) == 0 ? ANAFileUtils::wholeLinesLength(in, st.st_size) : 0;
  bool ok = true;
  std::vector<char> buffer(kChunkSize);
  while (left > 0) {
    ssize_t n = ::read(in, buffer.data(), static_cast<size_t>(std::min<off_t>(left, static_cast<off_t>(buffer.size()))));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = false;
      break;
    }
    if (n == 0) break;
    left -= n;
    if (gzwrite(gz, buffer.data(), static_cast<unsigned>(n)) != n) {
      ok = false;
      break;
    }
  }
  ::close(in);
  // Closing writes the stream's end and closes the descriptor; its failure means a cut file.
  if (gzclose(gz) != Z_OK) ok = false;
  return ok;
}

}  // namespace telemetry
