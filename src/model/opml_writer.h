#pragma once
// Writes a map as an OPML 1.0 file: the root's export title as the head title and one outline
// element per descendant, with its export title as "text" and its note as "_note". A root with
// a note or a blank title is itself the one top-level outline, under a head without title.

#include "model/idea.h"

#include <QString>
#include <QStringView>

namespace orrery {

class OPMLWriter {
 public:
  // The whole file text (UTF-8 once encoded; line feeds only, no line feed at the end).
  static QString ideaAsOPML(const Idea& root);
  // One outline element at `level` tabs with its subtree.
  static void appendIdeaIntoOPML(const Idea& idea, int level, QString& buffer);
  // The text as XML attribute or element content: the five XML characters as entities, line
  // breaks and tabs as character references (so they survive attribute reading), and the
  // characters XML cannot carry dropped.
  static QString escape(const QString& text);
  // The same escaping appended to `buffer` in one pass; `breaksAsReferences` false keeps line
  // breaks and tabs as they are (element content such as HTML).
  static void appendEscaped(QStringView text, bool breaksAsReferences, QString& buffer);
};

}  // namespace orrery
