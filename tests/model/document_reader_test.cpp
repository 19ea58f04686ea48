// The document reader and writer against the QJsonDocument-based pair of earlier versions:
// round trips over generated trees in every direction, and a differential run over malformed
// and mutated documents in which both readers must accept and refuse the same files and read
// the same trees.

#include "document_test_support.h"
#include "idea_test_trees.h"
#include "support/legacy_json_coder.h"

#include "model/idea_document.h"
#include "model/idea_document_data_object.h"
#include "model/json_decoder.h"
#include "model/json_encoder.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <random>

using namespace orrery;

namespace {

struct Reading {
  bool parsed = false;  // the JSON text itself was accepted
  int code = 0;         // 0 when the document was read
  std::string tree;     // the tree and dates read, when read

  bool operator==(const Reading&) const = default;
};

// Identifiers a reader made up for ideas without one differ from run to run.
std::string describe(const IdeaDocumentDataObject& object, const QByteArray& json) {
  QString out = object.dateCreated.toString(Qt::ISODate) + "|" + object.dateModified.toString(Qt::ISODate) + "|" +
                object.appInstance + "\n";
  object.idea->traverseNaturally(
      [&](const IdeaPtr& idea, qint64 depth) {
        const auto icon = idea->iconImage();
        out += QString("%1|%2|%3|%4|%5|%6|%7|%8|%9|")
                   .arg(depth)
                   .arg(json.contains(idea->identifier().toUtf8()) ? idea->identifier() : "(new)", QString::number(idea->ideaType()), idea->text(), idea->note(), idea->URL(),
                        idea->color() ? idea->color()->name() : QString(), idea->linkedIdentifier())
                   .arg(idea->colorThemeType());
        out += QString("%1|%2|%3|%4\n")
                   .arg(icon ? icon->name() + "/" + icon->symbol() : QString())
                   .arg(idea->isLink() ? 0 : idea->image().pngData().size())
                   .arg(idea->isLink() ? 0 : idea->bigImageData().size())
                   .arg(idea->text().isNull());
      },
      0);
  return out.toStdString();
}

template <class Decoder>
Reading readWith(const QByteArray& json) {
  Reading reading;
  auto decoder = Decoder::createWithData(json);
  if (!decoder) {
    reading.code = kDocumentErrorInvalidFormat;
    return reading;
  }
  reading.parsed = true;
  decoder->addAlias("idea", "Idea");
  decoder->addAlias("ideas", "Idea");
  decoder->addAlias("iconImage", "IconImage");
  auto object = std::dynamic_pointer_cast<IdeaDocumentDataObject>(decoder->decodeObject());
  if (!object || object->fileFormatVersion < 1 || !object->idea)
    reading.code = kDocumentErrorInvalidFormat;
  else if (object->fileFormatVersion >= 4)
    reading.code = kDocumentErrorNewerVersion;
  else
    reading.tree = describe(*object, json);
  return reading;
}

Reading readNew(const QByteArray& json) { return readWith<JSONDecoder>(json); }
Reading readOld(const QByteArray& json) { return readWith<legacy::LegacyJSONDecoder>(json); }

template <class Encoder>
QByteArray writeWith(const IdeaPtr& root) {
  IdeaDocumentDataObject object;
  object.fileFormatVersion = 3;
  object.idea = root;
  object.dateCreated = QDateTime(QDate(2016, 5, 3), QTime(14, 7), Qt::UTC);
  object.dateModified = QDateTime(QDate(2024, 2, 29), QTime(23, 59), Qt::UTC);
  Encoder encoder;
  encoder.encodeObject(object);
  return encoder.data();
}

// Trees with what is hardest to write: every idea type, pictures, links, emoji and right-to-
// left text, empty and very long texts, and a chain close to the nesting bound.
std::vector<IdeaPtr> hardTrees() {
  std::vector<IdeaPtr> trees;
  for (unsigned seed = 1; seed <= 3; ++seed) trees.push_back(ideatrees::randomTree({400, 0.05, 0.08, seed}));
  IdeaPtr texts = Idea::createWithText("");
  texts->addIdea(Idea::createWithText("😀 emoji 👩‍👩‍👧 and flags 🇫🇷"));
  texts->addIdea(Idea::createWithText("עברית ומספרים 123 العربية"));
  texts->addIdea(Idea::createWithText(QString(100000, QChar(u'ß'))));
  texts->addIdea(Idea::createWithText(QString("controls \x01\x1f\x7f \"q\" \\ / \u2028 \uFEFF end")));
  texts->addIdea(Idea::createWithText(QString()));
  texts->addIdea(Idea::createWithText(QStringLiteral("\uFEFF\uFEFFbegins with marks")));
  IdeaPtr url = Idea::createWithURL("https://example.org/ü?q=1&r=\"2\"", ideatrees::samplePicture(300, 200, 5));
  texts->addIdea(url);
  texts->addIdea(Idea::createWithLinkToIdea(url->identifier()));
  trees.push_back(texts);
  // Each idea is one object level; the document file adds two above the root.
  IdeaPtr deep = Idea::createWithText("level 0");
  IdeaPtr tip = deep;
  for (int level = 1; level < kMaxKeyedNestingDepth - 3; ++level) {
    IdeaPtr next = Idea::createWithText(QString("level %1").arg(level));
    tip->addIdea(next);
    tip = next;
  }
  trees.push_back(deep);
  return trees;
}

// One random change to a document's text of the kind a damaged or tampered file shows.
QByteArray mutate(QByteArray text, std::mt19937& rng) {
  static const char kSignificant[] = "{}[]\":,\\/-+.0123456789eEtfnu \t\n\r\x01\x7f\xc3\xa9\xff\xed";
  static const QByteArray significant(kSignificant, sizeof kSignificant - 1);
  const int changes = 1 + int(rng() % 3);
  for (int n = 0; n < changes && !text.isEmpty(); ++n) {
    const qsizetype at = qsizetype(rng() % size_t(text.size()));
    switch (rng() % 6) {
      case 0: text[at] = char(rng() % 256); break;
      case 1: text[at] = significant[qsizetype(rng() % size_t(significant.size()))]; break;
      case 2: text.insert(at, significant[qsizetype(rng() % size_t(significant.size()))]); break;
      case 3: text.remove(at, 1 + qsizetype(rng() % 4)); break;
      case 4: text.truncate(at); break;
      case 5: text.insert(at, text.mid(qsizetype(rng() % size_t(text.size())), 1 + qsizetype(rng() % 12))); break;
    }
  }
  return text;
}

}  // namespace

