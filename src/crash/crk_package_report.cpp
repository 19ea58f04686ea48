#include "crash/crk_package_report.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "crash/crk_file.h"
#include "crash/crk_file_manager.h"
#include "crash/crk_internal_report.h"
#include "crash/crk_log.h"
#include "platform/core/atomic_file.h"
#include "platform/core/regular_file.h"
#include "sdk/core/file_io.h"
#include "sdk/core/standard_paths.h"
#include "sdk/net/output_stream.h"
#include "sdk/net/tel_multipart_mime_stream_encoder.h"

namespace telemetry {

namespace {

}  // namespace

CRKPackageReportOperation::CRKPackageReportOperation(std::shared_ptr<CRKInternalReport> report,
                                                     const CRKFileManager* fileManager)
    : mReport(std::move(report)), mFileManager(fileManager) {}

std::string CRKPackageReportOperation::reportPath() const { return mReport ? mReport->path() : std::string(); }

std::string CRKPackageReportOperation::destinationDirectory() const { return mFileManager->preparedPath(); }

std::string CRKPackageReportOperation::packagedPathWithName(const std::string& name) const {
  return paths::join(destinationDirectory(), name + ".multipartmime");
}

void CRKPackageReportOperation::main() {
  mFinalPath.reset();
  if (!mReport || !mFileManager) return;
  const std::string boundary = TELMultipartMimeStreamEncoder::generateBoundary();
  const std::string finalPath = packagedPathWithName(boundary);
  // Hidden until complete: the uploader and the enumerations never see a part-written package.
  platform::AtomicWriteOptions options;
  options.stagingName = "." + boundary + ".multipartmime";
  options.replaceLink = true;
  bool streamFailed = false;
  const auto written = platform::writeFileAtomicallyAtPath(finalPath, [&](const std::string& workingPath) {
    auto stream = std::make_shared<CheckedFileOutputStream>(workingPath);
    auto encoder = TELMultipartMimeStreamEncoder::encoderWithStream(stream, boundary);
    if (!encoder) return false;
    encoder->encode([&] {
      if (auto key = mReport->APIKey()) encoder->addValue(*key, "api_key");
      if (!mReport->identifier().empty()) encoder->addValue(mReport->identifier(), "report_id");
      mFileManager->enumerateFilesInDirectory(reportPath(), [&](const std::string& path, const std::string& extension) {
        if (isCancelled() || extension == "gz" || stream->failed()) return;
        auto data = fileio::readFile(path, TELMultipartMimeStreamEncoder::kMaxFileBytes);
        if (!data || data->empty()) {
          CRKLogError("Error: unable to read data for compression: %s\n", fileio::lastPathComponent(path).c_str());
          return;
        }
        encode(*encoder, *data, path);
      });
    });
    stream->close();
    streamFailed = stream->failed();
    return !isCancelled() && !streamFailed;
  }, options);
  if (written != platform::AtomicWriteResult::Written) {
    if (streamFailed) CRKLogError("Error: unable to write package for %s\n", mReport->identifier().c_str());
    return;
  }
  mFinalPath = finalPath;
}

void CRKPackageReportOperation::encode(TELMultipartMimeStreamEncoder& encoder, const std::vector<uint8_t>& data,
                                       const std::string& path) {
  if (path.empty()) {
    CRKLogError("Error: path is invalid\n");
    return;
  }
  const std::string compressedPath = path + ".gz";
  const std::string fieldName = fileio::lastPathComponent(path);
  const std::string fileName = fileio::lastPathComponent(compressedPath);
  if (compressData(data, compressedPath)) {
    encoder.addFile(compressedPath, fileName, std::string("application/x-gzip"), fieldName);
    return;
  }
  CRKLogError("Error: compression failed for %s\n", fileName.c_str());
  ::unlink(compressedPath.c_str());
  encoder.addFileData(data, fileName, std::string("text/plain"), fieldName);
}

bool CRKPackageReportOperation::compressData(const std::vector<uint8_t>& data, const std::string& path) {
  // Only a file of its own beside the record: a link at its name is never written through.
  const char* refusal = nullptr;
  const int fd = platform::openRegularFileForWriting(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644, &refusal);
  gzFile file = fd >= 0 ? gzdopen(fd, "w") : nullptr;
  if (!file) {
    CRKLogError("Error: unable to open file for compression %s\n", refusal ? refusal : CRKErrorText(errno));
    if (fd >= 0) ::close(fd);
    return false;
  }
  bool success = !data.empty() && writeBytesToGZFile(data.data(), data.size(), file);
  // gzclose flushes the last block: its failure loses the file's end.
  if (gzclose(file) != Z_OK) success = false;
  return success;
}

bool CRKPackageReportOperation::writeBytesToGZFile(const void* bytes, size_t length, gzFile file) {
  return CRKFileLoopWithWriteBlock(
      bytes, length,
      [](void* context, const void* chunk, size_t size) -> ssize_t {
        const unsigned part = size > (1u << 30) ? (1u << 30) : static_cast<unsigned>(size);
        int written = gzwrite(static_cast<gzFile>(context), chunk, part);
        if (written <= 0) {
          int zlibError = 0;
          const char* zlibText = gzerror(static_cast<gzFile>(context), &zlibError);
          CRKLogError("Error: failed to write compressed bytes %d, %s, %s \n", zlibError, zlibText,
                      CRKErrorText(errno));
          return -1;
        }
        return written;
      },
      file);
}

}  // namespace telemetry
