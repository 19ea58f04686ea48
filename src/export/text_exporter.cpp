#include "export/text_exporter.h"

#include "export/tree_walk.h"
#include "model/opml_writer.h"

namespace orrery {

namespace {

const QString kNote = QStringLiteral("Note");

// What "^\s*" matches, without a regular expression per idea.
qsizetype leadingSpaces(const QString& text) {
  qsizetype start = 0;
  while (start < text.size() && text[start].isSpace()) ++start;
  return start;
}

}  // namespace

QString TextExporter::htmlEscape(const QString& text) {
  QString escaped;
  escaped.reserve(text.size());
  OPMLWriter::appendEscaped(text, false, escaped);
  return escaped;
}

void TextExporter::addLevelTabs(qint64 level, QString& buffer) {
  // Appended in place: no string per line.
  if (level > 0) buffer.resize(buffer.size() + level, QLatin1Char('\t'));
}

void TextExporter::appendNoteReference(std::int64_t number, QString& buffer) {
  buffer += u'(';
  buffer += kNote;
  buffer += u' ';
  buffer += QString::number(number);
  buffer += u')';
}

QString TextExporter::textExportTitleFor(const Idea& idea) {
  const QString title = idea.exportTitle();
  const qsizetype start = leadingSpaces(title);
  return start == 0 ? title : title.mid(start);
}

void TextExporter::appendExportTitle(const Idea& idea, qint64 level, QString& buffer) {
  const QString title = idea.exportTitle();
  const QStringView rest = QStringView(title).mid(leadingSpaces(title));
  // A later line starting at column 0, or with tabs of its own, would read as another item in
  // an outliner: it starts at the first line's indentation instead.
  qsizetype start = 0;
  for (qsizetype i = 0; i < rest.size(); ++i) {
    const QChar c = rest[i];
    if (c != u'\n' && c != u'\r' && c != QChar::LineSeparator && c != QChar::ParagraphSeparator) continue;
    if (c == u'\r' && i + 1 < rest.size() && rest[i + 1] == u'\n') ++i;
    buffer += rest.mid(start, i + 1 - start);
    addLevelTabs(level, buffer);
    start = i + 1;
    while (start < rest.size() && (rest[start] == u' ' || rest[start] == u'\t')) ++start;
    i = start - 1;
  }
  buffer += rest.mid(start);
}

void TextExporter::outlineIdea(const Idea& idea, qint64 level, std::int64_t* nextNote, QString& buffer) {
  // Walked without recursion: no outline is too deep to write.
  walkTree(idea, level, [&](const Idea& current, qint64 depth) {
    addLevelTabs(depth, buffer);
    appendExportTitle(current, depth, buffer);
    if (nextNote && current.hasNote()) {
      buffer += QLatin1Char('\n');
      addLevelTabs(depth + 1, buffer);
      appendNoteReference(*nextNote, buffer);
      ++*nextNote;
    }
    buffer += QLatin1Char('\n');
  });
}

void TextExporter::addNotesFrom(const Idea& idea, qint64 level, std::int64_t& nextNote, QString& buffer) {
  walkTree(idea, level, [&](const Idea& current, qint64 /*depth*/) {
    if (!current.hasNote()) return;
    buffer += QStringLiteral("\n%1 %2: %3\n\n").arg(kNote).arg(nextNote).arg(textExportTitleFor(current));
    buffer += current.note() + QLatin1Char('\n');
    ++nextNote;
  });
}

QString TextExporter::ideaAsTextOutline(const Idea& idea, bool includeNotes) {
  QString buffer;
  buffer.reserve(idea.calculateWholeTreeSize() * 24 + 16);
  std::int64_t counter = 1;
  outlineIdea(idea, 0, includeNotes ? &counter : nullptr, buffer);
  if (includeNotes && counter >= 2) {
    counter = 1;
    buffer += QLatin1Char('\n');
    addNotesFrom(idea, 0, counter, buffer);
  }
  if (!buffer.isEmpty()) buffer.chop(1);
  return buffer;
}

void TextExporter::appendIdeaIntoHTML(const Idea& idea, bool includeNotes, QString& buffer) {
  // Escaped straight into the buffer: no string per idea.
  walkTree(
      idea, 0,
      [&](const Idea& current, qint64 /*depth*/) {
        buffer.append(u"<p>");
        OPMLWriter::appendEscaped(current.exportTitle(), false, buffer);
        buffer.append(u"</p>");
        if (includeNotes && current.hasNote()) {
          buffer.append(u"\n<pre>");
          OPMLWriter::appendEscaped(current.note(), false, buffer);
          buffer.append(u"</pre>");
        }
        if (!current.ideas().empty()) buffer.append(u"\n<ul>");
      },
      [&](const Idea& current, qint64 /*depth*/) {
        if (!current.ideas().empty()) buffer.append(u"</ul>");
      },
      [&](const Idea& /*child*/) { buffer.append(u"\n<li>"); },
      [&](const Idea& /*child*/) { buffer.append(u"</li>"); });
}

QString TextExporter::ideaAsNestedHTMLList(const Idea& idea, bool includeNotes) {
  QString buffer;
  buffer.reserve(idea.calculateWholeTreeSize() * 40 + 128);  // one growing buffer, few reallocations
  buffer += QLatin1String(
      "<!DOCTYPE html><html><head><meta charset=utf-8><title>Orrery document</title></head><body>");
  appendIdeaIntoHTML(idea, includeNotes, buffer);
  buffer += QLatin1String("</body></html>");
  return buffer;
}

}  // namespace orrery
