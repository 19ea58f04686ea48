// Hostile and oversized document files: each is refused with its error, within its memory
// budget, and the process goes on.

#include "document_test_support.h"

#include "model/color_theme.h"
#include "model/idea_document.h"
#include "model/document_limits.h"
#include "model/document_memory_bound.h"
#include "model/icon_image.h"
#include "model/idea_arrival.h"
#include "model/idea_edit_room.h"
#include "model/json_decoder.h"
#include "model/persistence_controller.h"

#include "foundation/data_extensions.h"
#include "foundation/kit_image.h"

#include <QDateTime>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <malloc.h>
#include <pthread.h>
#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <new>
#include <string>
#include <vector>

using namespace orrery;
using testsupport::spinUntil;

namespace {

// A zlib stream of `head`, `repeats` times `piece` and `tail`, made piece by piece.
QByteArray compressedDocument(const std::string& head, const std::string& piece, qint64 repeats,
                              const std::string& tail) {
  z_stream zs{};
  EXPECT_EQ(deflateInit(&zs, Z_BEST_COMPRESSION), Z_OK);
  QByteArray out;
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
  for (qint64 i = 0; i < repeats; ++i) feed(piece.data(), piece.size(), Z_NO_FLUSH);
  feed(tail.data(), tail.size(), Z_FINISH);
  deflateEnd(&zs);
  return out;
}

// A zlib stream of a JSON text whose one string holds `bytes` letters.
QByteArray compressedBomb(qsizetype bytes) {
  return compressedDocument("{\"ideaDocumentDataObject\":{\"fileFormatVersion\":3,\"idea\":{\"text\":\"",
                            std::string(1 << 20, 'a'), (bytes + (1 << 20) - 1) >> 20, "\"}}}");
}

const std::string kRootIdea = "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":3,\"idea\":{\"text\":\"root\"}";

std::string repeated(const std::string& piece, int times) {
  std::string pieces;
  for (int i = 0; i < times; ++i) pieces += piece;
  return pieces;
}

// A document whose root holds `count` copies of `child` (a JSON value and its comma).
QByteArray compressedChildren(const std::string& child, qint64 count) {
  const qint64 batch = std::min<qint64>(count, 1000);
  std::string pieces;
  for (qint64 i = 0; i < batch; ++i) pieces += child;
  return compressedDocument(
      "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":3,\"idea\":{\"text\":\"root\",\"ideas\":[", pieces,
      count / batch, "{}]}}}");
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
  const QByteArray bomb = compressedBomb(DocumentLimits::kMaxJSONBytes + (32 << 20));
  ASSERT_LT(bomb.size(), 4 << 20);
  auto doc = scratchDocument();
  [[maybe_unused]] const bool measured = resetPeakMemory();
  const qint64 before = statusKiB("VmRSS:");
  DocumentError error;
  EXPECT_FALSE(doc->loadFromOrreryData(bomb, &error));
  const qint64 peak = statusKiB("VmHWM:");
  EXPECT_EQ(error.code, kDocumentErrorTooLarge);
  EXPECT_TRUE(doc->lastUserFriendlyError().startsWith(
      "The document is too large to open: reading it would take more than the "))
      << doc->lastUserFriendlyError().toStdString();
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // The sanitizers keep freed blocks in quarantine or shadow them: resident memory says nothing here.
  const bool meaningful = false;
#else
  const bool meaningful = measured;
#endif
  if (meaningful) {
    const qint64 extraMiB = (peak - before) / 1024;
    std::printf("peak memory of refusing the bomb: %lld MiB above the %lld MiB before\n", (long long)extraMiB,
                (long long)before / 1024);
    EXPECT_LE(extraMiB, (DocumentLimits::kMaxJSONBytes >> 20) + 32);
  }
  // The process goes on, and so does the document.
  doc->setIdea(testsupport::makeTree(30));
  EXPECT_TRUE(doc->loadFromOrreryData(doc->exportAsOrreryData()));
}

TEST(DocumentBounds, SmallFilesOpenOrAreRefusedWithinTheirMemory) {
  struct Case {
    std::string what;
    QByteArray file;
    bool opens;
  };
  const std::string longText = "{\"ideaType\":1,\"text\":\"" + std::string(1000000, 'w') + "\"},";
  std::vector<Case> cases = {
      {"tiny ideas up to the JSON bound", compressedChildren("{},", DocumentLimits::kMaxJSONBytes / 3 - 1000), false},
      {"999 000 ideas", compressedChildren("{\"ideaType\":1},", 999000), false},
      {"250 texts of a million characters", compressedChildren(longText, 250), false},
      {"300 000 ideas holding the same 100 letters",
       compressedChildren("{\"ideaType\":1,\"text\":\"" + std::string(100, 'x') + "\"},", 300000), false},
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
      // Under the sanitizers these large opens take minutes and run the same decoding as the small
      // ones; the release run checks that the bound lets them through.
      {"400 000 ideas, just within the bound", compressedChildren("{\"ideaType\":1},", 400000), true},
#endif
  };
  // Values that are no objects, packed as tightly as JSON allows: about 46 MB of them is
  // refused; as many as the bound lets through open within the memory the bound promises.
  const std::string childrenHead = kRootIdea.substr(0, kRootIdea.size() - 1) + ",\"ideas\":[";
  const struct {
    const char* what;
    std::string head, piece, tail;
  } dense[] = {
      {"numbers among the ideas", childrenHead, "0,", "{}]}}}"},
      {"empty arrays among the ideas", childrenHead, "[],", "{}]}}}"},
      {"empty strings among the ideas", childrenHead, "\"\",", "{}]}}}"},
      {"empty strings in a list of texts", kRootIdea + ",\"replacedChanges\":[", "\"\",", "\"\"]}}"},
      {"members of one idea", "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":3,\"idea\":{", "\"a\":0,",
       "\"ideaType\":1}}}"},
  };
  for (const auto& shape : dense) {
    const std::string thousand = repeated(shape.piece, 1000);
    cases.push_back({"46 MB of " + std::string(shape.what),
                     compressedDocument(shape.head, thousand, (qint64(46) << 20) / qint64(thousand.size()), shape.tail),
                     false});
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // Sized by the projection only; what it really takes is measured below.
    DocumentMemoryBound projection(0);
    projection.add(thousand);
    const qint64 thousands = DocumentMemoryBound::kMinBudget * 97 / 100 / projection.projectedBytes();
    cases.push_back({"as many " + std::string(shape.what) + " as the bound takes",
                     compressedDocument(shape.head, thousand, thousands, shape.tail), true});
#endif
  }
  for (const Case& c : cases) {
    ASSERT_LT(c.file.size(), 1 << 20) << c.what;
    auto doc = scratchDocument();
    // Freed heap goes back to the system first, or a reading that reuses it shows no peak.
    malloc_trim(0);
    [[maybe_unused]] const bool measured = resetPeakMemory();
    const qint64 before = statusKiB("VmRSS:");
    DocumentError error;
    const bool read = doc->loadFromOrreryData(c.file, &error);
    const qint64 peakMiB = (statusKiB("VmHWM:") - before) / 1024;
    std::printf("%s (%lld KB): %s, peak %lld MiB above the %lld MiB before\n", c.what.c_str(),
                (long long)c.file.size() / 1000,
                read ? "opened" : "refused", (long long)peakMiB, (long long)before / 1024);
    EXPECT_EQ(read, c.opens) << c.what;
    if (!read) {
      EXPECT_EQ(error.code, kDocumentErrorTooLarge) << c.what;
      // Packed more tightly than the writer packs any map.
      EXPECT_TRUE(error.description.startsWith("The document is too large to open: reading it would take more than "
                                               "the ") &&
                  error.description.contains(
                      QString(" MB of memory a file of %1 KB may take").arg((c.file.size() + 1023) / 1024)))
          << c.what << ": " << error.description.toStdString();
    }
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    if (measured) {
      EXPECT_LE(peakMiB, 300) << c.what;
    }
#endif
    (void)measured;
  }

  // Real maps well past the size of any map made by hand still open, also from a small file.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  for (const int ideas : {100000}) {
#else
  for (const int ideas : {100000, 200000}) {
#endif
    auto doc = scratchDocument();
    doc->setIdea(testsupport::makeTree(ideas));
    const QByteArray real = doc->exportAsOrreryData();
    if (ideas == 100000) {
      EXPECT_LT(real.size(), 1 << 20);
    }
    EXPECT_TRUE(doc->loadFromOrreryData(real)) << ideas;
    EXPECT_TRUE(doc->loadFromJSONData(doc->exportAsPureJSONData())) << ideas;
  }
}

TEST(DocumentBounds, TheProjectionCountsStringBytesValuesAndObjectsWhereverTheyFall) {
  using Bound = DocumentMemoryBound;
  struct Case {
    std::string text;
    qint64 stringBytes, values, objects;  // counted by hand: a string's bytes are its opening quote and content
  };
  const Case cases[] = {
      {R"({"a":[1,2,"{,:["]})", 7, 5, 1},
      {R"(["\"{","\\","\\\"[",{}])", 13, 5, 1},
      {"{\"t\":\"" + repeated("{[,:", 40) + "\"}", 163, 2, 1},  // brackets inside a string across blocks
      {"[\"" + repeated("\\\\", 63) + R"(",{"k":"\"}"}])", 133, 4, 1},  // escapes across blocks
      {"{\"\u00e9\":\"\u00fc{\"}", 7, 2, 1},
  };
  for (const Case& c : cases) {
    for (const int padding : {0, 1, 31, 63, 64, 65, 130}) {
      const std::string text = std::string(size_t(padding), ' ') + c.text;
      const qint64 expected = c.stringBytes * Bound::kBytesPerTextByte +
                              (qint64(text.size()) - c.stringBytes) * Bound::kBytesPerJSONByte +
                              c.values * Bound::kBytesPerValue + c.objects * Bound::kBytesPerObject;
      // Whole, and in pieces as inflation hands them over, some splitting a block or an escape.
      for (const size_t piece : {text.size(), size_t(1), size_t(13), size_t(64), size_t(65)}) {
        Bound bound(0);
        for (size_t at = 0; at < text.size(); at += piece) bound.add(std::string_view(text).substr(at, piece));
        EXPECT_EQ(bound.projectedBytes(), expected)
            << c.text << " after " << padding << " spaces in pieces of " << piece;
      }
    }
  }
}

TEST(DocumentBounds, TextsObjectsAndLevelsBeyondTheBoundsAreRefusedWhole) {
  auto doc = scratchDocument();
  const QByteArray longest = QByteArray(DocumentLimits::kMaxTextLength, 'x');
  auto withText = [](const QByteArray& text) {
    return "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":3,\"idea\":{\"ideas\":[{\"ideaType\":1,\"note\":\"" + text +
           "\"}]}}}";
  };
  EXPECT_TRUE(doc->loadFromJSONData(withText(longest)));
  EXPECT_EQ(doc->idea()->ideas().at(0)->note().size(), DocumentLimits::kMaxTextLength);
  DocumentError error;
  EXPECT_FALSE(doc->loadFromJSONData(withText(longest + "é"), &error));
  EXPECT_EQ(error.code, kDocumentErrorTooLarge);
  EXPECT_EQ(
      error.description,
      "The document is too large to open: a text of 1000001 characters is longer than the 1000000 a map can hold");
  EXPECT_EQ(doc->idea()->ideas().at(0)->note().size(), DocumentLimits::kMaxTextLength) << "the old tree stays";

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

  // Ideas go as deep as the writer writes them, as an earlier version could write them deeper,
  // or as deep as no coder takes.
  auto nested = [](int levels) {
    QByteArray json = R"({"ideaDocumentDataObject":{"fileFormatVersion":3,"idea":{"text":"1")";
    json += QByteArray(R"(,"ideas":[{"ideaType":1,"text":"")").repeated(levels - 1) + QByteArray("}]").repeated(levels - 1);
    return json + "}}}";
  };
  for (const int levels :
       {DocumentLimits::kMaxDepth, DocumentLimits::kMaxDepth + 1, kMaxKeyedNestingDepth + 1, 20000}) {
    DocumentError deep;
    const bool read = doc->loadFromJSONData(nested(levels), &deep);
    EXPECT_EQ(read, levels == DocumentLimits::kMaxDepth) << levels;
    if (!read) {
      EXPECT_EQ(deep.code, kDocumentErrorTooLarge) << levels;
      EXPECT_EQ(deep.description,
                "The document is too large to open: its ideas go deeper than the 498 levels a map can hold")
          << levels;
    }
  }
  // Nesting as deep that does not run through the ideas makes no map: beside them, in an
  // idea's other member, or below ideas no deeper than a map holds.
  const QByteArray deepList = QByteArray(1100, '[') + QByteArray(1100, ']');
  QByteArray deepObject = "1";
  for (int i = 0; i < 1100; ++i) deepObject = "{\"x\":" + deepObject + "}";
  QByteArray belowIdeas = nested(400);
  belowIdeas.insert(belowIdeas.lastIndexOf(R"("text":"")"), "\"junk\":" + deepList + ",");
  for (const QByteArray& file :
       {QByteArray(R"({"ideaDocumentDataObject":{"fileFormatVersion":3,"idea":{"text":"1"},"extra":)") + deepList +
            "}}",
        QByteArray(R"({"ideaDocumentDataObject":{"fileFormatVersion":3,"idea":{"text":"1","note":)") + deepObject +
            "}}}",
        belowIdeas}) {
    DocumentError invalid;
    EXPECT_FALSE(doc->loadFromJSONData(file, &invalid));
    EXPECT_EQ(invalid.code, kDocumentErrorInvalidFormat);
    EXPECT_EQ(invalid.description, "Invalid document format");
  }

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // A file that leaves out the identifiers and types the writer writes takes more once written.
  // Read within the JSON limit, a map the writer would write just beyond it could never be saved
  // and is refused, saying why; one it would write just within it opens. Reading 256 MB takes
  // minutes under the sanitizers; the release run has these.
  constexpr int kSparse = 200;
  auto sparse = [](qsizetype noteChars, qsizetype rootNoteBytes) {
    QByteArray json = R"({"ideaDocumentDataObject":{"fileFormatVersion":3,"idea":{"note":")" +
                      QByteArray(rootNoteBytes, 'r') + R"(","ideas":[)";
    const QByteArray child = R"({"note":")" + QString(noteChars, QChar(u'€')).toUtf8() + R"("})";
    json.reserve(json.size() + kSparse * (child.size() + 1) + 8);
    for (int i = 0; i < kSparse; ++i) json += (i ? "," : "") + child;
    return json + "]}}}";
  };
  // What the writer adds to such a file, learnt from a small one of as many ideas.
  const QByteArray small = sparse(1, 1);
  auto smallDoc = scratchDocument();
  ASSERT_TRUE(smallDoc->loadFromJSONData(small));
  const qint64 added = smallDoc->exportAsPureJSONData().size() - small.size();
  ASSERT_GT(added, kSparse * 32) << "at least an identifier for each idea";
  const qsizetype noteChars = (DocumentLimits::kMaxJSONBytes - (512 << 10)) / kSparse / 3;
  for (const qint64 beyondLimit : {1024, -1024}) {
    SCOPED_TRACE(beyondLimit);
    // The small file's root note is one byte.
    const qint64 rootNote = DocumentLimits::kMaxJSONBytes + beyondLimit - added -
                            (small.size() - 1 + qint64(kSparse) * 3 * (noteChars - 1));
    const QByteArray file = sparse(noteChars, rootNote);
    ASSERT_LE(file.size(), DocumentLimits::kMaxJSONBytes);
    ASSERT_FALSE(DocumentSize::boundOfRead(file.size(), kSparse + 2, 2).withinLimits()) << "the map's measure decides";
    auto read = scratchDocument();
    DocumentError error;
    const bool opened = read->loadFromJSONData(file, &error);
    EXPECT_EQ(opened, beyondLimit < 0) << error.description.toStdString();
    if (opened) {
      EXPECT_EQ(read->storedSize().jsonBytes, DocumentLimits::kMaxJSONBytes + beyondLimit);
      EXPECT_TRUE(read->storedSizeMeasured());
    } else {
      EXPECT_EQ(error.code, kDocumentErrorTooLarge);
      EXPECT_EQ(error.description,
                "The document is too large to open: it would take 257 MB, more than the 256 MB a map can hold");
      EXPECT_EQ(read->lastUserFriendlyError(), error.description);
    }
  }
#endif
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
  EXPECT_EQ(error.description, "The document is too large to open: there is not enough memory to read it");
  EXPECT_FALSE(doc->idea());
}

