#pragma once
// The map the export benchmarks write: a root, 100 children, 99 grandchildren each (10 000
// ideas); every tenth idea carries a note. Made once per process.

#include "model/idea.h"

#include <QString>

namespace benchmaps {

inline const orrery::IdeaPtr& tenThousandIdeaMap() {
  using orrery::Idea;
  static const orrery::IdeaPtr root = [] {
    orrery::IdeaPtr map = Idea::createWithText("Big map");
    int n = 1;
    for (int i = 0; i < 100; ++i) {
      orrery::IdeaPtr child = Idea::createWithText(QString("Topic %1").arg(i));
      if (++n % 10 == 0) child->setNote(QString("A note on topic %1 with a few words in it.").arg(i));
      for (int j = 0; j < 99; ++j) {
        orrery::IdeaPtr leaf = Idea::createWithText(QString("Idea %1.%2").arg(i).arg(j));
        if (++n % 10 == 0) leaf->setNote(QString("Note %1.%2: what to remember about this idea.").arg(i).arg(j));
        child->addIdea(leaf);
      }
      map->addIdea(child);
    }
    return map;
  }();
  return root;
}

}  // namespace benchmaps
