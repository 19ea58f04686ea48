#include "platform/cloud/download_file.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <future>

#include <sys/resource.h>

#include <gtest/gtest.h>

using platform::DownloadFile;

namespace {

// Bytes that differ from piece to piece, so a lost, doubled or reordered piece shows.
std::vector<std::uint8_t> patterned(std::size_t size, std::uint32_t& seed) {
  std::vector<std::uint8_t> bytes(size);
  for (auto& b : bytes) b = std::uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
  return bytes;
}

class DownloadFileTest : public ::testing::Test {
 protected:
  std::shared_ptr<DownloadFile> create() {
    std::string failure;
    auto file = DownloadFile::createBeside(mDir.filePath("doc.orrx"), failure);
    EXPECT_TRUE(file) << failure;
    return file;
  }
  static std::string finished(DownloadFile& file, bool keep) {
    std::promise<std::string> failure;
    file.finish(keep, [&](const std::string& f) { failure.set_value(f); });
    return failure.get_future().get();
  }
  std::string leftovers() const {
    return QDir(mDir.path()).entryList({".download-*"}, QDir::Hidden | QDir::Files).join(' ').toStdString();
  }

  QTemporaryDir mDir;
};

}  // namespace

TEST_F(DownloadFileTest, PiecesOfEverySizeArriveInOrderAndOnlyAKeptFileStays) {
  const std::string folder = QDir(mDir.path()).absolutePath().toStdString();
  // More than the pending limit twice over, in pieces below, at and above a write batch; then a
  // lone piece too small to be written before the file finishes.
  const std::size_t sizes[] = {1, 16384, 0, DownloadFile::kWriteBatchBytes, 700001, 3 * DownloadFile::kWriteBatchBytes + 7};
  std::uint32_t seed = 1;
  for (const std::size_t total : {2 * DownloadFile::kMaxPendingBytes, std::size_t(1)}) {
    auto file = create();
    ASSERT_TRUE(file);
    EXPECT_EQ(QFileInfo(file->path()).absolutePath().toStdString(), folder);
    QByteArray expected;
    for (std::size_t i = 0; std::size_t(expected.size()) < total; ++i) {
      auto piece = patterned(total > 1 ? sizes[i % std::size(sizes)] : 2, seed);
      expected.append(reinterpret_cast<const char*>(piece.data()), qsizetype(piece.size()));
      file->append(std::move(piece));
    }
    EXPECT_EQ(finished(*file, true), "");
    QFile written(file->path());
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_TRUE(written.readAll() == expected) << expected.size() << " bytes sent";
    ASSERT_TRUE(QFile::remove(file->path()));
  }

  // A file not kept, and one never finished, are removed.
  auto dropped = create();
  dropped->append(patterned(DownloadFile::kWriteBatchBytes + 1, seed));
  EXPECT_EQ(finished(*dropped, false), "");
  create()->append(patterned(100, seed));
  EXPECT_EQ(leftovers(), "");

  std::string failure;
  EXPECT_FALSE(DownloadFile::createBeside(mDir.filePath("missing/doc.orrx"), failure));
  EXPECT_NE(failure.find("cannot make a file beside"), std::string::npos) << failure;
}

TEST_F(DownloadFileTest, AFailedWriteIsReportedRemovesTheFileAndNeverHoldsTheReceiver) {
  auto file = create();
  ASSERT_TRUE(file);

  // A file size limit makes the writes fail with EFBIG rather than a signal.
  rlimit before{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
  auto* previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = before;
  small.rlim_cur = DownloadFile::kWriteBatchBytes;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  // Far past the pending limit: a receiver waiting on a writer that gave up would never return.
  std::uint32_t seed = 7;
  for (std::size_t sent = 0; sent < 3 * DownloadFile::kMaxPendingBytes; sent += 65536) file->append(patterned(65536, seed));
  const std::string reported = finished(*file, true);
  setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, previousHandler);

  EXPECT_NE(reported.find("cannot write the download"), std::string::npos) << reported;
  EXPECT_EQ(leftovers(), "");
}
