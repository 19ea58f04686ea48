#include "model/idea.h"

#include "../foundation/log_capture.h"
#include "../foundation/qt_printers.h"
#include "idea_test_trees.h"
#include "model/known_color_themes.h"

#include <QDateTime>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace orrery;

namespace {

ColorPtr named(const char* name) { return ColorTheme::colorByName(QString::fromLatin1(name)); }

IdeaPtr textIdea(const QString& text, const QString& identifier) { return Idea::createWithText(text, identifier); }

// root ─ a ─ a1
//      │   └ a2
//      └ b ─ b1
struct SmallTree {
  IdeaPtr root = textIdea("root", "r");
  IdeaPtr a = textIdea("a", "a");
  IdeaPtr a1 = textIdea("a1", "a1");
  IdeaPtr a2 = textIdea("a2", "a2");
  IdeaPtr b = textIdea("b", "b");
  IdeaPtr b1 = textIdea("b1", "b1");
  SmallTree() {
    root->addIdea(a);
    root->addIdea(b);
    a->addIdea(a1);
    a->addIdea(a2);
    b->addIdea(b1);
  }
};

QStringList childTexts(const IdeaPtr& idea) {
  QStringList texts;
  for (const auto& child : idea->ideas()) texts << child->text();
  return texts;
}

}  // namespace

TEST(IdeaTest, IdentifiersCarryTheTimeAndACounter) {
  const QString first = Idea::createIdentifier();
  const QString second = Idea::createIdentifier();
  static const QRegularExpression form(QStringLiteral("^id(\\d+)_(\\d+)$"));
  const auto m1 = form.match(first), m2 = form.match(second);
  ASSERT_TRUE(m1.hasMatch()) << first.toStdString();
  ASSERT_TRUE(m2.hasMatch());
  EXPECT_EQ(m2.captured(2).toLongLong(), m1.captured(2).toLongLong() + 1);
  EXPECT_NEAR(m1.captured(1).toDouble(), QDateTime::currentSecsSinceEpoch(), 2);
  EXPECT_NE(Idea::createWithText("x")->identifier(), Idea::createWithText("x")->identifier());
}

TEST(IdeaTest, NotesAreNeverEmptyAndQueriesFollowTheType) {
  IdeaPtr idea = Idea::createWithText("words");
  idea->setNote("");
  EXPECT_TRUE(idea->note().isNull());
  EXPECT_FALSE(idea->hasNote());
  idea->setNote("a note");
  idea->setColor(named("blue2"));
  idea->setIconImage(std::make_shared<IconImage>("star", "Symbols", "⭐"));
  EXPECT_TRUE(idea->hasNote() && idea->hasText() && idea->hasColor() && idea->hasIcon());
  EXPECT_FALSE(idea->hasURL());
  EXPECT_EQ(idea->colorThemeType(), ColorThemeTypeLighterColor);

  IdeaPtr web = Idea::createWithURL("https://example.org", ideatrees::samplePicture(50, 50, 3));
  EXPECT_TRUE(web->hasURL());
  EXPECT_FALSE(web->hasText());
  web->setNote("n");
  EXPECT_FALSE(web->hasNote());
  EXPECT_EQ(Idea::stringFromIdeaType(IdeaTypeURL), "IdeaTypeURL");
  EXPECT_EQ(Idea::stringFromIdeaType(IdeaType(9)), "WRONG_IDEA_TYPE");
}

