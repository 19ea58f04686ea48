#pragma once
// Random idea trees for tests and benchmarks, and a structural comparison of two trees.

#include "foundation/kit_image.h"
#include "model/idea.h"
#include "model/known_color_themes.h"

#include <QPainter>

#include <random>
#include <string>
#include <vector>

namespace ideatrees {

struct TreeShape {
  int ideas = 100;
  double pictureShare = 0.0;  // of the non-link ideas
  double linkShare = 0.05;
  unsigned seed = 1;
};

// A small picture with some detail, different for each seed.
inline orrery::KitImage samplePicture(int width, int height, unsigned seed) {
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  image.fill(QColor::fromHsv(int(seed * 47 % 360), 180, 220));
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  std::mt19937 rng(seed);
  for (int i = 0; i < 12; ++i) {
    painter.setBrush(QColor::fromHsv(int(rng() % 360), 200, int(rng() % 256)));
    painter.drawEllipse(QPointF(rng() % width, rng() % height), 4 + rng() % 20, 4 + rng() % 20);
  }
  return orrery::KitImage(image);
}

// Builds a random tree: texts with quotes, escapes and non-Latin letters, notes, web links,
// theme colours, icons, pictures (from a small shared pool) and links to earlier ideas.
inline orrery::IdeaPtr randomTree(const TreeShape& shape) {
  using namespace orrery;
  std::mt19937 rng(shape.seed);
  auto chance = [&](double p) { return std::uniform_real_distribution<double>(0, 1)(rng) < p; };
  const std::vector<QString> words = {"plan", "Ünïcödé", "\"quoted\"", "back\\slash", "line\nbreak",
                                      "日本語", "emoji 🚀", "tab\there", "</script>", "plain"};
  auto sentence = [&](int n) {
    QString s;
    for (int i = 0; i < n; ++i) s += (i ? " " : "") + words[rng() % words.size()];
    return s;
  };
  std::vector<ColorPtr> colors;
  for (const auto& theme : KnownColorThemes::sharedInstance().standardThemes())
    colors.insert(colors.end(), theme->colors().begin(), theme->colors().end());
  std::vector<Idea*> pool;
  // Picture and web-link ideas are copies of a few made once (a copy shares the small picture).
  std::vector<IdeaPtr> pictureIdeas;
  if (shape.pictureShare > 0)
    for (unsigned i = 0; i < 6; ++i) pictureIdeas.push_back(Idea::createWithOriginalImage(samplePicture(400, 300, i + 1)));
  // Web links carry a page picture only when the tree has pictures.
  const IdeaPtr webLink = Idea::createWithURL(
      "https://example.org/", shape.pictureShare > 0 ? samplePicture(300, 200, 99) : KitImage());

  IdeaPtr root = Idea::createWithText(sentence(3));
  root->setColor(colors[0]);
  pool.push_back(root.get());
  std::vector<QString> identifiers{root->identifier()};
  for (int n = 1; n < shape.ideas; ++n) {
    // Prefer recent ideas as parents, which gives trees a few dozen levels deep.
    const size_t span = std::min<size_t>(pool.size(), 64);
    Idea* parent = chance(0.5) ? pool[pool.size() - 1 - rng() % span] : pool[rng() % pool.size()];
    IdeaPtr idea;
    if (chance(shape.linkShare)) {
      idea = Idea::createWithLinkToIdea(identifiers[rng() % identifiers.size()]);
      if (chance(0.3)) idea->setIconImage(std::make_shared<IconImage>("star", "Symbols", "⭐"));
    } else {
      if (!pictureIdeas.empty() && chance(shape.pictureShare)) {
        idea = pictureIdeas[rng() % pictureIdeas.size()]->deepCopyWithNewIdentifiersNoExternalLinks();
      } else if (chance(0.05)) {
        idea = webLink->deepCopyWithNewIdentifiersNoExternalLinks();
        idea->setURL("https://example.org/" + QString::number(n) + "?q=a&b=\"c\"");
      } else {
        idea = Idea::createWithText(chance(0.05) ? QString("") : sentence(1 + int(rng() % 6)));
        if (chance(0.3)) idea->setNote(sentence(4 + int(rng() % 20)));
        if (chance(0.2)) idea->setIconImage(std::make_shared<IconImage>("face " + QString::number(n), "Smileys", "😀"));
      }
      if (chance(0.8)) idea->setColor(colors[rng() % colors.size()]);
      idea->setColorThemeType(ColorThemeType(rng() % 3));
      pool.push_back(idea.get());
    }
    identifiers.push_back(idea->identifier());
    parent->addIdea(idea);
  }
  return root;
}

// The first difference between two trees in everything a file holds, or an empty text.
// With `sameIdentifiers` false, identifiers (and link targets) are not compared.
inline QString firstDifference(const orrery::Idea& a, const orrery::Idea& b, bool sameIdentifiers = true) {
  using orrery::Idea;
  const QString where = a.identifier() + ": ";
  if (sameIdentifiers && a.identifier() != b.identifier()) return where + "identifier " + b.identifier();
  if (a.ideaType() != b.ideaType()) return where + "type";
  if (a.isLink()) {
    if (sameIdentifiers && a.linkedIdentifier() != b.linkedIdentifier()) return where + "link target";
  } else {
    if (a.text() != b.text() || a.text().isNull() != b.text().isNull()) return where + "text";
    if (a.note() != b.note()) return where + "note";
    if (a.URL() != b.URL()) return where + "URL";
    if (a.color() != b.color()) return where + "colour";
    if (a.colorThemeType() != b.colorThemeType()) return where + "colour theme type";
    const auto ia = a.iconImage(), ib = b.iconImage();
    if (bool(ia) != bool(ib) || (ia && (ia->name() != ib->name() || ia->category() != ib->category() ||
                                        ia->symbol() != ib->symbol())))
      return where + "icon";
    if (a.image().cgImage() != b.image().cgImage()) return where + "picture";
    if (a.bigImageData() != b.bigImageData()) return where + "big picture";
  }
  if (a.ideas().size() != b.ideas().size()) return where + "child count";
  for (size_t i = 0; i < a.ideas().size(); ++i) {
    const QString difference = firstDifference(*a.ideas()[i], *b.ideas()[i], sameIdentifiers);
    if (!difference.isEmpty()) return difference;
  }
  return {};
}

}  // namespace ideatrees
