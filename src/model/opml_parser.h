#pragma once
// Turns an OPML outline into a new idea tree. A head with a title names the root and every
// top-level outline becomes a child of it. Without a titled head, a lone top-level outline is
// the root itself; several are kept under a root named after the file. An outline's title is
// its "text", else its "title"; its note is "_note" followed by its links ("url", "htmlUrl",
// "xmlUrl"), one a line. Colours are made up on the way in. Element names match in any letter
// case, attribute names exactly.

#include "model/document_limits.h"
#include "model/idea.h"

#include <QByteArray>
#include <QString>

class QXmlStreamAttributes;

namespace orrery {

class OPMLParser {
 public:
  // Deeper outlines are refused: a map could not hold them. The outlines of a file go one level
  // below its root.
  static constexpr int kMaxOutlineDepth = DocumentLimits::kMaxDepth - 1;

  OPMLParser() = default;

  // The root of the outline, or none when the bytes are not well-formed XML, nest too deep or
  // yield no idea. `fileTitle` names a root the file itself does not name. One parser may
  // parse several files.
  IdeaPtr parseIdeaFromOPMLData(const QByteArray& data, const QString& fileTitle = QString());

  // Whether a head title this blank leaves the head untitled.
  static bool isBlankTitle(const QString& title);
  // Whether the last parse stopped at more ideas than a map holds (DocumentLimits::kMaxObjects):
  // a small file of empty outlines would otherwise take gigabytes.
  bool tooLarge() const { return mTooMany; }
  // Whether the last parse met outlines nested deeper than a map holds (kMaxOutlineDepth).
  bool tooDeep() const { return mTooDeep; }

 private:
  void reset();
  void appendNewIdeaAsCurrent(const QString& text, const QString& note);
  void didStartElement(const QString& name, const QXmlStreamAttributes& attributes);
  void didEndElement(const QString& name);
  IdeaPtr settledRoot(const QString& fileTitle);

  // Holds the top-level outlines until the end of the file tells what the root is.
  IdeaPtr mTop;
  IdeaPtr mCurrent;
  QString mElementContent;
  QString mHeadTitle;
  bool mHasHead = false;
  bool mInsideHead = false;
  bool mHeadTitled = false;
  bool mAnyOutline = false;
  int mDepth = 0;
  int mDeepest = 0;
  bool mTooDeep = false;
  qint64 mIdeas = 0;
  bool mTooMany = false;
};

}  // namespace orrery