TEST(DocumentBounds, AFileLargerThanAnyDocumentIsNotReadAtAll) {
  testsupport::QtMainQueueScope mainQueue;
  QTemporaryDir dir;
  const QString path = dir.filePath("huge.orrery");
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  ASSERT_TRUE(file.resize(DocumentLimits::kMaxJSONBytes + 1));  // sparse: no disk taken
  file.close();
  auto doc = IdeaDocument::createWithIdentifier("file://" + path);
  int read = -1;
  doc->readFromURL(QUrl::fromLocalFile(path), [&](bool ok) { read = ok; });
  ASSERT_TRUE(spinUntil([&] { return read >= 0; }));
  EXPECT_EQ(read, 0);
  EXPECT_EQ(doc->lastError().code, kDocumentErrorTooLarge);
  EXPECT_EQ(doc->lastError().description,
            "The document is too large to open: it would take more than the 256 MB a map can hold");
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

// Maps the program wrote reopen however alike their ideas, and so however well their files
// compress: an imported outline's ideas may all have one title, or none.
TEST(DocumentBounds, EveryMapTheProgramWritesOpensAgain) {
  const struct {
    const char* what;
    QString (*title)(int);
  } titles[] = {
      {"equal titles", [](int) { return QStringLiteral("An imported outline item with a rather longer title than most"); }},
      {"empty titles", [](int) { return QString(); }},
      {"distinct titles", [](int i) { return QStringLiteral("Item %1").arg(i); }},
  };
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // Building and writing this many ideas is slow under the sanitizers: the smaller map, titled alike.
  const std::vector<int> counts = {200000};
  const size_t kinds = 1;
#else
  const std::vector<int> counts = {200000, 400000};
  const size_t kinds = std::size(titles);
#endif
  for (const int count : counts) {
    // Built once, eight children to an idea, and retitled for each case.
    std::vector<IdeaPtr> ideas{Idea::createWithText(QString())};
    ideas.reserve(size_t(count));
    for (int i = 1; i < count; ++i) {
      ideas.push_back(Idea::createWithText(QString()));
      ideas[size_t(i - 1) / 8]->addIdea(ideas.back());
    }
    auto doc = scratchDocument();
    doc->setIdea(ideas.front());
    for (size_t kind = 0; kind < kinds; ++kind) {
      const auto& t = titles[kind];
      for (int i = 0; i < count; ++i) ideas[size_t(i)]->setText(t.title(i));
      const QByteArray file = doc->exportAsOrreryData();
      const std::string what = std::to_string(count) + " ideas with " + t.what;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
      // The bound alone decides whether the map opens; the release run opens each.
      const auto json = dataext::zlibInflate(file, DocumentLimits::kMaxJSONBytes);
      ASSERT_TRUE(json) << what;
      DocumentMemoryBound bound(file.size());
      EXPECT_TRUE(bound.add(std::string_view(json->constData(), size_t(json->size())))) << what;
#else
      auto reopened = scratchDocument();
      DocumentError error;
      EXPECT_TRUE(reopened->loadFromOrreryData(file, &error)) << what << ": " << error.description.toStdString();
      if (reopened->idea()) {
        EXPECT_EQ(reopened->idea()->ideas().at(7)->ideas().at(7)->text(), t.title(72)) << what;
      }
#endif
    }
  }
}

// What the reader would refuse, the writer does not write: a map at a limit is written and opens
// again, however its texts repeat; one beyond it is not written, its save says why, and the file
// on disk and the map in memory both stay as they were.
TEST(DocumentBounds, TheWriterKeepsTheLimitsTheReaderKeeps) {
  testsupport::QtMainQueueScope mainQueue;
  QTemporaryDir dir;
  const QString longest(DocumentLimits::kMaxTextLength, QChar(u'é'));
  auto mapWith = [](const std::function<void(Idea&)>& set, int children = 1) {
    IdeaPtr root = Idea::createWithText("Map");
    for (int i = 0; i < children; ++i) {
      root->addIdea(Idea::createWithText(QStringLiteral("child %1").arg(i)));
      set(*root->ideas().back());
    }
    return root;
  };
  // 51 notes of one character repeated: at zlib's default level a file of 50 KB that opening
  // takes 204 MB for, which the reader takes for a bomb.
  const QString repeated(DocumentLimits::kMaxTextLength, QChar(u'='));
  struct Case {
    std::string what;
    IdeaPtr tree;
    bool plainJSON;
    QString refusal;  // none: written, and opens again
  };
  std::vector<Case> cases = {
      {"a note at the text limit", mapWith([&](Idea& i) { i.setNote(longest); }), false, {}},
      {"a note one character longer", mapWith([&](Idea& i) { i.setNote(longest + "!"); }), false,
       "a text of 1000001 characters"},
      {"a title one character longer", mapWith([&](Idea& i) { i.setText(longest + "!"); }), false,
       "a text of 1000001 characters"},
      {"repeated texts, compressed", mapWith([&](Idea& i) { i.setNote(repeated); }, 51), false, {}},
      {"repeated texts, plain JSON", mapWith([&](Idea& i) { i.setNote(repeated); }, 51), true, {}},
  };
  {
    IdeaPtr link = Idea::createWithURL("https://example.org/" + longest, KitImage());
    IdeaPtr root = Idea::createWithText("Links");
    root->addIdea(link);
    cases.push_back({"a web link one character longer", root, false, "a text of 1000020 characters"});
  }
  // The deepest idea wears an icon, which the file nests one level further.
  for (const int levels : {DocumentLimits::kMaxDepth, DocumentLimits::kMaxDepth + 1}) {
    IdeaPtr root = Idea::createWithText("Deep");
    IdeaPtr bottom = root;
    for (int level = 2; level <= levels; ++level) {
      bottom->addIdea(Idea::createWithText(QStringLiteral("level %1").arg(level)));
      bottom = bottom->ideas().back();
    }
    bottom->setIconImage(std::make_shared<IconImage>("star", "Symbols", "⭐"));
    const bool deepest = levels == DocumentLimits::kMaxDepth;
    cases.push_back({deepest ? "ideas as deep as a map holds" : "one level deeper", root, false,
                     deepest ? QString() : QStringLiteral("its ideas go deeper than the 498 levels a map can hold")});
  }
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // Building, writing and reading these takes minutes under the sanitizers; the release run has them.
  {
    // The data object and the root count among the objects.
    IdeaPtr most = Idea::createWithText("Outline");
    for (qint64 i = 2; i < DocumentLimits::kMaxObjects; ++i) most->addIdea(Idea::createWithText(QString()));
    cases.push_back({"as many ideas as a map holds", most, false, {}});
    IdeaPtr more = Idea::createWithText("Outline");
    for (qint64 i = 1; i < DocumentLimits::kMaxObjects; ++i) more->addIdea(Idea::createWithText(QString()));
    // Counted as the full-map alert counts them.
    cases.push_back({"one idea more", more, false, "it holds 1000000 ideas and icons, more than the 999999 a map"});
    EXPECT_TRUE(DocumentLimits::documentFullMessage().contains("999999 ideas and icons"));
    // 90 notes of a million three-byte characters: 270 MB of JSON.
    const QString wide(DocumentLimits::kMaxTextLength, QChar(u'€'));
    cases.push_back({"JSON beyond the limit", mapWith([&](Idea& i) { i.setNote(wide); }, 90), true,
                     "it would take 258 MB, more than the 256 MB"});
  }
#endif
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const QString path = dir.filePath(QStringLiteral("limit%1.orrx").arg(n++));
    auto doc = IdeaDocument::createWithFileName(path, c.plainJSON ? DocumentLocationICloud : DocumentLocationLocalFile);
    doc->setIdea(Idea::createWithText("As it was"));
    DocumentToken token = -1;
    doc->createAtURL(QUrl::fromLocalFile(path), [&](DocumentToken t) { token = t; });
    ASSERT_TRUE(spinUntil([&] { return token >= 0; }));
    ASSERT_GE(token, 1);
    doc->setIdea(c.tree);
    int saved = -1;
    doc->updateWithToken(token, [&](bool ok) { saved = ok; });
    ASSERT_TRUE(spinUntil([&] { return saved >= 0; }, 120000));
    EXPECT_EQ(saved == 1, c.refusal.isEmpty());
    auto reader = IdeaDocument::createWithFileName("reader.orrx", DocumentLocationDropbox);
    const QByteArray onDisk = testsupport::readAll(path);
    DocumentError error;
    ASSERT_TRUE(c.plainJSON ? reader->loadFromJSONData(onDisk, &error) : reader->loadFromOrreryData(onDisk, &error))
        << "whatever the writer wrote opens: " << error.description.toStdString();
    if (c.refusal.isEmpty()) {
      ASSERT_EQ(reader->idea()->calculateWholeTreeSize(), c.tree->calculateWholeTreeSize());
      EXPECT_EQ(reader->idea()->ideas().back()->note(), c.tree->ideas().back()->note());
    } else {
      EXPECT_EQ(reader->idea()->text(), "As it was") << "the file on disk stays";
      EXPECT_EQ(doc->idea(), c.tree) << "the map stays in memory";
      EXPECT_TRUE(doc->lastUserFriendlyError().startsWith("The document could not be saved: ") &&
                  doc->lastUserFriendlyError().contains(c.refusal))
          << doc->lastUserFriendlyError().left(200).toStdString();
    }
    bool closed = false;
    doc->closeWithToken(token, [&](bool) { closed = true; });
    ASSERT_TRUE(spinUntil([&] { return closed; }));
  }

  // The reader's guard stays: that map's JSON at zlib's default level alone still reads as a
  // bomb. The writer's stream stores only what the bound needs, and any zlib reader inflates it.
  auto doc = scratchDocument();
  doc->setIdea(mapWith([&](Idea& i) { i.setNote(repeated); }, 51));
  doc->setDateModified(QDateTime::fromSecsSinceEpoch(1800000000, Qt::UTC));
  const QByteArray json = doc->exportAsPureJSONData();
  DocumentError error;
  EXPECT_FALSE(scratchDocument()->loadFromOrreryData(*dataext::zlibDeflate(json), &error));
  EXPECT_EQ(error.code, kDocumentErrorTooLarge);
  const QByteArray written = doc->exportAsOrreryData();
  EXPECT_LT(written.size(), json.size() / 100) << written.size();
  QByteArray inflated(json.size(), Qt::Uninitialized);
  uLongf size = uLongf(inflated.size());
  ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(inflated.data()), &size,
                       reinterpret_cast<const Bytef*>(written.constData()), uLong(written.size())),
            Z_OK);
  EXPECT_TRUE(size == uLongf(json.size()) && inflated == json);
  // An ordinary map, large enough to be written in many pieces, is the default level throughout.
  doc->setIdea(testsupport::makeTree(30000));
  EXPECT_EQ(doc->exportAsOrreryData(), *dataext::zlibDeflate(doc->exportAsPureJSONData()));
}