TEST(IdeaTest, LinksAnswerForTheirTargetAndKeepOnlyIconAndThemeType) {
  SmallTree t;
  t.a1->setNote("note");
  t.a1->setColor(named("red2"));
  t.a1->setURL("https://a1");
  IdeaPtr link = Idea::createWithLinkToIdea("a1");
  t.b->addIdea(link);
  ASSERT_EQ(link->linkedIdea(), t.a1);
  EXPECT_EQ(link->text(), "a1");
  EXPECT_EQ(link->note(), "note");
  EXPECT_EQ(link->color(), named("red2"));
  EXPECT_TRUE(link->hasText() && link->hasNote() && link->hasColor());
  EXPECT_EQ(link->exportTitle(), "a1");

  link->setText("changed");
  link->setNote("changed");
  link->setColor(named("green0"));
  EXPECT_EQ(link->text(), "a1");
  EXPECT_EQ(t.a1->text(), "a1");
  EXPECT_EQ(link->color(), named("red2"));
  const auto star = std::make_shared<IconImage>("star", "Symbols", "⭐");
  link->setIconImage(star);
  EXPECT_EQ(link->iconImage(), nullptr);  // the target has none
  t.a1->setIconImage(std::make_shared<IconImage>("sun", "Nature", "☀️"));
  EXPECT_EQ(link->iconImage()->name(), "sun");
  link->setColorThemeType(ColorThemeTypeVaryingColors);
  EXPECT_EQ(link->colorThemeType(), ColorThemeTypeVaryingColors);

  // A link holds no children; inserting is silent, appending is a soft assertion.
  LogCapture log;
  link->insertIdea(textIdea("x", "x"), 0);
  EXPECT_TRUE(log.lines().isEmpty());
  link->addIdea(textIdea("y", "y"));
  EXPECT_TRUE(link->ideas().empty());
  ASSERT_EQ(log.lines().size(), 1);
  EXPECT_EQ(log.lines()[0], "ERROR: Assertion failure, line: 403 -[Idea addIdea:]");
}

TEST(IdeaTest, DanglingLinksAnswerNothing) {
  SmallTree t;
  IdeaPtr link = Idea::createWithLinkToIdea("nowhere");
  t.a->addIdea(link);
  EXPECT_EQ(link->linkedIdea(), nullptr);
  EXPECT_TRUE(link->text().isNull());
  EXPECT_FALSE(link->hasText());
  EXPECT_EQ(link->exportTitle(), "");
  EXPECT_FALSE(link->exportTitle().isNull());
  EXPECT_EQ(link->colorTheme(), nullptr);
  EXPECT_EQ(link->calculateWholeTreeSize(), 1);
  EXPECT_EQ(t.root->calculateWholeTreeSize(), 7);
}

TEST(IdeaTest, ALinkToALinkIsDanglingAndGoesWithTheCleanUp) {
  SmallTree t;
  IdeaPtr first = Idea::createWithLinkToIdea("b1");
  IdeaPtr second = Idea::createWithLinkToIdea(first->identifier());
  t.a->addIdea(first);
  t.a->addIdea(second);
  EXPECT_EQ(first->text(), "b1");
  EXPECT_EQ(second->linkedIdea(), nullptr);
  EXPECT_TRUE(second->text().isNull());
  EXPECT_EQ(second->exportTitle(), "");
  t.root->ensureLinkConsistencyInSubTree();
  EXPECT_EQ(childTexts(t.a), QStringList({"a1", "a2", "b1"}));
  EXPECT_EQ(second->parent(), nullptr);
}

TEST(IdeaTest, LinksFollowMovedTargetsAndLoseVanishedOnes) {
  SmallTree t;
  IdeaPtr link = Idea::createWithLinkToIdea("a2");
  t.b->addIdea(link);
  ASSERT_EQ(link->linkedIdea(), t.a2);

  // A move (detach, then add elsewhere) keeps the link.
  t.a->detachIdea("a2");
  t.b1->addIdea(t.a2);
  EXPECT_EQ(link->linkedIdea(), t.a2);
  EXPECT_EQ(link->text(), "a2");

  // Detached and kept elsewhere: the link stays but no longer resolves.
  t.b1->detachIdea("a2");
  EXPECT_EQ(link->parent(), t.b);
  EXPECT_EQ(link->linkedIdea(), nullptr);
  EXPECT_TRUE(link->text().isNull());

  // Put back and removed: the removal takes the links to it along.
  t.a->addIdea(t.a2);
  EXPECT_EQ(link->linkedIdea(), t.a2);
  EXPECT_TRUE(t.a->removeIdea("a2"));
  EXPECT_EQ(t.b->ideas().size(), 1u);
  EXPECT_EQ(link->parent(), nullptr);
  EXPECT_FALSE(t.a->removeIdea("a2"));
}

TEST(IdeaTest, RemovingASubtreeRemovesLinksIntoIt) {
  SmallTree t;
  IdeaPtr intoA1 = Idea::createWithLinkToIdea("a1");
  IdeaPtr intoB = Idea::createWithLinkToIdea("b");
  t.b1->addIdea(intoA1);
  t.a2->addIdea(intoB);
  t.root->removeIdea(t.a, false);
  EXPECT_EQ(t.a->parent(), nullptr);
  EXPECT_EQ(t.b1->ideas().size(), 1u);  // links stay without the flag
  t.root->addIdea(t.a);
  t.root->removeIdea(t.a, true);
  EXPECT_TRUE(t.b1->ideas().empty());
  EXPECT_EQ(t.a2->ideas().size(), 1u);  // the removed subtree is not cleaned
  // Not a child, or a link as receiver: nothing happens.
  t.b->removeIdea(t.a1, true);
  EXPECT_EQ(t.a1->parent(), t.a);
}

