// Hostile and oversized document files: each is refused with its error, within its memory
// budget, and the process goes on.

#include "document_test_support.h"

#include "model/idea_document.h"
#include "model/json_decoder.h"
#include "model/persistence_controller.h"

#include "foundation/data_extensions.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <zlib.h>

#include <fstream>
#include <new>
#include <string>

using namespace orrery;
using testsupport::spinUntil;

namespace {

// A zlib stream of a JSON text whose one string holds `bytes` letters, made chunk by chunk.
QByteArray compressedBomb(qsizetype bytes) {
  z_stream zs{};
  EXPECT_EQ(deflateInit(&zs, Z_BEST_SPEED), Z_OK);
  QByteArray out;
  const std::string head = "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":3,\"idea\":{\"text\":\"";
  const std::string chunk(1 << 20, 'a');
  char buffer[1 << 16];
  auto feed = [&](const char* data, size_t size, int flush) {
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    zs.avail_in = uInt(size);
    do {
      zs.next_out = reinterpret_cast<Bytef*>(buffer);
      zs.avail_out = sizeof buffer;
      deflate(&zs, flush);
      out.append(buffer, qsizetype(sizeof buffer - zs.avail_out));
    } while (zs.avail_out == 0);
  };
  feed(head.data(), head.size(), Z_NO_FLUSH);
  for (qsizetype done = 0; done < bytes; done += qsizetype(chunk.size())) feed(chunk.data(), chunk.size(), Z_NO_FLUSH);
  feed("\"}}}", 4, Z_FINISH);
  deflateEnd(&zs);
  return out;
}

// Peak and current resident memory of this process, in KiB.
qint64 statusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0) return std::stoll(line.substr(std::string(field).size()));
  return -1;
}

// Starts a new peak: the kernel forgets the highest resident size so far.
bool resetPeakMemory() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  return bool(clear);
}

std::shared_ptr<IdeaDocument> scratchDocument() {
  return IdeaDocument::createWithFileName("bounds.orrx", DocumentLocationDropbox);
}

// A class whose decoding runs out of memory, as a huge file would.
struct AllocationFailure final : KeyedCodable {
  static constexpr char kClassName[] = "TestAllocationFailure";
  static std::shared_ptr<AllocationFailure> createWithCoder(KeyedDecoder&) { throw std::bad_alloc(); }
  QString className() const override { return kClassName; }
  void encodeWithCoder(KeyedEncoder&) const override {}
};

}  // namespace

TEST(DocumentBounds, ACompressionBombIsRefusedWithinTheBudget) {
  const QByteArray bomb = compressedBomb(IdeaDocument::kMaxJSONBytes + (32 << 20));
  ASSERT_LT(bomb.size(), 4 << 20);
  auto doc = scratchDocument();
  const bool measured = resetPeakMemory();
  const qint64 before = statusKiB("VmRSS:");
  DocumentError error;
  EXPECT_FALSE(doc->loadFromOrreryData(bomb, &error));
  const qint64 peak = statusKiB("VmHWM:");
  EXPECT_EQ(error.code, kDocumentErrorTooLarge);
  EXPECT_EQ(doc->lastUserFriendlyError(), "The document is too large to open");
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // The sanitizers keep freed blocks in quarantine or shadow every byte: resident memory says
  // nothing here.
  const bool meaningful = false;
#else
  const bool meaningful = measured;
#endif
  if (meaningful) {
    const qint64 extraMiB = (peak - before) / 1024;
    std::printf("peak memory of refusing the bomb: %lld MiB above the %lld MiB before\n", (long long)extraMiB,
                (long long)before / 1024);
    EXPECT_LE(extraMiB, (IdeaDocument::kMaxJSONBytes >> 20) + 32);
  }
  // The process goes on, and so does the document.
  doc->setIdea(testsupport::makeTree(30));
  EXPECT_TRUE(doc->loadFromOrreryData(doc->exportAsOrreryData()));
}