// Every way into a map asks the room its file takes more: with exactly that much left in the map
// it is let in, with a byte or an object less it is refused, saying why. What the file takes is
// the writer's own output before and after. The map is as it was read, from the writer's file
// or from one that leaves out members the writer writes.
TEST(DocumentBounds, EveryWayIntoAMapAsksTheRoomItsFileTakes) {
  const auto star = std::make_shared<IconImage>("star", "Symbols", "⭐");
  const auto comet = std::make_shared<IconImage>("comet with a long tail", "Space", "☄");
  QImage picture(320, 200, QImage::Format_RGB32);
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x) picture.setPixel(x, y, qRgb(x, y, x ^ y));
  // Identifiers as earlier versions made them: shorter than a copy's.
  int made = 0;
  auto idea = [&](const QString& text) { return Idea::createWithText(text, QStringLiteral("i%1").arg(++made)); };
  auto map = [&] {
    IdeaPtr root = idea("Map");
    root->setColor(ColorTheme::colorByName("green1"));
    for (int i = 0; i < 7; ++i) {
      root->addIdea(idea(QStringLiteral("child %1").arg(i)));
      if (i % 2) root->ideas().back()->setColor(ColorTheme::colorByName("violet2"));
    }
    root->ideas()[1]->setIconImage(star);
    root->ideas()[3]->addIdea(idea("inner"));
    root->ideas()[3]->ideas()[0]->addIdea(Idea::createWithLinkToIdea(root->ideas()[0]->identifier()));
    root->addIdea(Idea::createWithLinkToIdea(root->ideas()[0]->identifier()));
    return root;
  };
  // Another map: a part of it links to an idea outside the part, which holds a long note.
  const IdeaPtr other = idea("Other map");
  other->addIdea(idea("notes"));
  other->ideas()[0]->setNote(QString(1000, QChar(u'n')));
  other->addIdea(idea("part"));
  other->ideas()[1]->addIdea(Idea::createWithLinkToIdea(other->ideas()[0]->identifier()));
  auto written = scratchDocument();
  written->setIdea(map());
  written->setDateModified(QDateTime::fromSecsSinceEpoch(1800000000, Qt::UTC));
  const QByteArray file = written->exportAsPureJSONData();
  // The same map without each idea's child rule, which the reader takes as 0.
  QByteArray shorter = file;
  shorter.replace(",\"colorThemeType\":1", "");
  ASSERT_LT(shorter.size(), file.size());

  using Enter = std::function<bool(const std::shared_ptr<IdeaDocument>&, const IdeaPtr& root)>;
  // What arrives under the root's child `parent` (-1: the root) goes in where it is let in.
  auto into = [](int parent, std::function<IdeaArrival(const IdeaPtr& root, const Idea& to)> arrive) -> Enter {
    return [=](const std::shared_ptr<IdeaDocument>& doc, const IdeaPtr& root) {
      const IdeaPtr to = parent < 0 ? root : root->ideas()[parent];
      const IdeaArrival arrival = arrive(root, *to);
      if (!doc->makeRoomFor(arrival.added, arrival.removed)) return false;
      if (const IdeaPtr from = arrival.idea->parent()) from->detachIdea(arrival.idea->identifier());
      to->addIdea(arrival.idea);
      return true;
    };
  };
  // A panel's edit of the root's child `child`, held while it is made and applied at its close.
  auto edit = [](int child, IdeaEditRoom::Part part, std::function<void(Idea&)> change, bool recolor = false) -> Enter {
    return [=](const std::shared_ptr<IdeaDocument>& doc, const IdeaPtr& root) {
      const IdeaPtr edited = child < 0 ? root : root->ideas()[child];
      IdeaEditRoom room(doc, edited);
      const bool held = room.holdRoomFor(part, change, recolor);
      EXPECT_EQ(room.refusal().toStdString(),
                held ? std::string() : DocumentLimits::documentFullMessage().toStdString());
      return held && room.applyTo(*edited, change, recolor);
    };
  };
  const auto recolored = [](Idea& i) {
    i.setColor(ColorTheme::colorByName("blue2"));
    i.setColorThemeType(ColorThemeTypeVaryingColors);
  };
  struct Row {
    std::string what;
    Enter enter;
    bool shorterFile = false;
  };
  const std::vector<Row> rows = {
      {"a new idea",
       into(-1, [](const IdeaPtr&, const Idea& to) { return IdeaArrival::of(Idea::createWithText("new"), to); })},
      {"a copy within the map, its link kept",
       into(4, [](const IdeaPtr& root, const Idea& to) { return IdeaArrival::copyOf(*root->ideas()[3], to, true); })},
      {"a copy from another map, its link leading out",
       into(4, [&](const IdeaPtr&, const Idea& to) { return IdeaArrival::copyOf(*other->ideas()[1], to, false); })},
      {"a move from another map",
       into(5, [&](const IdeaPtr&, const Idea& to) { return IdeaArrival::copyOf(*other->ideas()[0], to, false); })},
      {"a move into an idea with no children",
       into(2, [](const IdeaPtr& root, const Idea& to) { return IdeaArrival::moveOf(root->ideas()[1], to); })},
      {"a longer title", edit(0, IdeaEditRoom::Title, [](Idea& i) { i.setText("child 0, \"quoted\" and é"); })},
      {"a note", edit(0, IdeaEditRoom::Note, [](Idea& i) { i.setNote("line\nnext line ☄ \x01"); })},
      {"an icon where there was none", edit(0, IdeaEditRoom::Icon, [&](Idea& i) { i.setIconImage(star); })},
      {"an icon of a longer name", edit(1, IdeaEditRoom::Icon, [&](Idea& i) { i.setIconImage(comet); })},
      {"a colour, the children recoloured", edit(-1, IdeaEditRoom::Colors, recolored, true)},
      {"a picture", edit(2, IdeaEditRoom::Picture, [&](Idea& i) { i.replaceWithOriginalImage(KitImage(picture)); })},
      {"a letter, the map read from a shorter file", edit(-1, IdeaEditRoom::Title, [](Idea& i) { i.setText("Maps"); }),
       true},
  };
  auto opened = [&](const Row& row) {
    auto doc = scratchDocument();
    EXPECT_TRUE(doc->loadFromJSONData(row.shorterFile ? shorter : file));
    return doc;
  };
  // The file the writer makes of a document: its bytes, and its objects (the data object, the
  // ideas and their icons).
  auto fileSize = [](const IdeaDocument& doc) {
    qint64 objects = 1;
    doc.idea()->traverseNaturally([&](const IdeaPtr& i, qint64) { objects += i->isLink() || !i->iconImage() ? 1 : 2; },
                                  0);
    return std::pair{qint64(doc.exportAsPureJSONData().size()), objects};
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    auto doc = opened(row);
    const auto [bytesBefore, objectsBefore] = fileSize(*doc);
    ASSERT_TRUE(row.enter(doc, doc->idea()));
    const auto [bytesAfter, objectsAfter] = fileSize(*doc);
    const qint64 bytes = bytesAfter - bytesBefore, objects = std::max<qint64>(objectsAfter - objectsBefore, 0);
    ASSERT_GT(bytes, 0) << "each way in here makes the file larger";
    for (const auto& [lessBytes, lessObjects] : {std::pair{0, 0}, {1, 0}, {0, 1}}) {
      if (lessObjects > 0 && objects == 0) continue;
      doc = opened(row);
      // Held elsewhere beside the map as read: as much as leaves it the room the change takes, or less.
      const int elsewhere = 0;
      ASSERT_TRUE(doc->holdRoom(&elsewhere,
                                DocumentSize{DocumentLimits::kMaxJSONBytes - bytesBefore - bytes + lessBytes,
                                             DocumentLimits::kMaxObjects - objectsBefore - objects + lessObjects, 0}));
      EXPECT_EQ(row.enter(doc, doc->idea()), lessBytes + lessObjects == 0)
          << "room left: as much as it takes less " << lessBytes << " bytes, " << lessObjects << " objects";
    }
  }

  // A part holds the most it took, which an undo may bring back: the title's room is still the
  // title's after it was shortened again. At the close the change goes onto the idea as it is
  // then, and what it adds there is let in; without room for that nothing changes.
  auto doc = scratchDocument();
  const IdeaPtr tree = map();
  const QString title = tree->ideas()[0]->text();
  ASSERT_TRUE(doc->makeRoomFor(DocumentSize{DocumentLimits::kMaxJSONBytes - 9, 0, 0}));
  IdeaEditRoom room(doc, tree->ideas()[0]);
  EXPECT_TRUE(room.holdRoomFor(IdeaEditRoom::Title, [&](Idea& i) { i.setText(title + "123456789"); }));
  EXPECT_TRUE(room.holdRoomFor(IdeaEditRoom::Title, [&](Idea& i) { i.setText("A"); }));
  EXPECT_TRUE(room.holdRoomFor(IdeaEditRoom::Title, [&](Idea& i) { i.setText(title + "12345678"); }));
  EXPECT_FALSE(room.holdRoomFor(IdeaEditRoom::Note, [&](Idea& i) { i.setNote("n"); }));
  EXPECT_FALSE(doc->makeRoomFor(DocumentSize{1, 0, 0})) << "nothing else takes the room held";
  EXPECT_FALSE(room.holdRoomFor(IdeaEditRoom::Title, [&](Idea& i) { i.setText(title + "1234567890"); }));
  EXPECT_EQ(room.refusal().toStdString(), DocumentLimits::documentFullMessage().toStdString());
  EXPECT_FALSE(room.holdRoomFor(IdeaEditRoom::Note,
                                [&](Idea& i) { i.setNote(QString(DocumentLimits::kMaxTextLength + 1, QChar(u'n'))); }));
  EXPECT_EQ(room.refusal().toStdString(), DocumentLimits::textTooLongMessage().toStdString());
  const auto longer = [&](Idea& i) { i.setText(title + "12345678"); };
  tree->ideas()[0]->setText("");  // shortened elsewhere meanwhile: the change adds more than it held
  EXPECT_FALSE(room.applyTo(*tree->ideas()[0], longer));
  EXPECT_EQ(tree->ideas()[0]->text(), QString(""));
  tree->ideas()[0]->setText(title);
  EXPECT_TRUE(room.applyTo(*tree->ideas()[0], longer));
  EXPECT_EQ(tree->ideas()[0]->text(), title + "12345678");
  EXPECT_FALSE(doc->makeRoomFor(DocumentSize{2, 0, 0})) << "the title's eight bytes are in the map now";
  EXPECT_TRUE(doc->makeRoomFor(DocumentSize{1, 0, 0}));
}