TEST(IdeaTest, DetachLogsAMissingChildAndInsertClampsAndRefusesCycles) {
  SmallTree t;
  LogCapture log;
  t.root->detachIdea("zzz");
  ASSERT_EQ(log.lines().size(), 1);
  EXPECT_EQ(log.lines()[0], "ERROR: Assertion failure, line: 460 -[Idea detachIdea:]");

  t.root->insertIdea(textIdea("first", "f"), -3);
  t.root->insertIdea(textIdea("last", "l"), 99);
  t.root->insertIdea(textIdea("mid", "m"), 2);
  EXPECT_EQ(childTexts(t.root), QStringList({"first", "a", "mid", "b", "last"}));
  EXPECT_EQ(t.root->indexOfIdeaWithIdentifier("m"), 2);
  EXPECT_EQ(t.root->indexOfIdeaWithIdentifier("a1"), Idea::kNotFound);

  // An ancestor inserted below its descendant would make the tree endless.
  t.a1->addIdea(t.root);
  t.a1->addIdea(t.a1);
  EXPECT_TRUE(t.a1->ideas().empty());
  EXPECT_EQ(t.root->parent(), nullptr);
  EXPECT_EQ(log.lines().size(), 3);
}

TEST(IdeaTest, LookupsAndTraversal) {
  SmallTree t;
  EXPECT_EQ(t.root->findIdeaInSubTreeWithIdentifier("b1"), t.b1);
  EXPECT_EQ(t.a->findIdeaInSubTreeWithIdentifier("b1"), nullptr);
  EXPECT_EQ(t.a->findIdeaInSubTreeWithIdentifier("a"), t.a);
  EXPECT_TRUE(t.a2->couldMyChildBeDescendantOfIdeaWithIdentifier("r"));
  EXPECT_TRUE(t.a2->couldMyChildBeDescendantOfIdeaWithIdentifier("a2"));
  EXPECT_FALSE(t.a2->couldMyChildBeDescendantOfIdeaWithIdentifier("b"));
  EXPECT_EQ(t.b1->root(), t.root);
  EXPECT_EQ(t.a->calculateWholeTreeSize(), 3);

  QStringList visits;
  t.root->traverseNaturally(
      [&](const IdeaPtr& idea, qint64 depth) {
        visits << idea->text() + ":" + QString::number(depth);
        // Changing the list being visited is safe: the copy is taken after the visit.
        if (idea == t.a) idea->detachIdea("a2");
      },
      0);
  EXPECT_EQ(visits, QStringList({"root:0", "a:1", "a1:2", "b:1", "b1:2"}));
}

TEST(IdeaTest, ChildColouringFollowsTheThemeType) {
  IdeaPtr parent = Idea::createWithText("p");
  for (int i = 0; i < 8; ++i) parent->addIdea(Idea::createWithText(QString::number(i)));
  IdeaPtr link = Idea::createWithLinkToIdea(parent->identifier());
  parent->addIdea(link);

  parent->setColor(named("blue3"));
  parent->setColorThemeType(ColorThemeTypeVaryingColors);
  parent->applyColorTheme();
  const auto& blues = parent->colorTheme()->colors();
  ASSERT_EQ(blues.size(), 7u);
  EXPECT_EQ(parent->colorTheme()->name(), "blues");
  for (int i = 0; i < 8; ++i) EXPECT_EQ(parent->ideas()[size_t(i)]->color(), blues[size_t(i % 7)]);

  parent->setColorThemeType(ColorThemeTypeSameColor);
  EXPECT_TRUE(parent->colorTheme()->name().isNull());
  parent->applyColorTheme();
  for (int i = 0; i < 8; ++i) EXPECT_EQ(parent->ideas()[size_t(i)]->color(), named("blue3"));

  parent->setColor(nullptr);
  EXPECT_EQ(parent->colorTheme(), nullptr);
  parent->applyColorTheme();
  for (int i = 0; i < 8; ++i) EXPECT_EQ(parent->ideas()[size_t(i)]->color(), nullptr);

  // A colour outside any theme colours no children.
  parent->setColor(std::make_shared<Color>("custom", QColor(10, 20, 30)));
  parent->setColorThemeType(ColorThemeTypeVaryingColors);
  parent->ideas()[0]->setColor(named("red1"));
  parent->applyColorTheme();
  EXPECT_EQ(parent->ideas()[0]->color(), nullptr);
}

