#include "model/opml_writer.h"

#include "model/opml_parser.h"

#include <algorithm>
#include <vector>

namespace orrery {

namespace {

// Whole-file exports append straight into one growing buffer: no per-idea strings.
void appendTabs(qsizetype count, QString& buffer) {
  static constexpr char16_t kTabs[] = u"\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t";
  constexpr qsizetype kChunk = std::size(kTabs) - 1;
  while (count > 0) {
    const qsizetype n = std::min(count, kChunk);
    buffer.append(QStringView(kTabs, n));
    count -= n;
  }
}

void appendOpenTag(const Idea& idea, int level, QString& buffer) {
  appendTabs(level, buffer);
  buffer.append(u"<outline text=\"");
  OPMLWriter::appendEscaped(idea.exportTitle(), true, buffer);
  buffer.append(u'"');
  const QString note = idea.note();
  if (!note.isNull()) {
    buffer.append(u" _note=\"");
    OPMLWriter::appendEscaped(note, true, buffer);
    buffer.append(u'"');
  }
  buffer.append(idea.ideas().empty() ? QStringView(u" />\n") : QStringView(u">\n"));
}

}  // namespace

void OPMLWriter::appendEscaped(QStringView text, bool breaksAsReferences, QString& buffer) {
  const char16_t* const chars = text.utf16();
  const qsizetype size = text.size();
  qsizetype kept = 0;  // start of the stretch still to copy unchanged
  auto replace = [&](qsizetype at, QStringView with) {
    buffer.append(QStringView(chars + kept, at - kept));
    buffer.append(with);
    kept = at + 1;
  };
  for (qsizetype i = 0; i < size; ++i) {
    const char16_t c = chars[i];
    if ((c > u'>' && c < 0xD800) || (c >= 0xE000 && c <= 0xFFFD)) continue;
    switch (c) {
      case u'&': replace(i, u"&amp;"); continue;
      case u'"': replace(i, u"&quot;"); continue;
      case u'\'': replace(i, u"&#x27;"); continue;
      case u'<': replace(i, u"&lt;"); continue;
      case u'>': replace(i, u"&gt;"); continue;
      // Literal line breaks and tabs in an attribute would be read back as spaces.
      case u'\n': if (breaksAsReferences) replace(i, u"&#10;"); continue;
      case u'\r': if (breaksAsReferences) replace(i, u"&#13;"); continue;
      case u'\t': if (breaksAsReferences) replace(i, u"&#9;"); continue;
      default: break;
    }
    if (c >= 0x20 && c < 0xD800) continue;
    if (QChar::isHighSurrogate(c) && i + 1 < size && QChar::isLowSurrogate(chars[i + 1])) {
      ++i;  // a whole pair stays
      continue;
    }
    replace(i, {});  // what XML cannot carry: controls, unpaired surrogates, U+FFFE, U+FFFF
  }
  buffer.append(QStringView(chars + kept, size - kept));
}

QString OPMLWriter::escape(const QString& text) {
  QString escaped;
  escaped.reserve(text.size());
  appendEscaped(text, true, escaped);
  return escaped;
}

void OPMLWriter::appendIdeaIntoOPML(const Idea& idea, int level, QString& buffer) {
  // An explicit stack instead of recursion, so that no outline is too deep to write.
  struct Frame {
    const Idea* idea;
    int level;
    size_t next;
  };
  std::vector<Frame> stack;
  appendOpenTag(idea, level, buffer);
  if (!idea.ideas().empty()) stack.push_back({&idea, level, 0});
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next < top.idea->ideas().size()) {
      const Idea& child = *top.idea->ideas()[top.next++];
      const int childLevel = top.level + 1;
      appendOpenTag(child, childLevel, buffer);
      if (!child.ideas().empty()) stack.push_back({&child, childLevel, 0});
      continue;
    }
    appendTabs(top.level, buffer);
    buffer.append(u"</outline>\n");
    stack.pop_back();
  }
}

QString OPMLWriter::ideaAsOPML(const Idea& root) {
  QString buffer;
  buffer.append(u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\">");
  const QString title = root.exportTitle();
  if (!root.note().isNull() || OPMLParser::isBlankTitle(title)) {
    // Outliners read notes on outline elements only, and a blank head title reads as none: the
    // root is then the one top-level outline under a head without title, which reads back as
    // the root itself.
    buffer.append(u"<head></head><body>\n");
    appendIdeaIntoOPML(root, 1, buffer);
  } else {
    buffer.append(u"<head><title>");
    appendEscaped(title, true, buffer);
    buffer.append(u"</title></head><body>\n");
    for (const IdeaPtr& child : root.ideas()) appendIdeaIntoOPML(*child, 1, buffer);
  }
  buffer.append(u"</body></opml>");
  return buffer;
}

}  // namespace orrery
