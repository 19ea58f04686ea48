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

std::string finished(DownloadFile& file, bool keep) {
  std::promise<std::string> failure;
  file.finish(keep, [&](const std::string& f) { failure.set_value(f); });
  return failure.get_future().get();
}

QStringList leftovers(const QTemporaryDir& dir) {
  return QDir(dir.path()).entryList({".download-*"}, QDir::Hidden | QDir::Files);
}

}  // namespace

TEST(DownloadFileTest, PiecesOfEverySizeArriveInOrderAndOnlyAKeptFileStays) {
  QTemporaryDir dir;
  std::string failure;
  auto file = DownloadFile::createBeside(dir.filePath("doc.orrx"), failure);
  ASSERT_TRUE(file) << failure;
  EXPECT_EQ(QFileInfo(file->path()).dir(), QDir(dir.path()));

  // More than the pending limit twice over, in pieces below, at and above a write batch.
  const std::size_t sizes[] = {1, 16384, 0, DownloadFile::kWriteBatchBytes, 700001, 3 * DownloadFile::kWriteBatchBytes + 7};
  std::uint32_t seed = 1;
  QByteArray expected;
  for (int round = 0; expected.size() < qsizetype(2 * DownloadFile::kMaxPendingBytes); ++round) {
    auto piece = patterned(sizes[round % std::size(sizes)], seed);
    expected.append(reinterpret_cast<const char*>(piece.data()), qsizetype(piece.size()));
    file->append(std::move(piece));
  }
  EXPECT_EQ(finished(*file, true), "");
  QFile written(file->path());
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  EXPECT_TRUE(written.readAll() == expected);

  // A piece too small to be written on its own is written when the file finishes.
  auto small = DownloadFile::createBeside(dir.filePath("doc.orrx"), failure);
  ASSERT_TRUE(small);
  small->append({'o', 'k'});
  EXPECT_EQ(finished(*small, true), "");
  QFile smallWritten(small->path());
  ASSERT_TRUE(smallWritten.open(QIODevice::ReadOnly));
  EXPECT_EQ(smallWritten.readAll(), "ok");
  ASSERT_TRUE(QFile::remove(small->path()));

  // A file not kept, and one never finished, are removed.
  auto dropped = DownloadFile::createBeside(dir.filePath("doc.orrx"), failure);
  ASSERT_TRUE(dropped);
  dropped->append(patterned(DownloadFile::kWriteBatchBytes + 1, seed));
  EXPECT_EQ(finished(*dropped, false), "");
  auto abandoned = DownloadFile::createBeside(dir.filePath("doc.orrx"), failure);
  ASSERT_TRUE(abandoned);
  abandoned->append(patterned(100, seed));
  abandoned.reset();
  EXPECT_EQ(leftovers(dir), QStringList{QFileInfo(file->path()).fileName()});

  EXPECT_FALSE(DownloadFile::createBeside(dir.filePath("missing/doc.orrx"), failure));
  EXPECT_NE(failure.find("cannot make a file beside"), std::string::npos) << failure;
}

TEST(DownloadFileTest, AFailedWriteIsReportedRemovesTheFileAndNeverHoldsTheReceiver) {
  QTemporaryDir dir;
  std::string failure;
  auto file = DownloadFile::createBeside(dir.filePath("doc.orrx"), failure);
  ASSERT_TRUE(file) << failure;

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
  EXPECT_TRUE(leftovers(dir).isEmpty());
}