TEST(IdeaTest, RestrictedCopiesKeepWholeLevels) {
  IdeaPtr root = Idea::createWithText("root");
  std::vector<IdeaPtr> level = {root};
  for (int count : {5, 30, 100}) {
    std::vector<IdeaPtr> next;
    for (int i = 0; i < count; ++i) {
      IdeaPtr idea = Idea::createWithText(QString::number(i));
      level[size_t(i) % level.size()]->addIdea(idea);
      next.push_back(idea);
    }
    level = next;
  }
  EXPECT_EQ(root->calculateWholeTreeSize(), 136);
  EXPECT_EQ(root->ideaByRestrictingDepth(0)->calculateWholeTreeSize(), 1);
  EXPECT_EQ(root->ideaByRestrictingDepth(1)->calculateWholeTreeSize(), 1);
  EXPECT_EQ(root->ideaByRestrictingDepth(2)->calculateWholeTreeSize(), 6);
  const IdeaPtr preview = root->ideaByRestrictingElements(75);
  EXPECT_EQ(preview->calculateWholeTreeSize(), 36);
  EXPECT_NE(preview->identifier(), root->identifier());
  EXPECT_EQ(root->ideaByRestrictingElements(1)->calculateWholeTreeSize(), 1);
  EXPECT_EQ(root->ideaByRestrictingElements(1000)->calculateWholeTreeSize(), 136);
  EXPECT_EQ(root->calculateWholeTreeSize(), 136);  // the source is untouched

  // Every copied idea has a fresh identifier of the usual form and knows its parent; a link to
  // an idea below the kept levels holds its target's content.
  root->addIdea(Idea::createWithLinkToIdea(level.front()->identifier()));
  level.front()->setNote("deep note");
  const IdeaPtr shallow = root->ideaByRestrictingDepth(2);
  static const QRegularExpression form(QStringLiteral("^id\\d+_\\d+$"));
  QSet<QString> identifiers;
  shallow->traverseNaturally(
      [&](const IdeaPtr& idea, qint64) {
        EXPECT_TRUE(form.match(idea->identifier()).hasMatch()) << idea->identifier().toStdString();
        identifiers.insert(idea->identifier());
        for (const IdeaPtr& child : idea->ideas()) EXPECT_EQ(child->parent(), idea);
      },
      0);
  EXPECT_EQ(identifiers.size(), 7);
  EXPECT_FALSE(shallow->ideas().back()->isLink());
  EXPECT_EQ(shallow->ideas().back()->note(), "deep note");
  const IdeaPtr full = root->deepCopyWithNewIdentifiersNoExternalLinks();
  const IdeaPtr linkCopy = full->ideas().back();
  EXPECT_TRUE(linkCopy->isLink());
  EXPECT_EQ(linkCopy->note(), "deep note");
}

