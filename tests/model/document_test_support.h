#pragma once
// Shared helpers of the document, persistence and OPML tests.

#include "../platform/services/file_test_support.h"

#include "model/idea.h"
#include "model/idea_document.h"
#include "model/known_color_themes.h"

#include <QFile>
#include <QImage>
#include <QString>

#include <functional>

namespace testsupport {

inline QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeAll(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// A tree of `count` ideas, breadth first with up to `fanOut` children each; every seventh
// idea has a multi-line note, `pictures` of them a picture, and a few are links.
inline orrery::IdeaPtr makeTree(int count, int pictures = 0, int fanOut = 8) {
  using namespace orrery;
  IdeaPtr root = Idea::createWithText("Root of a big map");
  root->setColor(ColorTheme::standardThemes()[0]->colors()[0]);
  std::vector<IdeaPtr> all{root};
  for (int i = 1; i < count; ++i) {
    IdeaPtr parent = all[(i - 1) / fanOut];
    IdeaPtr idea;
    if (i % 97 == 0) {
      idea = Idea::createWithLinkToIdea(all[i / 2]->identifier());
    } else {
      idea = Idea::createWithText(QString("Idea %1 — ü ✓ \"quoted\" <b>").arg(i));
      if (i % 7 == 0) idea->setNote(QString("Note of %1\nsecond line\twith a tab").arg(i));
      idea->setColor(ColorTheme::standardThemes()[i % 4]->colors()[i % 7]);
    }
    parent->addIdea(idea);
    if (!idea->isLink()) all.push_back(idea);
  }
  for (int p = 0; p < pictures && p + 1 < int(all.size()); ++p) {
    QImage image(400, 300, QImage::Format_RGB32);
    image.fill(QColor::fromHsv((p * 37) % 360, 200, 200));
    all[p + 1]->replaceWithOriginalImage(orrery::KitImage(image));
  }
  return root;
}

// Everything of a tree that the document file carries, one line per idea.
inline QString treeSignature(const orrery::IdeaPtr& root) {
  QString out;
  if (!root) return out;
  root->traverseNaturally(
      [&](const orrery::IdeaPtr& idea, qint64 depth) {
        out += QString("%1|%2|%3|%4|%5|%6|%7|%8|%9\n")
                   .arg(depth)
                   .arg(idea->identifier(), QString::number(idea->ideaType()), idea->text(), idea->note(),
                        idea->color() ? idea->color()->name() : QString(), idea->linkedIdentifier())
                   .arg(idea->image().isNull() ? 0 : 1)
                   .arg(idea->bigImageData().size());
      },
      0);
  return out;
}

}  // namespace testsupport
