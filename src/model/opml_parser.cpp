#include "model/opml_parser.h"

#include "model/known_color_themes.h"

#include <QXmlStreamReader>

namespace orrery {

void OPMLParser::reset() {
  mRoot.reset();
  mCurrent.reset();
  mElementContent = QString("");
  mIgnoreRest = false;
  mInsideHead = false;
  mDepth = 0;
  mTooDeep = false;
}

IdeaPtr OPMLParser::parseIdeaFromOPMLData(const QByteArray& data) {
  reset();
  // Read to the very end even after the outermost idea closed: a file that breaks off or is
  // not XML fails whole instead of importing part of a tree.
  QXmlStreamReader reader(data);
  while (!reader.atEnd() && !mTooDeep) {
    switch (reader.readNext()) {
      case QXmlStreamReader::StartElement: {
        const QXmlStreamAttributes attributes = reader.attributes();
        didStartElement(reader.name().toString(), attributes.value(QLatin1String("text")).toString(),
                        attributes.hasAttribute(QLatin1String("text")),
                        attributes.value(QLatin1String("_note")).toString());
        break;
      }
      case QXmlStreamReader::EndElement:
        didEndElement(reader.name().toString());
        break;
      case QXmlStreamReader::Characters:
        if (!mIgnoreRest) mElementContent += reader.text();
        break;
      default:
        break;
    }
  }
  IdeaPtr root = std::move(mRoot);
  const bool failed = reader.hasError() || mTooDeep;
  reset();
  return failed ? nullptr : root;
}

void OPMLParser::didStartElement(const QString& name, const QString& text, bool hasText, const QString& note) {
  if (mIgnoreRest) return;
  mElementContent = QString("");
  const QString element = name.toLower();
  if (element == QLatin1String("head")) {
    appendNewIdeaAsCurrent(QString());
  } else if (element == QLatin1String("outline")) {
    appendNewIdeaAsCurrent(hasText ? text : QString());
    mCurrent->setNote(note);
  }
}

void OPMLParser::didEndElement(const QString& name) {
  if (mIgnoreRest) return;
  const QString element = name.toLower();
  if (element == QLatin1String("outline")) {
    if (!mCurrent) return;
    mCurrent = mCurrent->parent();
    --mDepth;
    if (!mCurrent) mIgnoreRest = true;
  } else if (element == QLatin1String("title")) {
    if (mCurrent && mCurrent == mRoot) mRoot->setText(mElementContent);
  }
}

void OPMLParser::appendNewIdeaAsCurrent(const QString& text) {
  IdeaPtr idea = Idea::createWithText(text);
  idea->setColorThemeType(ColorThemeTypeVaryingColors);
  const auto& standard = ColorTheme::standardThemes();
  if (!mRoot) {
    if (!standard.empty() && !standard[0]->colors().empty()) idea->setColor(standard[0]->colors()[0]);
    mRoot = idea;
    mCurrent = idea;
    mDepth = 0;
    return;
  }
  if (!mCurrent) return;
  const size_t n = mCurrent->ideas().size();
  if (!mCurrent->parent()) {
    if (!standard.empty()) {
      const auto& theme = standard[(n + 1) % standard.size()];
      if (!theme->colors().empty()) idea->setColor(theme->colors()[0]);
    }
  } else if (auto theme = mCurrent->colorTheme(); theme && !theme->colors().empty()) {
    idea->setColor(theme->colors()[(n + 1) % theme->colors().size()]);
  }
  mCurrent->addIdea(idea);
  mCurrent = idea;
  if (++mDepth > kMaxOutlineDepth) mTooDeep = true;
}

}  // namespace orrery
