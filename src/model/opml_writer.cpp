#include "model/opml_writer.h"

#include "foundation/string_extensions.h"

#include <vector>

namespace orrery {

namespace {

void appendOpenTag(const Idea& idea, int level, QString& buffer) {
  buffer += QString(level, QLatin1Char('\t'));
  buffer += QLatin1String("<outline text=\"") + OPMLWriter::escape(idea.exportTitle()) + QLatin1Char('"');
  const QString note = idea.note();
  if (!note.isNull()) buffer += QLatin1String(" _note=\"") + OPMLWriter::escape(note) + QLatin1Char('"');
  buffer += idea.ideas().empty() ? QLatin1String(" />\n") : QLatin1String(">\n");
}

}  // namespace

QString OPMLWriter::escape(const QString& text) {
  QString escaped = stringext::xmlSimpleEscapeString(stringext::xmlCharactersOnly(text));
  // Literal line breaks and tabs in an attribute would be read back as spaces.
  escaped.replace(QLatin1Char('\n'), QLatin1String("&#10;"));
  escaped.replace(QLatin1Char('\r'), QLatin1String("&#13;"));
  escaped.replace(QLatin1Char('\t'), QLatin1String("&#9;"));
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
    buffer += QString(top.level, QLatin1Char('\t')) + QLatin1String("</outline>\n");
    stack.pop_back();
  }
}

QString OPMLWriter::ideaAsOPML(const Idea& root) {
  QString buffer = QLatin1String("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  buffer += QLatin1String("<opml version=\"1.0\"><head><title>") + escape(root.exportTitle()) +
            QLatin1String("</title></head><body>\n");
  for (const IdeaPtr& child : root.ideas()) appendIdeaIntoOPML(*child, 1, buffer);
  buffer += QLatin1String("</body></opml>");
  return buffer;
}

}  // namespace orrery