TEST(IdeaTest, DeepCopiesRepointInnerLinksAndResolveOuterOnes) {
  SmallTree t;
  t.b1->setColor(named("violet2"));
  t.b1->setNote("outside note");
  t.b1->replaceWithOriginalImage(ideatrees::samplePicture(300, 200, 5));
  IdeaPtr inner = Idea::createWithLinkToIdea("a2");
  IdeaPtr outer = Idea::createWithLinkToIdea("b1");
  IdeaPtr lost = Idea::createWithLinkToIdea("gone");
  t.a1->addIdea(inner);
  t.a1->addIdea(outer);
  t.a1->addIdea(lost);

  const IdeaPtr copy = t.a->deepCopyWithNewIdentifiersNoExternalLinks();
  EXPECT_EQ(childTexts(copy), QStringList({"a1", "a2"}));
  QSet<QString> identifiers;
  copy->traverseNaturally([&](const IdeaPtr& idea, qint64) { identifiers.insert(idea->identifier()); }, 0);
  for (const char* old : {"a", "a1", "a2"}) EXPECT_FALSE(identifiers.contains(old));
  EXPECT_EQ(identifiers.size(), 6);

  const IdeaPtr copyA1 = copy->ideas()[0];
  const IdeaPtr copyA2 = copy->ideas()[1];
  const IdeaPtr innerCopy = copyA1->ideas()[0];
  ASSERT_TRUE(innerCopy->isLink());
  EXPECT_EQ(innerCopy->linkedIdentifier(), copyA2->identifier());
  EXPECT_EQ(innerCopy->linkedIdea(), copyA2);

  const IdeaPtr outerCopy = copyA1->ideas()[1];
  EXPECT_FALSE(outerCopy->isLink());
  EXPECT_EQ(outerCopy->text(), "b1");
  EXPECT_EQ(outerCopy->note(), "outside note");
  EXPECT_EQ(outerCopy->color(), named("violet2"));
  EXPECT_EQ(outerCopy->image().cgImage(), t.b1->image().cgImage());
  EXPECT_FALSE(outerCopy->bigImageData().isEmpty());
  EXPECT_EQ(outerCopy->bigImageData(), t.b1->bigImageData());

  const IdeaPtr lostCopy = copyA1->ideas()[2];
  EXPECT_EQ(lostCopy->ideaType(), IdeaTypeUndefined);
  EXPECT_TRUE(lostCopy->text().isNull());

  // With the flag the outer link survives as a link to the same target.
  const IdeaPtr kept = t.a->deepCopyWithNewIdentifiersPreservingExternalLinks(true);
  const IdeaPtr keptOuter = kept->ideas()[0]->ideas()[1];
  EXPECT_TRUE(keptOuter->isLink());
  EXPECT_EQ(keptOuter->linkedIdentifier(), "b1");
  EXPECT_EQ(kept->ideas()[0]->ideas()[0]->linkedIdentifier(), kept->ideas()[1]->identifier());

  // Copies own their big-picture bytes; the source's tree is unchanged.
  EXPECT_EQ(t.a1->ideas()[1], outer);
  EXPECT_TRUE(outer->isLink());
}

TEST(IdeaTest, ExportTitlesAndFileNames) {
  SmallTree t;
  EXPECT_EQ(Idea::createWithText("   \t ")->exportFileNameForType("pdf"), "document.pdf");
  EXPECT_EQ(Idea::createWithText("")->exportFileNameForType("pdf"), "document.pdf");
  EXPECT_EQ(Idea::createWithText("My plan: 2024/25")->exportFileNameForType("png"), "Myplan2024.png");
  const QString forty(40, QLatin1Char('w'));
  EXPECT_EQ(Idea::createWithText(forty)->exportFileNameForType(QString()), forty.left(30));
  EXPECT_EQ(Idea::createWithText("")->exportFileNameForType(QString()), "document");
  IdeaPtr link = Idea::createWithLinkToIdea("b1");
  t.a->addIdea(link);
  EXPECT_EQ(link->exportFileNameForType("txt"), "b1.txt");

  EXPECT_EQ(Idea::createWithOriginalImage(ideatrees::samplePicture(10, 10, 1))->exportTitle(), "(image)");
  EXPECT_EQ(Idea::createWithURL("https://x.org", ideatrees::samplePicture(10, 10, 1))->exportTitle(), "https://x.org");
  EXPECT_EQ(Idea::createWithText(QString())->exportTitle(), "");
}

TEST(IdeaTest, Descriptions) {
  SmallTree t;
  EXPECT_TRUE(t.a->description().startsWith("<Idea text=[a] identifier=[a] 0x"));
  IdeaPtr link = Idea::createWithLinkToIdea("a");
  EXPECT_EQ(link->description(), "<Idea type=[IdeaTypeLink] identifier=[" + link->identifier() + "]>");
  t.b->addIdea(link);
  EXPECT_EQ(t.root->debugDescription(),
            "<Idea identifier=[r] text: [root] i=r \n  text: [a] i=a \n    text: [a1] i=a1 \n"
            "    text: [a2] i=a2 \n  text: [b] i=b \n    text: [b1] i=b1 \n    IdeaTypeLink i=" +
                link->identifier() + " \n>");
  EXPECT_TRUE(t.a->debugDescription().startsWith("<Idea text: [a] i=a \n"));
}

