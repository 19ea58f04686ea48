#include "sdk/analytics/ana_package_log_operation.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "sdk/analytics/ana_file_utils.h"
#include "sdk/analytics/ana_logger.h"
#include "sdk/core/file_io.h"
#include "sdk/net/tel_multipart_mime_stream_encoder.h"

namespace telemetry {

ANAPackageLogOperation::ANAPackageLogOperation(std::string compressedLogURL, std::string packagedLogURL,
                                               std::string multipartMimeBoundary)
    : mCompressedLogURL(std::move(compressedLogURL)),
      mPackagedLogURL(std::move(packagedLogURL)),
      mMultipartMimeBoundary(std::move(multipartMimeBoundary)) {}

std::string ANAPackageLogOperation::multipartURLForCompressedURL(const std::string& compressedLogURL,
                                                                 const std::string& boundary) {
  std::string folder = ANAFileUtils::deletingLastPathComponent(compressedLogURL);
  std::string name = boundary + ".multipartmime";
  return folder.empty() ? name : (folder == "/" ? "/" + name : folder + "/" + name);
}

void ANAPackageLogOperation::main() {
  mSuccess = false;
  // Only a plain file: a link could hand out another file, a pipe would block the queue.
  if (fileio::kindOf(mCompressedLogURL) != fileio::FileKind::Regular) return;

  bool ok = ANAFileUtils::writeStageFile(mPackagedLogURL,
                                         [this](const std::string& temporary) { return packageInto(temporary); });
  if (!ok) ANALogger::sharedLogger().log("Failed to package %s", mCompressedLogURL.c_str());
  mSuccess = ok;
}

bool ANAPackageLogOperation::packageInto(const std::string& temporaryPath) {
  auto data = fileio::readFile(mCompressedLogURL, kMaximumCompressedSize);
  if (!data || data->empty()) {
    ANALogger::sharedLogger().log("Error packaging: %s is an invalid path.", mCompressedLogURL.c_str());
    return false;
  }
  auto stream = std::make_shared<CheckedFileOutputStream>(temporaryPath);
  auto encoder = TELMultipartMimeStreamEncoder::encoderWithStream(stream, mMultipartMimeBoundary);
  if (!encoder) return false;
  const std::string name = ANAFileUtils::lastPathComponent(mCompressedLogURL);
  encoder->encode([&] { encoder->addFileData(*data, name, std::string(kAnalyticsEventsContentType), name); });
  // The encoder skips a part it refuses (a name it cannot quote) and stops at a failed
  // write; either leaves fewer bytes than the part's contents plus the frame around them.
  const uint64_t frame = encoder->headerData().size() + encoder->footerData().size();
  return !stream->failed() && stream->written() == encoder->length() && encoder->length() > frame + data->size();
}

}  // namespace telemetry
