// The texts that name an idea: export titles and file names, and the descriptions for logs.

#include "model/idea.h"

#include "foundation/string_extensions.h"

namespace orrery {

namespace {

// An empty text for a missing one: export titles are never none.
QString orEmpty(const QString& text) { return text.isNull() ? QString(QLatin1String("")) : text; }

}  // namespace

QString Idea::exportTitle() const {
  switch (mIdeaType) {
    case IdeaTypeURL:
      return orEmpty(ex().url);
    case IdeaTypeImage:
      return QStringLiteral("(image)");
    case IdeaTypeLink: {
      const IdeaPtr target = linkedIdea();
      return target ? target->exportTitle() : orEmpty(QString());
    }
    case IdeaTypeText:
      return orEmpty(mText);
    default:
      return orEmpty(QString());
  }
}

QString Idea::exportFileNameForType(const QString& extension) const {
  const QString source = text();
  const QString fallback = QStringLiteral("document");
  if (extension.isNull()) return source.isEmpty() ? fallback : source.left(30);
  QString base;
  if (!source.isEmpty()) base = stringext::createProperFileNameWithMaxLenght(source, 10);
  if (base.isEmpty()) base = fallback;
  return base + QLatin1Char('.') + extension;
}

QString Idea::stringFromIdeaType(IdeaType type) {
  switch (type) {
    case IdeaTypeUndefined: return QStringLiteral("IdeaTypeUndefined");
    case IdeaTypeText: return QStringLiteral("IdeaTypeText");
    case IdeaTypeImage: return QStringLiteral("IdeaTypeImage");
    case IdeaTypeURL: return QStringLiteral("IdeaTypeURL");
    case IdeaTypeLink: return QStringLiteral("IdeaTypeLink");
  }
  return QStringLiteral("WRONG_IDEA_TYPE");
}

QString Idea::description() const {
  if (mIdeaType == IdeaTypeText)
    return QStringLiteral("<Idea text=[%1] identifier=[%2] %3>")
        .arg(mText, mIdentifier, QString::asprintf("%p", static_cast<const void*>(this)));
  return QStringLiteral("<Idea type=[%1] identifier=[%2]>").arg(stringFromIdeaType(mIdeaType), mIdentifier);
}

void Idea::appendDebugLines(QString& out, int depth) const {
  out += QString(depth * 2, QLatin1Char(' '));
  if (mIdeaType == IdeaTypeText)
    out += QStringLiteral("text: [%1] i=%2 ").arg(mText, mIdentifier);
  else
    out += QStringLiteral("%1 i=%2 ").arg(stringFromIdeaType(mIdeaType), mIdentifier);
  out += QLatin1Char('\n');
  for (const IdeaPtr& child : mIdeas) child->appendDebugLines(out, depth + 1);
}

QString Idea::debugDescription() const {
  QString out = mParent.expired() ? QStringLiteral("<Idea identifier=[%1] ").arg(mIdentifier)
                                  : QStringLiteral("<Idea ");
  appendDebugLines(out, 0);
  out += QLatin1Char('>');
  return out;
}

}  // namespace orrery
