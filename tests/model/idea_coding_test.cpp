#include "model/idea.h"
#include "model/json_decoder.h"
#include "model/json_encoder.h"

#include "../foundation/log_capture.h"
#include "../foundation/qt_printers.h"
#include "idea_test_trees.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace orrery;

namespace {

// Reads an idea tree the way the document reader does.
IdeaPtr decodeTree(const QByteArray& json) {
  auto decoder = JSONDecoder::createWithData(json);
  if (!decoder) return nullptr;
  decoder->addAlias<Idea>("idea");
  decoder->addAlias<Idea>("ideas");
  decoder->addAlias<IconImage>("iconImage");
  return decoder->decodeObjectOfClass<Idea>();
}

QByteArray encodeTree(const Idea& root) {
  JSONEncoder encoder;
  encoder.encodeObject(root);
  return encoder.data();
}

QJsonObject parse(const QByteArray& json) { return QJsonDocument::fromJson(json).object(); }

}  // namespace

TEST(IdeaCodingTest, GoldenJSONOfASmallTree) {
  IdeaPtr root = Idea::createWithText("Trip", "id1_1");
  root->setColor(ColorTheme::colorByName("green0"));
  root->setNote("");
  IdeaPtr child = Idea::createWithText("", "id1_2");
  child->setNote("pack light");
  child->setIconImage(std::make_shared<IconImage>("backpack", "Objects", "🎒"));
  child->setColorThemeType(ColorThemeTypeVaryingColors);
  IdeaPtr link = Idea::createWithLinkToIdea("id1_1");
  link->setIconImage(std::make_shared<IconImage>("star", "Symbols", "⭐"));
  IdeaPtr picture = Idea::createWithOriginalImage(ideatrees::samplePicture(200, 200, 7));
  root->addIdea(child);
  child->addIdea(link);
  root->addIdea(picture);

  const QByteArray json = encodeTree(*root);
  const QJsonObject top = parse(json);
  ASSERT_EQ(top.keys(), QStringList({"idea"}));
  const QJsonObject idea = top["idea"].toObject();
  const QJsonArray ideas = idea["ideas"].toArray();
  ASSERT_EQ(ideas.size(), 2);
  QJsonObject rootOnly = idea;
  rootOnly.remove("ideas");
  EXPECT_EQ(rootOnly, QJsonObject({{"identifier", "id1_1"}, {"ideaType", 1}, {"text", "Trip"},
                                   {"color", "green0"}, {"colorThemeType", 1}}));
  QJsonObject first = ideas[0].toObject();
  EXPECT_EQ(first["ideas"].toArray(),
            QJsonArray({QJsonObject({{"identifier", link->identifier()}, {"ideaType", 4}, {"linkedIdea", "id1_1"}})}));
  first.remove("ideas");
  EXPECT_EQ(first, QJsonObject({{"identifier", "id1_2"}, {"ideaType", 1}, {"text", ""}, {"note", "pack light"},
                                {"iconImage", QJsonObject({{"name", "backpack"}, {"category", "Objects"}, {"symbol", "🎒"}})},
                                {"colorThemeType", 2}}));
  const QJsonObject second = ideas[1].toObject();
  EXPECT_EQ(second["ideaType"], 2);
  EXPECT_FALSE(second.contains("text"));
  EXPECT_EQ(QByteArray::fromBase64(second["image"].toString().toLatin1()), picture->image().pngData());
  EXPECT_EQ(QByteArray::fromBase64(second["bigImageData"].toString().toLatin1()), picture->bigImageData());

  const IdeaPtr back = decodeTree(json);
  ASSERT_TRUE(back);
  EXPECT_EQ(ideatrees::firstDifference(*root, *back), "");
  EXPECT_EQ(back->ideas()[0]->ideas()[0]->text(), "Trip");
  EXPECT_EQ(back->ideas()[0]->parent(), back);
  // The link's own icon is not part of the file.
  EXPECT_EQ(back->ideas()[0]->ideas()[0]->iconImage(), nullptr);
}

TEST(IdeaCodingTest, ChildrenNeedTheirAlias) {
  IdeaPtr root = Idea::createWithText("root");
  root->addIdea(Idea::createWithText("child"));
  auto decoder = JSONDecoder::createWithData(encodeTree(*root));
  const auto bare = decoder->decodeObjectOfClass<Idea>();
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->text(), "root");
  EXPECT_TRUE(bare->ideas().empty());
}

TEST(IdeaCodingTest, LargeRandomTreesSurviveDecodeEncodeDecode) {
  for (unsigned seed : {1u, 2u, 3u}) {
    const IdeaPtr original = ideatrees::randomTree({2000, seed == 2 ? 0.05 : 0.0, 0.08, seed});
    const IdeaPtr first = decodeTree(encodeTree(*original));
    ASSERT_TRUE(first);
    EXPECT_EQ(ideatrees::firstDifference(*original, *first), "") << "seed " << seed;
    const QByteArray again = encodeTree(*first);
    const IdeaPtr second = decodeTree(again);
    ASSERT_TRUE(second);
    EXPECT_EQ(ideatrees::firstDifference(*first, *second), "") << "seed " << seed;
    EXPECT_EQ(parse(again), parse(encodeTree(*second)));
    EXPECT_EQ(second->calculateWholeTreeSize(), 2000);
  }
}

