#pragma once
// Maps for the export tests, and waiting for a completion on the test's main queue.

#include "model/color_theme.h"
#include "model/idea.h"
#include "ui_test_env.h"

#include <QString>

namespace exporttest {

// A root with `children` ideas on level 1, every `noteEvery`-th with a note (0: none).
inline orrery::IdeaPtr fanMap(const QString& title, int children, int noteEvery = 0) {
  using orrery::Idea;
  orrery::IdeaPtr root = Idea::createWithText(title);
  for (int i = 1; i <= children; ++i) {
    orrery::IdeaPtr child = Idea::createWithText(QString("child %1").arg(i));
    if (noteEvery > 0 && i % noteEvery == 0) child->setNote(QString("note of child %1").arg(i));
    root->addIdea(child);
  }
  return root;
}

inline bool waitFor(const std::function<bool()>& condition) {
  return uitest::loop().runUntil(condition, platform::Millis(60000));
}

}  // namespace exporttest
