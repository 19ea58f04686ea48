// An idea and its subtree written to and read from a keyed coder.

#include "model/idea.h"

#include "model/idea_identifier_mending.h"

#include <utility>

namespace orrery {

namespace {

// Registered beside the coding: Idea's virtual table (emitted with its destructor) refers to
// encodeWithCoder, so every program that makes ideas links this file in.
[[maybe_unused]] const bool kIdeaRegistered = KeyedClassRegistry::add<Idea>();

}  // namespace

void Idea::encodeWithCoder(KeyedEncoder& coder) const {
  coder.encodeString(mIdentifier, "identifier");
  coder.encodeInt(static_cast<std::int32_t>(mIdeaType), "ideaType");
  if (isLink()) {
    coder.encodeString(ex().linkedIdentifier, "linkedIdea");
    return;
  }
  coder.encodeString(mText, "text");
  coder.encodeString(ex().url, "URL");
  coder.encodeString(ex().note, "note");
  if (mColor) coder.encodeString(mColor->name(), "color");
  if (!ex().image.isNull()) coder.encodeData(ex().image.pngData(), "image");
  coder.encodeData(ex().bigImageData, "bigImageData");
  coder.encodeObject(ex().icon, "iconImage");
  coder.encodeInt(static_cast<std::int32_t>(colorThemeTypeValue), "colorThemeType");
  coder.encodeObjects(mIdeas, "ideas");
}

IdeaPtr Idea::createWithCoder(KeyedDecoder& coder) {
  QString identifier = coder.decodeStringForKey("identifier");
  // Every idea needs an identifier to be found and linked to.
  if (identifier.isEmpty()) identifier = createIdentifier();
  // Here, while the text is at hand: a tree that repeats none is not walked again.
  IdentifierRepeatWatch::note(identifier);
  IdeaPtr idea = createWithText(QString(), identifier);
  const auto storedType = static_cast<IdeaType>(static_cast<std::uint32_t>(coder.decodeIntForKey("ideaType")));
  if (storedType == IdeaTypeLink) {
    idea->mIdeaType = IdeaTypeLink;
    idea->mut().linkedIdentifier = coder.decodeStringForKey("linkedIdea");
    return idea;
  }
  const QByteArray png = coder.decodeDataForKey("image");
  if (!png.isEmpty()) idea->mut().image = KitImage::fromPNGData(png);
  const QByteArray big = coder.decodeDataForKey("bigImageData");
  if (!big.isEmpty()) idea->mut().bigImageData = big;
  idea->mText = coder.decodeStringForKey("text");
  idea->setNote(coder.decodeStringForKey("note"));
  const QString colorName = coder.decodeStringForKey("color");
  if (!colorName.isNull()) idea->mColor = ColorTheme::colorByName(colorName);
  idea->colorThemeTypeValue =
      static_cast<ColorThemeType>(static_cast<std::uint32_t>(coder.decodeIntForKey("colorThemeType")));
  if (auto icon = coder.decodeObjectOfClassForKey<IconImage>("iconImage")) idea->mut().icon = std::move(icon);
  if (QString url = coder.decodeStringForKey("URL"); !url.isNull()) idea->mut().url = std::move(url);

  idea->mIdeaType = storedType;
  if (storedType == IdeaTypeUndefined) {
    if (!idea->ex().url.isNull())
      idea->mIdeaType = IdeaTypeURL;
    else if (!idea->ex().image.isNull())
      idea->mIdeaType = IdeaTypeImage;
    else
      idea->mIdeaType = IdeaTypeText;
  }
  // The decoded list becomes the child list itself: no second list grown one child at a time.
  idea->mIdeas = coder.decodeObjectsOfClassForKey<Idea>("ideas");
  for (const IdeaPtr& child : idea->mIdeas) child->mParent = idea;
  return idea;
}

}  // namespace orrery