TEST(DocumentCoder, GeneratedTreesRoundTripThroughEveryPairOfWriterAndReader) {
  for (const IdeaPtr& tree : hardTrees()) {
    const QByteArray current = writeWith<JSONEncoder>(tree);
    const QByteArray earlier = writeWith<legacy::LegacyJSONEncoder>(tree);
    ASSERT_FALSE(current.isEmpty());
    const Reading expected = readOld(earlier);
    ASSERT_EQ(expected.code, 0);
    // What we write, earlier versions read; what they wrote, we read; and we read our own.
    EXPECT_EQ(readOld(current), expected);
    EXPECT_EQ(readNew(earlier), expected);
    EXPECT_EQ(readNew(current), expected);

    auto doc = IdeaDocument::createWithFileName("t.orrx", DocumentLocationDropbox);
    ASSERT_TRUE(doc->loadFromJSONData(current));
    EXPECT_EQ(ideatrees::firstDifference(*tree, *doc->idea()), QString());
  }
}

TEST(DocumentCoder, TheReaderAcceptsAndRefusesExactlyWhereTheEarlierOneDid) {
  std::vector<QByteArray> seeds;
  for (unsigned seed = 1; seed <= 4; ++seed)
    seeds.push_back(writeWith<legacy::LegacyJSONEncoder>(ideatrees::randomTree({12, 0.1, 0.2, seed})));
  // Texts only the lenient grammar reads, and near misses of each.
  const char* const edges[] = {
      "\xEF\xBB\xBF{\"ideaDocumentDataObject\":{\"fileFormatVersion\":3,\"idea\":{\"text\":\"bom\"}}}",
      "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":3.,\"idea\":{\"text\":\"a\tb\\x\\ud83d\\ude80\"}}}",
      "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":.3e1,\"idea\":{\"ideaType\":1e-320}}}",
      "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":3,\"idea\":{\"ideaType\":123456789012345678901234567890}}}",
      "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":3,\"idea\":{\"ideaType\":34444444444444444444}}}",
      "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":3,\"idea\":{\"\":[{\"\":-34444444444444444444}]}}}",
      // Below -2^63, the least integer the fast reader holds: -2^63-1, one between, -2^64, -2^64-1.
      "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":3,\"idea\":{\"ideaType\":-9223372036854775809}}}",
      "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":3,\"idea\":{\"ideaType\":-12345678901234567890}}}",
      "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":3,\"idea\":{\"\":[{\"\":-18446744073709551616}]}}}",
      "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":3,\"idea\":{\"\":[{\"\":-18446744073709551617}]}}}",
      "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":3,\"idea\":{\"ideaType\":1e309}}}",
      "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":3,\"idea\":{\"ideaType\":01}}}",
      "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":3,\"idea\":{\"text\":\"\\u12\"}}}",
      "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":3,\"idea\":{\"text\":\"\xc0\x80\"}}}",
      "{\"b\":1,\"ideaDocumentDataObject\":{\"fileFormatVersion\":3,\"idea\":{}},\"a\":{}}",
      "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":1,\"fileFormatVersion\":4,\"idea\":{}}}",
      "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":3,\"idea\":{\"ideas\":[{\"idea\":[{\"text\":\"w\"}]}]}}}",
      "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":3,\"idea\":{\"ideas\":[{\"x\":1,\"x\":2}]}}}",
      "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":3,\"idea\":{\"@class\":\"IconImage\"}}}",
      "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":\"3\",\"idea\":{\"ideaType\":true}}} \r\n",
      "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":3,\"idea\":{}}}\f",
  };
  std::vector<QByteArray> corpus;
  for (const char* edge : edges) corpus.emplace_back(edge);
  std::mt19937 rng(2024);
  for (int n = 0; n < 4000; ++n) corpus.push_back(mutate(seeds[size_t(n) % seeds.size()], rng));

  int accepted = 0, parsedOnly = 0;
  for (size_t i = 0; i < corpus.size(); ++i) {
    const Reading before = readOld(corpus[i]);
    const Reading now = readNew(corpus[i]);
    ASSERT_EQ(now.parsed, before.parsed) << i << ": " << corpus[i].toPercentEncoding("{}[]\":,").toStdString();
    ASSERT_EQ(now.code, before.code) << i << ": " << corpus[i].toPercentEncoding("{}[]\":,").toStdString();
    ASSERT_EQ(now.tree, before.tree) << i << ": " << corpus[i].toPercentEncoding("{}[]\":,").toStdString();
    accepted += before.code == 0;
    parsedOnly += before.parsed && before.code != 0;
  }
  // The one value read differently: a lone surrogate, which has no UTF-8 form, reads as U+FFFD
  // (it was a "?" as soon as the earlier reader's text was written out again).
  const QByteArray lone = "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":3,\"idea\":{\"text\":\"a\\udc00\"}}}";
  auto doc = IdeaDocument::createWithFileName("t.orrx", DocumentLocationDropbox);
  ASSERT_TRUE(doc->loadFromJSONData(lone));
  EXPECT_EQ(doc->idea()->text(), QStringView(u"a\uFFFD").toString());
  EXPECT_EQ(readOld(lone).code, 0);
  // Written, a lone surrogate is already U+FFFD, so a saved text saves again the same.
  doc->idea()->setText(QString(QChar(0xD800)) + "b");
  const QByteArray saved = doc->exportAsPureJSONData();
  auto again = IdeaDocument::createWithFileName("u.orrx", DocumentLocationDropbox);
  ASSERT_TRUE(again->loadFromJSONData(saved));
  EXPECT_EQ(again->idea()->text(), QStringView(u"\uFFFDb").toString());
  const auto tree = [](const QByteArray& json) {
    return QJsonDocument::fromJson(json).object().value("ideaDocumentDataObject").toObject().value("idea");
  };
  EXPECT_EQ(tree(again->exportAsPureJSONData()), tree(saved));

  // The corpus exercises all three outcomes.
  EXPECT_GT(accepted, 100);
  EXPECT_GT(parsedOnly, 20);
  EXPECT_GT(int(corpus.size()) - accepted - parsedOnly, 1000);
}

TEST(DocumentCoder, DataReadsAsBase64DidWhateverTheTextHolds) {
  std::mt19937 rng(7);
  const QByteArray junk = "=\n\r -_.~!*";
  for (int n = 0; n < 3000; ++n) {
    QByteArray bytes(qsizetype(rng() % 40), Qt::Uninitialized);
    for (char& b : bytes) b = char(rng());
    QByteArray text = bytes.toBase64();
    // Half of them damaged: stray characters anywhere, cut short, padding dropped.
    if (n % 2) {
      switch (rng() % 3) {
        case 0: text.insert(qsizetype(rng() % size_t(text.size() + 1)), junk[qsizetype(rng() % size_t(junk.size()))]); break;
        case 1: text.chop(qsizetype(rng() % 3)); break;
        case 2: text.replace("=", ""); break;
      }
    }
    QByteArray escaped = text;
    escaped.replace("\\", "\\\\").replace("\n", "\\n").replace("\r", "\\r");
    auto decoder = JSONDecoder::createWithData("{\"d\":\"" + escaped + "\"}");
    ASSERT_TRUE(decoder) << text.toStdString();
    EXPECT_EQ(decoder->decodeDataForKey("d"), QByteArray::fromBase64(text)) << text.toStdString();
  }
}