// The coders recurse once a level. The work queues write and read on threads of the default
// stack size: 8 MiB, 2 MiB where the stack is unlimited, less only where the user set it so.
// The deepest map is written and read again on half of the smallest (beyond it, the guard page
// ends the process).
TEST(DocumentBounds, TheDeepestMapIsWrittenAndReadAgainOnASmallStack) {
  struct Run {
    IdeaPtr root;
    bool reopened = false;
  } run;
  run.root = Idea::createWithText("Deep");
  IdeaPtr bottom = run.root;
  for (int level = 2; level <= DocumentLimits::kMaxDepth; ++level) {
    bottom->addIdea(Idea::createWithText(QStringLiteral("level %1").arg(level)));
    bottom = bottom->ideas().back();
  }
  bottom->setIconImage(std::make_shared<IconImage>("star", "Symbols", "⭐"));
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // Unoptimised and with redzones, frames are a few times larger: the default size.
  const size_t stack = size_t(8) << 20;
#else
  const size_t stack = size_t(1) << 20;
#endif
  pthread_attr_t attributes;
  ASSERT_EQ(pthread_attr_init(&attributes), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, stack), 0);
  pthread_t thread;
  auto body = [](void* argument) -> void* {
    auto& r = *static_cast<Run*>(argument);
    auto doc = IdeaDocument::createWithFileName("deep.orrx", DocumentLocationDropbox);
    doc->setIdea(r.root);
    auto back = IdeaDocument::createWithFileName("back.orrx", DocumentLocationDropbox);
    r.reopened = back->loadFromOrreryData(doc->exportAsOrreryData()) &&
                 DocumentSize::levelsOf(*back->idea(), 1).deepest == DocumentLimits::kMaxDepth;
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, body, &run), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
  EXPECT_TRUE(run.reopened);
}
