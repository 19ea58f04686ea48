#include "model/index_keyed_archiver.h"
#include "model/json_decoder.h"
#include "model/json_encoder.h"

#include "../foundation/log_capture.h"
#include "../foundation/qt_printers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

using namespace orrery;

namespace {

class Leaf final : public KeyedCodable {
 public:
  static constexpr char kClassName[] = "Leaf";
  QString name;
  static std::shared_ptr<Leaf> createWithCoder(KeyedDecoder& coder) {
    auto leaf = std::make_shared<Leaf>();
    leaf->name = coder.decodeStringForKey("name");
    return leaf;
  }
  QString className() const override { return QString::fromLatin1(kClassName); }
  void encodeWithCoder(KeyedEncoder& coder) const override { coder.encodeString(name, "name"); }
};

// A record with a member of every kind: "leaf" finds its class by name, "child" and "items"
// need aliases.
class SampleRecord final : public KeyedCodable {
 public:
  static constexpr char kClassName[] = "SampleRecord";
  QString title;
  int32_t count = 0;
  bool flag = false;
  QByteArray bytes;
  QDateTime date;
  QStringList tags;
  std::shared_ptr<Leaf> leaf;
  std::shared_ptr<SampleRecord> child;
  std::vector<std::shared_ptr<SampleRecord>> items;
  const KeyedCodable* rawChild = nullptr;  // lets a test build a cycle

  static std::shared_ptr<SampleRecord> createWithCoder(KeyedDecoder& coder) {
    auto r = std::make_shared<SampleRecord>();
    r->title = coder.decodeStringForKey("title");
    r->count = coder.decodeIntForKey("count");
    r->flag = coder.decodeBoolForKey("flag");
    r->bytes = coder.decodeDataForKey("bytes");
    r->date = coder.decodeDateForKey("date");
    r->tags = coder.decodeStringsForKey("tags");
    r->leaf = coder.decodeObjectOfClassForKey<Leaf>("leaf");
    r->child = coder.decodeObjectOfClassForKey<SampleRecord>("child");
    r->items = coder.decodeObjectsOfClassForKey<SampleRecord>("items");
    return r;
  }
  QString className() const override { return QString::fromLatin1(kClassName); }
  void encodeWithCoder(KeyedEncoder& coder) const override {
    coder.encodeString(title, "title");
    coder.encodeInt(count, "count");
    coder.encodeBool(flag, "flag");
    coder.encodeData(bytes, "bytes");
    coder.encodeDate(date, "date");
    coder.encodeStrings(tags, "tags");
    coder.encodeObject(leaf, "leaf");
    coder.encodeObject(rawChild ? rawChild : child.get(), "child");
    coder.encodeObjects(items, "items");
  }
};

const bool kRegistered = KeyedClassRegistry::add<SampleRecord>() && KeyedClassRegistry::add<Leaf>();

QJsonObject parse(const QByteArray& json) { return QJsonDocument::fromJson(json).object(); }

std::shared_ptr<SampleRecord> decodeSample(const QByteArray& json, bool aliases = true) {
  auto decoder = JSONDecoder::createWithData(json);
  if (!decoder) return nullptr;
  if (aliases) {
    decoder->addAlias<SampleRecord>("items");
    decoder->addAlias<SampleRecord>("child");
  }
  return decoder->decodeObjectOfClass<SampleRecord>();
}

QByteArray encodeSample(const SampleRecord& record) {
  JSONEncoder encoder;
  encoder.encodeObject(record);
  return encoder.data();
}

// {"sampleRecord": {"child": {"child": … {"title": "bottom"} …}}}, `depth` records in all.
QByteArray chainOfDepth(int depth) {
  QByteArray json = R"({"title": "bottom"})";
  for (int i = 1; i < depth; ++i) json = R"({"child": )" + json + "}";
  return R"({"sampleRecord": )" + json + "}";
}

}  // namespace

TEST(JSONCoderTest, WritesTheRootWrapperAndLeavesOutNoneValues) {
  ASSERT_TRUE(kRegistered);
  SampleRecord record;
  record.title = "";  // empty, not none: written
  record.count = -7;
  record.bytes = QByteArray("\x00\xff", 2);
  const QJsonObject root = parse(encodeSample(record));
  ASSERT_EQ(root.keys(), QStringList({"sampleRecord"}));
  const QJsonObject body = root["sampleRecord"].toObject();
  EXPECT_EQ(body, QJsonObject({{"title", ""}, {"count", -7}, {"flag", false}, {"bytes", "AP8="}}));

  JSONEncoder top;
  top.encodeTopObject(record);
  EXPECT_EQ(parse(top.data()), body);
  EXPECT_TRUE(JSONEncoder().data().isNull());
  EXPECT_FALSE(encodeSample(record).contains(' '));  // compact
}

