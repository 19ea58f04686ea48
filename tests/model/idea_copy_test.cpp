// Copies of large random trees: what a deep copy and a snapshot keep, where their links lead,
// and that a copy and its source never change each other.

#include "idea_test_trees.h"
#include "model/idea.h"
#include "model/idea_link_targets.h"
#include "model/json_encoder.h"
#include "model/known_color_themes.h"

#include <QHash>
#include <QSet>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using namespace orrery;

namespace {

QByteArray encoded(const Idea& idea) {
  JSONEncoder encoder;
  encoder.encodeObject(idea);
  return encoder.data();
}

std::vector<IdeaPtr> allIdeas(const IdeaPtr& root) {
  std::vector<IdeaPtr> ideas;
  root->traverseNaturally([&](const IdeaPtr& idea, qint64) { ideas.push_back(idea); }, 0);
  return ideas;
}

// Changes everything an idea holds that a copy could share with its source, and adds a child.
void editEveryIdea(const IdeaPtr& root) {
  const ColorPtr violet = ColorTheme::colorByName("violet2");
  const KitImage picture = ideatrees::samplePicture(200, 200, 77);
  for (const IdeaPtr& idea : allIdeas(root)) {
    idea->setIconImage(std::make_shared<IconImage>("edited", "Symbols", "✎"));
    idea->setColorThemeType(ColorThemeTypeSameColor);
    if (idea->isLink()) continue;
    idea->setText(idea->text() + " (edited)");
    idea->setNote("edited note");
    idea->setColor(violet);
    if (idea->ideaType() == IdeaTypeURL) idea->setURL("https://example.org/edited");
    if (idea->ideaType() == IdeaTypeImage) idea->replaceWithOriginalImage(picture);
    idea->addIdea(Idea::createWithText("added"));
  }
}

// The ideas of two trees of the same shape, paired in pre-order.
QHash<const Idea*, IdeaPtr> pairUp(const IdeaPtr& source, const IdeaPtr& copy) {
  QHash<const Idea*, IdeaPtr> copyOf;
  const std::vector<IdeaPtr> a = allIdeas(source), b = allIdeas(copy);
  EXPECT_EQ(a.size(), b.size());
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) copyOf.insert(a[i].get(), b[i]);
  return copyOf;
}

const ideatrees::TreeShape kShape{3000, 0.01, 0.1, 11};

}  // namespace

TEST(IdeaCopyTest, DeepCopiesKeepContentOrderAndParentsWithFreshIdentifiersAndInnerLinks) {
  const IdeaPtr source = ideatrees::randomTree(kShape);
  const IdeaPtr copy = source->deepCopyWithNewIdentifiersNoExternalLinks();
  EXPECT_EQ(ideatrees::firstDifference(*source, *copy, /*sameIdentifiers=*/false), "");

  QSet<QString> identifiers;
  for (const IdeaPtr& idea : allIdeas(source)) identifiers.insert(idea->identifier());
  const qsizetype sourceIdentifiers = identifiers.size();
  qint64 copies = 0;
  for (const IdeaPtr& idea : allIdeas(copy)) {
    identifiers.insert(idea->identifier());
    ++copies;
    for (const IdeaPtr& child : idea->ideas()) EXPECT_EQ(child->parent(), idea);
  }
  EXPECT_EQ(identifiers.size(), sourceIdentifiers + copies) << "an identifier repeats";

  // Every link leads to the copy of the idea its source leads to (or nowhere, as its source).
  const auto copyOf = pairUp(source, copy);
  int links = 0;
  for (const IdeaPtr& idea : allIdeas(source)) {
    if (!idea->isLink()) continue;
    ++links;
    const IdeaPtr target = idea->linkedIdea();
    const IdeaPtr linkCopy = copyOf.value(idea.get());
    ASSERT_TRUE(linkCopy && linkCopy->isLink());
    EXPECT_EQ(linkCopy->linkedIdea(), target ? copyOf.value(target.get()) : nullptr) << idea->identifier().toStdString();
  }
  EXPECT_GT(links, 100);
}

TEST(IdeaCopyTest, ACopyAndItsSourceNeverChangeEachOther) {
  using Copy = std::function<IdeaPtr(const Idea&)>;
  const std::vector<std::pair<const char*, Copy>> kinds = {
      {"deep copy", [](const Idea& idea) { return idea.deepCopyWithNewIdentifiersNoExternalLinks(); }},
      {"snapshot", [](const Idea& idea) { return idea.snapshotCopy(); }},
  };
  for (const auto& [kind, copyOf] : kinds) {
    SCOPED_TRACE(kind);
    {
      const IdeaPtr source = ideatrees::randomTree(kShape);
      const QByteArray before = encoded(*source);
      editEveryIdea(copyOf(*source));
      EXPECT_EQ(encoded(*source), before) << "editing the copy changed the source";
    }
    {
      const IdeaPtr source = ideatrees::randomTree(kShape);
      const IdeaPtr copy = copyOf(*source);
      const QByteArray before = encoded(*copy);
      editEveryIdea(source);
      EXPECT_EQ(encoded(*copy), before) << "editing the source changed the copy";
    }
  }
}

TEST(IdeaCopyTest, SnapshotsAreTheSourceAsItStands) {
  const IdeaPtr source = ideatrees::randomTree(kShape);
  const IdeaPtr snapshot = source->snapshotCopy();
  EXPECT_EQ(ideatrees::firstDifference(*source, *snapshot), "");
  EXPECT_EQ(encoded(*snapshot), encoded(*source));
  for (const IdeaPtr& idea : allIdeas(snapshot))
    for (const IdeaPtr& child : idea->ideas()) EXPECT_EQ(child->parent(), idea);
}

// Identifiers whose hashes agree, or whose slots do, stay apart; probing wraps round the table.
TEST(IdeaCopyTest, LinkTargetsTellIdentifiersApartWhateverTheirHashes) {
  IdeaLinkTargets targets(3);  // eight slots
  const QString a = "id1_1", b = "id1_2", c = "id1_3", d = "id1_4";
  IdeaLinkTargets::Target& first = targets.add(7, a);
  IdeaLinkTargets::Target& second = targets.add(7, b);  // the same hash
  IdeaLinkTargets::Target& third = targets.add(15, c);  // the same slot, wrapping past the end
  EXPECT_NE(&first, &second);
  EXPECT_NE(&second, &third);
  EXPECT_EQ(&targets.add(7, QString("id1_1")), &first);  // equal text elsewhere in memory
  EXPECT_EQ(targets.find(7, b), &second);
  EXPECT_EQ(targets.find(15, c), &third);
  EXPECT_EQ(targets.find(7, d), nullptr);
  EXPECT_EQ(targets.find(15, a), nullptr);
  EXPECT_EQ(targets.find(8, a), nullptr);
  Idea* const marker = reinterpret_cast<Idea*>(&first);
  second.first = marker;
  EXPECT_EQ(targets.find(7, b)->first, marker);
  targets.forgetCopies();
  EXPECT_EQ(targets.find(7, b)->first, nullptr);
}
