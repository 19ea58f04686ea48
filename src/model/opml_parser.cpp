#include "model/opml_parser.h"

#include "model/document_limits.h"
#include "model/known_color_themes.h"

#include <QXmlStreamReader>

#include <algorithm>
#include <initializer_list>

namespace orrery {

namespace {

// The title: "text", else "title" (which some feed readers write instead); none without both.
QString outlineText(const QXmlStreamAttributes& attributes) {
  for (const char* name : {"text", "title"})
    if (attributes.hasAttribute(QLatin1String(name))) return attributes.value(QLatin1String(name)).toString();
  return QString();
}

// Whether `note` holds `link` as a word of its own (not as the start of a longer link).
bool holdsLink(const QString& note, const QString& link) {
  for (qsizetype at = note.indexOf(link); at >= 0; at = note.indexOf(link, at + 1)) {
    const qsizetype after = at + link.size();
    if ((at == 0 || note[at - 1].isSpace()) && (after == note.size() || note[after].isSpace())) return true;
  }
  return false;
}

// The idea model holds one web link only on an idea without a title, so the links go into the
// note, each on a line of its own after the note's text, where they stay readable and clickable.
QString outlineNote(const QXmlStreamAttributes& attributes) {
  QString note = attributes.value(QLatin1String("_note")).toString();
  for (const char* name : {"url", "htmlUrl", "xmlUrl"}) {
    const QString link = attributes.value(QLatin1String(name)).trimmed().toString();
    if (link.isEmpty() || holdsLink(note, link)) continue;
    if (!note.isEmpty()) note += QLatin1Char('\n');
    note += link;
  }
  return note;
}

// Colours are made up: the root takes the first colour of the first standard theme, its
// children the first colour of the following themes in turn, deeper ideas their parent's theme
// from its second colour on.
void colorChildren(const Idea& parent, bool isRoot) {
  const auto& standard = ColorTheme::standardThemes();
  const ColorThemePtr theme = isRoot ? nullptr : parent.colorTheme();
  const auto& children = parent.ideas();
  for (size_t n = 0; n < children.size(); ++n) {
    const IdeaPtr& child = children[n];
    if (isRoot) {
      if (!standard.empty()) {
        const auto& next = standard[(n + 1) % standard.size()];
        if (!next->colors().empty()) child->setColor(next->colors()[0]);
      }
    } else if (theme && !theme->colors().empty()) {
      child->setColor(theme->colors()[(n + 1) % theme->colors().size()]);
    }
    colorChildren(*child, false);
  }
}

}  // namespace

bool OPMLParser::isBlankTitle(const QString& title) { return title.trimmed().isEmpty(); }

void OPMLParser::reset() {
  mTop = Idea::createWithText(QString());
  mTop->setColorThemeType(ColorThemeTypeVaryingColors);
  mCurrent = mTop;
  mElementContent = QString("");
  mHeadTitle = QString();
  mHasHead = false;
  mInsideHead = false;
  mHeadTitled = false;
  mDepth = 0;
  mDeepest = 0;
  mTooDeep = false;
  mIdeas = 0;
  mTooMany = false;
}

IdeaPtr OPMLParser::parseIdeaFromOPMLData(const QByteArray& data, const QString& fileTitle) {
  reset();
  // Read to the very end: a file that breaks off or is not XML fails whole instead of
  // importing part of a tree.
  QXmlStreamReader reader(data);
  while (!reader.atEnd() && !mTooDeep && !mTooMany) {
    switch (reader.readNext()) {
      case QXmlStreamReader::StartElement:
        didStartElement(reader.name().toString(), reader.attributes());
        break;
      case QXmlStreamReader::EndElement:
        didEndElement(reader.name().toString());
        break;
      case QXmlStreamReader::Characters:
        if (mInsideHead) mElementContent += reader.text();
        break;
      default:
        break;
    }
  }
  IdeaPtr root = reader.hasError() || mTooDeep || mTooMany ? nullptr : settledRoot(fileTitle);
  mTop.reset();
  mCurrent.reset();
  return root;
}

IdeaPtr OPMLParser::settledRoot(const QString& fileTitle) {
  const auto& top = mTop->ideas();
  if (!mHasHead && top.empty()) return nullptr;
  IdeaPtr root;
  if (mHeadTitled) {
    root = mTop;
    root->setText(mHeadTitle);
  } else if (top.size() == 1) {
    // A lone outline under a nameless head (or none) is the root, not a child of a blank one.
    root = top.front();
    mTop->detachIdea(root->identifier());
    --mDeepest;
  } else {
    root = mTop;
    root->setText(fileTitle);
  }
  if (mDeepest > kMaxOutlineDepth) {
    mTooDeep = true;
    return nullptr;
  }
  const auto& standard = ColorTheme::standardThemes();
  if (!standard.empty() && !standard[0]->colors().empty()) root->setColor(standard[0]->colors()[0]);
  colorChildren(*root, true);
  return root;
}

void OPMLParser::didStartElement(const QString& name, const QXmlStreamAttributes& attributes) {
  mElementContent = QString("");
  const QString element = name.toLower();
  if (element == QLatin1String("head")) {
    if (!mHasHead && mCurrent == mTop) {
      mHasHead = true;
      mInsideHead = true;
    } else {
      appendNewIdeaAsCurrent(QString(), QString());  // a second head is a text-less idea
    }
  } else if (element == QLatin1String("outline")) {
    appendNewIdeaAsCurrent(outlineText(attributes), outlineNote(attributes));
  }
}

void OPMLParser::didEndElement(const QString& name) {
  const QString element = name.toLower();
  if (element == QLatin1String("outline")) {
    if (mCurrent == mTop) return;
    mCurrent = mCurrent->parent();
    --mDepth;
  } else if (element == QLatin1String("title")) {
    if (mInsideHead && mCurrent == mTop) {
      mHeadTitle = mElementContent;
      mHeadTitled = !isBlankTitle(mHeadTitle);
    }
  } else if (element == QLatin1String("head")) {
    mInsideHead = false;
  }
}

void OPMLParser::appendNewIdeaAsCurrent(const QString& text, const QString& note) {
  IdeaPtr idea = Idea::createWithText(text);
  idea->setColorThemeType(ColorThemeTypeVaryingColors);
  idea->setNote(note);
  mCurrent->addIdea(idea);
  mCurrent = idea;
  mDeepest = std::max(mDeepest, ++mDepth);
  if (++mIdeas > DocumentLimits::kMaxObjects) mTooMany = true;
  // The lone outline may still become the root: one level more is read before refusing.
  if (mDepth > kMaxOutlineDepth + 1) mTooDeep = true;
}

}  // namespace orrery