TEST(DocumentBounds, TextsAndObjectsBeyondTheBoundsAreRefusedWhole) {
  auto doc = scratchDocument();
  const QByteArray longest = QByteArray(IdeaDocument::kMaxTextLength, 'x');
  auto withText = [](const QByteArray& text) {
    return "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":3,\"idea\":{\"ideas\":[{\"ideaType\":1,\"note\":\"" + text +
           "\"}]}}}";
  };
  EXPECT_TRUE(doc->loadFromJSONData(withText(longest)));
  EXPECT_EQ(doc->idea()->ideas().at(0)->note().size(), IdeaDocument::kMaxTextLength);
  DocumentError error;
  EXPECT_FALSE(doc->loadFromJSONData(withText(longest + "é"), &error));
  EXPECT_EQ(error.code, kDocumentErrorTooLarge);
  EXPECT_EQ(error.description, "The document is too large to open");
  EXPECT_EQ(doc->idea()->ideas().at(0)->note().size(), IdeaDocument::kMaxTextLength) << "the old tree stays";

  // The object bound counts every object made, however the file nests them.
  QByteArray many = "{\"ideaDocumentDataObject\":{\"idea\":{\"ideas\":[";
  for (int i = 0; i < 1000; ++i) many += QByteArray(i ? "," : "") + R"({"ideaType":1,"ideas":[{"ideaType":1,"text":""}]})";
  many += "]}}}";
  for (const qint64 bound : {2001, 2002}) {
    auto decoder = JSONDecoder::createWithData(many);
    ASSERT_TRUE(decoder);
    decoder->addAlias("idea", "Idea");
    decoder->addAlias("ideas", "Idea");
    decoder->setLimits({bound, -1});
    const bool read = decoder->decodeObject() != nullptr;
    // The data object, the root idea and 2 000 below it.
    EXPECT_EQ(read, bound == 2002) << bound;
    EXPECT_EQ(decoder->tooLarge(), bound == 2001) << bound;
  }
}

TEST(DocumentBounds, RunningOutOfMemoryWhileReadingIsARefusalNotAnEnd) {
  KeyedClassRegistry::add<AllocationFailure>();
  auto doc = scratchDocument();
  DocumentError error;
  const bool read = doc->loadFromJSONData(
      R"({"ideaDocumentDataObject":{"fileFormatVersion":3,"idea":{"ideas":[{"text":"a","ideaType":1},{"@class":"TestAllocationFailure"}]}}})",
      &error);
  KeyedClassRegistry::shared().unregisterClass(AllocationFailure::kClassName);
  EXPECT_FALSE(read);
  EXPECT_EQ(error.code, kDocumentErrorTooLarge);
  EXPECT_FALSE(doc->idea());
}

TEST(DocumentBounds, AFileLargerThanAnyDocumentIsNotReadAtAll) {
  testsupport::QtMainQueueScope mainQueue;
  QTemporaryDir dir;
  const QString path = dir.filePath("huge.orrery");
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  ASSERT_TRUE(file.resize(IdeaDocument::kMaxJSONBytes + 1));  // sparse: no disk taken
  file.close();
  auto doc = IdeaDocument::createWithIdentifier("file://" + path);
  int read = -1;
  doc->readFromURL(QUrl::fromLocalFile(path), [&](bool ok) { read = ok; });
  ASSERT_TRUE(spinUntil([&] { return read >= 0; }));
  EXPECT_EQ(read, 0);
  EXPECT_EQ(doc->lastError().code, kDocumentErrorTooLarge);
}

TEST(DocumentBounds, FetchingADocumentHandsTheRefusalToTheCaller) {
  testsupport::QtMainQueueScope mainQueue;
  QTemporaryDir dir;
  const QString path = dir.filePath("future.orrery");
  auto future = scratchDocument();
  ASSERT_TRUE(testsupport::writeAll(
      path, *dataext::zlibDeflate(R"({"ideaDocumentDataObject":{"fileFormatVersion":4,"idea":{"text":"from the future"}}})")));
  bool done = false;
  IdeaPtr idea;
  DocumentError error;
  PersistenceController::singleton().fetchDocument(
      "file://" + path, PersistenceController::FetchCompletion([&](IdeaPtr i, const DocumentError& e) {
        idea = std::move(i), error = e, done = true;
      }));
  ASSERT_TRUE(spinUntil([&] { return done; }));
  EXPECT_FALSE(idea);
  EXPECT_EQ(error.code, kDocumentErrorNewerVersion);
  EXPECT_EQ(error.description, "Newer Orrery version is needed");
}