TEST(IdeaCodingTest, OldUntypedIdeasTakeTheirTypeFromTheirContent) {
  const QByteArray png = ideatrees::samplePicture(160, 160, 2).pngData().toBase64();
  const IdeaPtr root = decodeTree(R"({"idea": {"identifier": "r", "text": "old", "ideas": [
      {"identifier": "u", "ideaType": 0, "URL": "https://x", "image": ")" + png + R"("},
      {"identifier": "p", "image": ")" + png + R"("},
      {"identifier": "t", "ideaType": 0},
      {"identifier": "n", "ideaType": 0, "image": "bm90IGEgcGljdHVyZQ=="}]}})");
  ASSERT_TRUE(root);
  EXPECT_EQ(root->ideaType(), IdeaTypeText);
  ASSERT_EQ(root->ideas().size(), 4u);
  EXPECT_EQ(root->ideas()[0]->ideaType(), IdeaTypeURL);
  EXPECT_EQ(root->ideas()[1]->ideaType(), IdeaTypeImage);
  EXPECT_EQ(root->ideas()[1]->image().pixelSize(), QSizeF(160, 160));
  EXPECT_EQ(root->ideas()[2]->ideaType(), IdeaTypeText);
  EXPECT_EQ(root->ideas()[3]->ideaType(), IdeaTypeText);  // bytes that are no picture
}

TEST(IdeaCodingTest, CraftedLinkCyclesNeitherRecurseNorSurviveCleanUp) {
  const IdeaPtr root = decodeTree(R"({"idea": {"identifier": "r", "ideaType": 1, "text": "root", "ideas": [
      {"identifier": "l1", "ideaType": 4, "linkedIdea": "l2"},
      {"identifier": "l2", "ideaType": 4, "linkedIdea": "l1", "ideas": [{"identifier": "x", "ideaType": 1}]},
      {"identifier": "self", "ideaType": 4, "linkedIdea": "self"},
      {"identifier": "ok", "ideaType": 4, "linkedIdea": "r"}]}})");
  ASSERT_TRUE(root);
  ASSERT_EQ(root->ideas().size(), 4u);
  for (size_t i = 0; i < 3; ++i) {
    const IdeaPtr& link = root->ideas()[i];
    EXPECT_TRUE(link->ideas().empty());  // a link holds no children, even from a file
    EXPECT_EQ(link->linkedIdea(), nullptr);
    EXPECT_TRUE(link->text().isNull());
    EXPECT_FALSE(link->hasNote());
    EXPECT_EQ(link->colorTheme(), nullptr);
    EXPECT_EQ(link->exportTitle(), "");
    EXPECT_EQ(link->exportFileNameForType("txt"), "document.txt");
  }
  EXPECT_EQ(root->ideas()[3]->text(), "root");
  const IdeaPtr copy = root->deepCopyWithNewIdentifiersNoExternalLinks();
  EXPECT_EQ(copy->calculateWholeTreeSize(), 5);
  root->ensureLinkConsistencyInSubTree();
  ASSERT_EQ(root->ideas().size(), 1u);
  EXPECT_EQ(root->ideas()[0]->identifier(), "ok");
}

TEST(IdeaCodingTest, MembersOfTheWrongTypeAreIgnored) {
  LogCapture log;
  const IdeaPtr root = decodeTree(R"({"idea": {"identifier": 7, "ideaType": "1", "text": 5, "note": ["n"],
      "URL": {"u": 1}, "color": 3, "colorThemeType": "x", "image": 12, "bigImageData": false,
      "iconImage": "star", "ideas": "x"}})");
  ASSERT_TRUE(root);
  EXPECT_TRUE(root->identifier().startsWith("id"));  // a fresh identifier
  EXPECT_EQ(root->ideaType(), IdeaTypeText);
  EXPECT_TRUE(root->text().isNull());
  EXPECT_TRUE(root->note().isNull());
  EXPECT_TRUE(root->URL().isNull());
  EXPECT_EQ(root->color(), nullptr);
  EXPECT_TRUE(root->image().isNull());
  EXPECT_TRUE(root->bigImageData().isNull());
  EXPECT_EQ(root->iconImage(), nullptr);
  EXPECT_TRUE(root->ideas().empty());

  // Children that are not objects are skipped; unknown colour names read as no colour.
  const IdeaPtr mixed = decodeTree(R"({"idea": {"identifier": "r", "ideaType": 1, "color": "mauve",
      "ideas": [{"identifier": "a", "ideaType": 1, "text": "a"}, "text", 5, null,
                {"identifier": "b", "ideaType": 1, "iconImage": {"name": 1, "symbol": "🙂"}}]}})");
  ASSERT_TRUE(mixed);
  EXPECT_EQ(mixed->color(), nullptr);
  ASSERT_EQ(mixed->ideas().size(), 2u);
  ASSERT_TRUE(mixed->ideas()[1]->iconImage());
  EXPECT_TRUE(mixed->ideas()[1]->iconImage()->name().isNull());
  EXPECT_EQ(mixed->ideas()[1]->iconImage()->symbol(), "🙂");
}

TEST(IdeaCodingTest, DeepChainsRoundTripUpToTheNestingBound) {
  // Each level of ideas is one object in the bound; the wrapper's member is the root.
  auto chain = [](int depth) {
    IdeaPtr root = Idea::createWithText("0");
    IdeaPtr tip = root;
    for (int i = 1; i < depth; ++i) {
      IdeaPtr next = Idea::createWithText(QString::number(i));
      tip->addIdea(next);
      tip = next;
    }
    return root;
  };
  const IdeaPtr deep = chain(kMaxKeyedNestingDepth);
  const IdeaPtr back = decodeTree(encodeTree(*deep));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->calculateWholeTreeSize(), kMaxKeyedNestingDepth);
  LogCapture log;
  EXPECT_TRUE(encodeTree(*chain(kMaxKeyedNestingDepth + 1)).isNull());
}