TEST(IdeaTest, PicturesAreScaledCroppedAndDesaturated) {
  // A wide red picture with a blue stripe at its far left, outside the centred square.
  QImage source(400, 200, QImage::Format_ARGB32_Premultiplied);
  source.fill(QColor(255, 0, 0));
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 50; ++x) source.setPixel(x, y, qRgb(0, 0, 255));
  IdeaPtr idea = Idea::createWithOriginalImage(KitImage(source));
  EXPECT_EQ(idea->ideaType(), IdeaTypeImage);
  EXPECT_EQ(idea->image().pixelSize(), QSizeF(160, 160));
  const QRgb p = idea->image().cgImage().pixel(2, 80);
  EXPECT_NEAR(qRed(p), 195, 2);
  EXPECT_NEAR(qGreen(p), 16, 2);
  EXPECT_NEAR(qBlue(p), 16, 2);
  const KitImage big = idea->bigImage();
  EXPECT_EQ(big.pixelSize(), QSizeF(512, 256));
  EXPECT_GT(qRed(big.cgImage().pixel(300, 100)), 200);  // not desaturated
  EXPECT_GT(qBlue(big.cgImage().pixel(10, 100)), 200);

  // Tall pictures crop the middle too; web links keep no big picture.
  IdeaPtr tall = Idea::createWithOriginalImage(ideatrees::samplePicture(90, 700, 4));
  EXPECT_EQ(tall->image().pixelSize(), QSizeF(160, 160));
  EXPECT_EQ(tall->bigImage().pixelSize(), QSizeF(512, 3982));
  IdeaPtr web = Idea::createWithURL("https://example.org", ideatrees::samplePicture(120, 80, 2));
  EXPECT_EQ(web->image().pixelSize(), QSizeF(160, 160));
  EXPECT_TRUE(web->bigImageData().isNull());
  EXPECT_TRUE(web->bigImage().isNull());
}

TEST(IdeaTest, EmptyPicturesMeanNoPicture) {
  LogCapture log;
  for (const KitImage& empty : {KitImage(), KitImage(QImage(0, 0, QImage::Format_ARGB32)),
                                KitImage(QImage(0, 10, QImage::Format_ARGB32))}) {
    IdeaPtr idea = Idea::createWithOriginalImage(empty);
    EXPECT_TRUE(idea->image().isNull());
    EXPECT_TRUE(idea->bigImageData().isNull());
  }
  IdeaPtr idea = Idea::createWithOriginalImage(ideatrees::samplePicture(20, 20, 1));
  ASSERT_FALSE(idea->image().isNull());
  idea->replaceWithOriginalImage(KitImage());
  EXPECT_TRUE(idea->image().isNull());
  EXPECT_TRUE(idea->bigImageData().isNull());
  // A one-pixel-wide strip still gives a small picture; its big picture would be too tall.
  IdeaPtr strip = Idea::createWithOriginalImage(ideatrees::samplePicture(1, 200000, 1));
  EXPECT_EQ(strip->image().pixelSize(), QSizeF(160, 160));
  EXPECT_TRUE(strip->bigImageData().isNull());
}

// Where an identifier repeats inside the copied tree, a link to it points at the copy of the
// first idea that has it in pre-order, as resolving the link in the source does; links
// before and after their target both follow it.
TEST(IdeaTest, DeepCopiesPointLinksAtTheFirstIdeaOfARepeatedIdentifier) {
  SmallTree t;
  IdeaPtr early = Idea::createWithLinkToIdea("twin");
  t.a1->addIdea(early);
  t.a2->addIdea(textIdea("first twin", "twin"));
  t.b->addIdea(textIdea("second twin", "twin"));
  IdeaPtr late = Idea::createWithLinkToIdea("twin");
  t.b1->addIdea(late);
  ASSERT_EQ(early->linkedIdea()->text(), "first twin");

  const IdeaPtr copy = t.root->deepCopyWithNewIdentifiersNoExternalLinks();
  const IdeaPtr firstTwin = copy->ideas()[0]->ideas()[1]->ideas()[0];
  ASSERT_EQ(firstTwin->text(), "first twin");
  for (const IdeaPtr& link : {copy->ideas()[0]->ideas()[0]->ideas()[0], copy->ideas()[1]->ideas()[0]->ideas()[0]}) {
    ASSERT_TRUE(link->isLink());
    EXPECT_EQ(link->linkedIdentifier(), firstTwin->identifier());
    EXPECT_EQ(link->linkedIdea(), firstTwin);
  }
}
