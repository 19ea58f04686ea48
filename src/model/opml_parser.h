#pragma once
// Turns an OPML outline into a new idea tree: a head becomes the root (titled by its "title"
// element), every top-level outline a child of it; without a head the first outline is the
// root. Only titles ("text"), notes ("_note") and the tree shape travel; colours are made up
// on the way in. Element names match in any letter case, attribute names exactly.

#include "model/idea.h"
#include "model/keyed_coding.h"

#include <QByteArray>
#include <QString>

namespace orrery {

class OPMLParser {
 public:
  // Deeper outlines are refused: the document file could not hold them.
  static constexpr int kMaxOutlineDepth = kMaxKeyedNestingDepth - 3;

  OPMLParser() = default;

  // The root of the outline, or none when the bytes are not well-formed XML, nest too deep or
  // yield no idea. One parser may parse several files.
  IdeaPtr parseIdeaFromOPMLData(const QByteArray& data);

 private:
  void reset();
  void appendNewIdeaAsCurrent(const QString& text);
  void didStartElement(const QString& name, const QString& text, bool hasText, const QString& note);
  void didEndElement(const QString& name);

  IdeaPtr mRoot;
  IdeaPtr mCurrent;
  QString mElementContent;
  bool mIgnoreRest = false;
  bool mInsideHead = false;
  int mDepth = 0;
  bool mTooDeep = false;
};

}  // namespace orrery