TEST(JSONCoderTest, DatesAreWrittenInGMTWithoutSeconds) {
  SampleRecord record;
  record.date = QDateTime(QDate(2016, 5, 3), QTime(14, 7, 59), Qt::UTC);
  const QByteArray json = encodeSample(record);
  EXPECT_EQ(parse(json)["sampleRecord"].toObject()["date"].toString(), "2016-05-03 14:07:00 GMT");
  EXPECT_EQ(decodeSample(json)->date, QDateTime(QDate(2016, 5, 3), QTime(14, 7), Qt::UTC));

  record.date = QDateTime(QDate(2016, 5, 3), QTime(0, 30), QTimeZone(2 * 3600));
  EXPECT_EQ(parse(encodeSample(record))["sampleRecord"].toObject()["date"].toString(), "2016-05-02 22:30:00 GMT");

  for (const char* text : {"2016-05-03 14:07:12 GMT", "03.05.2016 14:07", "2016-13-03 14:07:00 GMT", ""})
    EXPECT_FALSE(decodeSample(QByteArray(R"({"sampleRecord": {"date": ")") + text + "\"}}")->date.isValid()) << text;
  EXPECT_EQ(decodeSample(R"({"sampleRecord": {"date": "2016-05-03 14:07:00 GMT+02:00"}})")->date,
            QDateTime(QDate(2016, 5, 3), QTime(12, 7), Qt::UTC));
}

TEST(JSONCoderTest, DataIsBase64AndReadsPastLineBreaks) {
  EXPECT_EQ(decodeSample(R"({"sampleRecord": {"bytes": "SGVs\nbG8g\r\nd29y bGQ="}})")->bytes, QByteArray("Hello world"));
  EXPECT_EQ(decodeSample(R"({"sampleRecord": {"bytes": "AP8="}})")->bytes, QByteArray("\x00\xff", 2));
}

TEST(JSONCoderTest, NestedObjectsFindTheirClassByNameOrAlias) {
  SampleRecord record;
  record.leaf = std::make_shared<Leaf>();
  record.leaf->name = "green";
  record.child = std::make_shared<SampleRecord>();
  record.child->title = "inner";
  for (const char* title : {"one", "two"}) {
    auto item = std::make_shared<SampleRecord>();
    item->title = title;
    item->tags = {"x", "y"};
    record.items.push_back(item);
  }
  record.items.push_back(nullptr);
  const QByteArray json = encodeSample(record);
  const QJsonObject body = parse(json)["sampleRecord"].toObject();
  // Nested objects carry no class name; lists drop missing elements.
  EXPECT_EQ(body["leaf"].toObject(), QJsonObject({{"name", "green"}}));
  EXPECT_EQ(body["child"].toObject(), QJsonObject({{"title", "inner"}, {"count", 0}, {"flag", false}}));
  EXPECT_EQ(body["items"].toArray().size(), 2);

  const auto back = decodeSample(json);
  ASSERT_TRUE(back && back->leaf && back->child);
  EXPECT_EQ(back->leaf->name, "green");
  EXPECT_EQ(back->child->title, "inner");
  ASSERT_EQ(back->items.size(), 2u);
  EXPECT_EQ(back->items[1]->title, "two");
  EXPECT_EQ(back->items[1]->tags, QStringList({"x", "y"}));

  // Without aliases only "leaf" is found; "@class" names a class wherever it appears.
  const auto bare = decodeSample(json, false);
  EXPECT_TRUE(bare->leaf && !bare->child && bare->items.empty());
  const auto named = decodeSample(R"({"sampleRecord": {"child": {"@class": "Leaf", "name": "n"},
                                       "items": [{"@class": "sampleRecord", "title": "t"}]}})",
                                  false);
  EXPECT_FALSE(named->child);  // a Leaf, not a SampleRecord
  ASSERT_EQ(named->items.size(), 1u);
  EXPECT_EQ(named->items[0]->title, "t");
}

TEST(JSONCoderTest, ArraysInTheWrappedFormAndOfPrimitives) {
  // One object whose only member holds the elements.
  const auto wrapped = decodeSample(R"({"sampleRecord": {"items": [{"sampleRecord": [{"title": "a"}, {"title": "b"}]}]}})");
  ASSERT_EQ(wrapped->items.size(), 2u);
  EXPECT_EQ(wrapped->items[0]->title, "a");
  const auto single = decodeSample(R"({"sampleRecord": {"items": [{"x": {"title": "only"}}]}})");
  ASSERT_EQ(single->items.size(), 1u);
  EXPECT_EQ(single->items[0]->title, "only");
  EXPECT_TRUE(decodeSample(R"({"sampleRecord": {"items": [{}]}})")->items.empty());
  // Strings are kept, other primitives and nulls dropped.
  EXPECT_EQ(decodeSample(R"({"sampleRecord": {"tags": ["a", 1, null, "b", {"c": 1}]}})")->tags, QStringList({"a", "b"}));
  EXPECT_TRUE(decodeSample(R"({"sampleRecord": {"items": ["a", 1]}})")->items.empty());
}

