#pragma once
// Turns an idea tree into a plain-text outline (tab-indented, optional numbered note markers
// and a notes section) or a small HTML document of nested lists. Class-level functions only;
// the tree is only read, so any thread may call them on a snapshot nobody changes.

#include "model/idea.h"

#include <QString>

#include <cstdint>

namespace orrery {

class TextExporter {
 public:
  TextExporter() = delete;

  static QString ideaAsTextOutline(const Idea& idea, bool includeNotes);
  static QString ideaAsNestedHTMLList(const Idea& idea, bool includeNotes);

  static void addLevelTabs(qint64 level, QString& buffer);
  // The export title without its leading white space.
  static QString textExportTitleFor(const Idea& idea);
  // The same title appended to `buffer` as an outline line at `level`, its later lines indented
  // as the first; and "(Note n)".
  static void appendExportTitle(const Idea& idea, qint64 level, QString& buffer);
  static void appendNoteReference(std::int64_t number, QString& buffer);
  // `nextNote` null means notes are off.
  static void outlineIdea(const Idea& idea, qint64 level, std::int64_t* nextNote, QString& buffer);
  static void addNotesFrom(const Idea& idea, qint64 level, std::int64_t& nextNote, QString& buffer);
  static void appendIdeaIntoHTML(const Idea& idea, bool includeNotes, QString& buffer);

  // The text as HTML content: the five XML characters as entities, and what an HTML document
  // cannot carry dropped (what OPMLWriter::escape drops).
  static QString htmlEscape(const QString& text);
};

}  // namespace orrery