TEST(JSONCoderTest, MembersOfTheWrongKindReadAsAbsent) {
  const auto r = decodeSample(R"({"sampleRecord": {"title": 5, "count": "12", "flag": "yes", "bytes": 7,
                                  "date": 20160503, "tags": "x", "leaf": "green", "child": [1, 2],
                                  "items": {"title": "not a list"}}})");
  ASSERT_TRUE(r);
  EXPECT_TRUE(r->title.isNull());
  EXPECT_EQ(r->count, 12);  // a numeric string is a number
  EXPECT_TRUE(r->flag);
  EXPECT_TRUE(r->bytes.isNull());
  EXPECT_FALSE(r->date.isValid());
  EXPECT_TRUE(r->tags.isEmpty());
  EXPECT_FALSE(r->leaf || r->child);
  EXPECT_TRUE(r->items.empty());

  const auto odd = decodeSample(R"({"sampleRecord": {"count": 1e12, "flag": 0, "title": null, "child": null}})");
  EXPECT_EQ(odd->count, 0);
  EXPECT_FALSE(odd->flag);
  EXPECT_TRUE(odd->title.isNull());
  EXPECT_FALSE(odd->child);
  EXPECT_EQ(decodeSample(R"({"sampleRecord": {"count": true, "flag": 2}})")->count, 1);
  EXPECT_EQ(decodeSample(R"({"sampleRecord": {"count": -2147483648}})")->count, INT32_MIN);

  auto decoder = JSONDecoder::createWithData(R"({"title": null, "count": 3})");
  ASSERT_TRUE(decoder);
  EXPECT_TRUE(decoder->containsValueForKey("title"));
  EXPECT_FALSE(decoder->containsValueForKey("other"));
  EXPECT_EQ(decoder->decodeIntForKey("count"), 3);  // a top object reads straight away
}

TEST(JSONCoderTest, UnreadableTextAndRootsWithoutObjectGiveNothing) {
  LogCapture log;
  EXPECT_EQ(JSONDecoder::createWithData("{\"sampleRecord\": "), nullptr);
  EXPECT_EQ(JSONDecoder::createWithData("[1, 2]"), nullptr);
  ASSERT_EQ(log.lines().size(), 2);
  EXPECT_TRUE(log.lines()[0].startsWith("NSJSONSerialization: Error "));
  EXPECT_EQ(decodeSample("{}"), nullptr);
  EXPECT_EQ(decodeSample(R"({"sampleRecord": "text"})"), nullptr);
  EXPECT_EQ(decodeSample(R"({"unknownThing": {"title": "x"}})"), nullptr);
}

// Both writers share the guard: a cycle (directly or through a list) and one level beyond the
// bound write nothing at all, and say why.
TEST(JSONCoderTest, BothWritersRefuseCyclesAndGraphsNestedTooDeep) {
  SampleRecord loop;
  loop.title = "loop";
  loop.rawChild = &loop;
  auto outer = std::make_shared<SampleRecord>();
  auto inner = std::make_shared<SampleRecord>();
  inner->rawChild = outer.get();
  outer->items.push_back(inner);
  auto deepest = std::make_shared<SampleRecord>();
  for (int depth = 1; depth < kMaxKeyedNestingDepth; ++depth) {
    auto above = std::make_shared<SampleRecord>();
    above->child = deepest;
    deepest = above;
  }
  auto deeper = std::make_shared<SampleRecord>();
  deeper->child = deepest;

  const std::vector<std::pair<const char*, std::function<QByteArray(const KeyedCodable&)>>> writers = {
      {"JSONEncoder",
       [](const KeyedCodable& root) {
         JSONEncoder encoder;
         encoder.encodeObject(root);
         return encoder.data();
       }},
      {"KeyedArchiver",
       [](const KeyedCodable& root) {
         KeyedArchiver archiver;
         archiver.encodeRootObject(root);
         return archiver.encodedData();
       }},
  };
  for (const auto& [name, write] : writers) {
    SCOPED_TRACE(name);
    LogCapture log;
    EXPECT_TRUE(write(loop).isNull());
    EXPECT_TRUE(write(*outer).isNull());
    EXPECT_FALSE(write(*deepest).isNull()) << "the deepest graph allowed";
    EXPECT_TRUE(write(*deeper).isNull());
    ASSERT_EQ(log.lines().size(), 3);
    EXPECT_TRUE(log.lines()[0].startsWith("Circular Reference Not Allowed: Found circular reference for SampleRecord"));
    EXPECT_TRUE(log.lines()[2].startsWith(QLatin1String(name) + ": objects nested deeper than"));
  }
}

TEST(JSONCoderTest, NestingIsBoundedBothWays) {
  // The deepest chain allowed reads back whole.
  const auto deepest = decodeSample(chainOfDepth(kMaxKeyedNestingDepth));
  ASSERT_TRUE(deepest);
  int depth = 1;
  std::shared_ptr<SampleRecord> r = deepest;
  while (r->child) r = r->child, ++depth;
  EXPECT_EQ(depth, kMaxKeyedNestingDepth);
  EXPECT_EQ(r->title, "bottom");

  // One level more is refused whole.
  LogCapture log;
  EXPECT_EQ(decodeSample(chainOfDepth(kMaxKeyedNestingDepth + 1)), nullptr);
  EXPECT_EQ(log.lines().size(), 1);
}
