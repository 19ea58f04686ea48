#include "model/idea.h"

#include "foundation/image_filters.h"
#include "model/idea_identifier_maker.h"

#include <algorithm>

namespace orrery {

namespace {

// The centred square of the source, scaled to the small picture's side, less saturated.
KitImage makeSmallImage(const KitImage& source) {
  const QImage& bitmap = source.cgImage();
  const int side = std::min(bitmap.width(), bitmap.height());
  const QRect square((bitmap.width() - side) / 2, (bitmap.height() - side) / 2, side, side);
  const KitImage scaled = KitImage(bitmap.copy(square))
                              .scaleToSize(QSizeF(Idea::kSmallImageSide, Idea::kSmallImageSide));
  if (scaled.isNull()) return {};
  return KitImage(imagefilters::colorControls(scaled.cgImage(), Idea::kSmallImageSaturation))
      .withPNGData();
}

}  // namespace

const Idea::Extras& Idea::noExtras() {
  static const Extras none;
  return none;
}

Idea::Extras& Idea::mut() {
  // Shared with a copy (a snapshot perhaps being encoded elsewhere): this idea gets its own.
  if (!mExtras)
    mExtras = std::make_shared<Extras>();
  else if (mExtras.use_count() > 1)
    mExtras = std::make_shared<Extras>(*mExtras);
  return *mExtras;
}

QString Idea::createIdentifier() { return IdentifierMaker().next(); }

Idea::Idea(Private, QString text, QString identifier)
    : mIdentifier(std::move(identifier)), mText(std::move(text)) {}

Idea::~Idea() = default;

IdeaPtr Idea::createWithText(const QString& text, const QString& identifier) {
  return std::make_shared<Idea>(Private{}, text, identifier);
}

IdeaPtr Idea::createWithText(const QString& text) { return createWithText(text, createIdentifier()); }

IdeaPtr Idea::createWithOriginalImage(const KitImage& image) {
  IdeaPtr idea = createWithText(QString());
  idea->mIdeaType = IdeaTypeImage;
  idea->replaceWithOriginalImage(image);
  return idea;
}

IdeaPtr Idea::createWithURL(const QString& url, const KitImage& image) {
  IdeaPtr idea = createWithText(QString());
  idea->mIdeaType = IdeaTypeURL;
  idea->mut().url = url;
  idea->replaceWithOriginalImage(image);
  if (idea->mExtras) idea->mut().bigImageData = QByteArray();
  return idea;
}

IdeaPtr Idea::createWithLinkToIdea(const QString& targetIdentifier) {
  IdeaPtr idea = createWithText(QString());
  idea->mIdeaType = IdeaTypeLink;
  idea->mut().linkedIdentifier = targetIdentifier;
  return idea;
}

// ---- content ----

const Idea* Idea::content() const {
  if (!isLink()) return this;
  return linkedIdea().get();
}

QString Idea::text() const {
  const Idea* source = content();
  return source ? source->mText : QString();
}

void Idea::setText(const QString& text) {
  if (!isLink()) mText = text;
}

QString Idea::URL() const {
  const Idea* source = content();
  return source ? source->ex().url : QString();
}

void Idea::setURL(const QString& url) {
  if (!isLink() && (mExtras || !url.isNull())) mut().url = url;
}

QString Idea::note() const {
  const Idea* source = content();
  return source ? source->ex().note : QString();
}

void Idea::setNote(const QString& note) {
  if (!isLink() && (mExtras || !note.isEmpty())) mut().note = note.isEmpty() ? QString() : note;
}

ColorPtr Idea::color() const {
  const Idea* source = content();
  return source ? source->mColor : nullptr;
}

void Idea::setColor(ColorPtr color) {
  if (!isLink()) mColor = std::move(color);
}

IconImagePtr Idea::iconImage() const {
  const Idea* source = content();
  return source ? source->ex().icon : nullptr;
}

void Idea::setIconImage(IconImagePtr icon) {
  if (mExtras || icon) mut().icon = std::move(icon);
}

KitImage Idea::image() const {
  const Idea* source = content();
  return source ? source->ex().image : KitImage();
}

QByteArray Idea::bigImageData() const {
  const Idea* source = content();
  return source ? source->ex().bigImageData : QByteArray();
}

KitImage Idea::bigImage() const {
  const QByteArray data = bigImageData();
  return data.isEmpty() ? KitImage() : KitImage::fromJPEGData(data);
}

void Idea::replaceWithOriginalImage(const KitImage& image) {
  if (isLink()) return;
  if (image.isNull()) {
    if (mExtras) {
      mut().image = KitImage();
      mut().bigImageData = QByteArray();
    }
    return;
  }
  const QByteArray big = image.scaleToWidth(kBigImageWidth).jpegData(kBigImageJPEGQuality);
  mut().bigImageData = big.isEmpty() ? QByteArray() : big;
  mut().image = makeSmallImage(image);
}

IdeaPtr Idea::linkedIdea() const {
  if (!isLink() || ex().linkedIdentifier.isEmpty()) {
    mLinkedIdea.reset();
    return nullptr;
  }
  const IdeaPtr top = root();
  if (IdeaPtr cached = mLinkedIdea.lock()) {
    // A target that left this tree (detached and kept elsewhere) no longer answers.
    if (!cached->isLink() && cached->root() == top) return cached;
  }
  IdeaPtr target = top->findIdeaInSubTreeWithIdentifier(ex().linkedIdentifier);
  if (target && target->isLink()) target.reset();
  mLinkedIdea = target;
  return target;
}

bool Idea::hasText() const {
  const Idea* source = content();
  return source && source->mIdeaType == IdeaTypeText && !source->mText.isNull();
}

bool Idea::hasURL() const {
  const Idea* source = content();
  return source && source->mIdeaType == IdeaTypeURL && !source->ex().url.isNull();
}

bool Idea::hasIcon() const {
  const Idea* source = content();
  return source && source->mIdeaType == IdeaTypeText && source->ex().icon;
}

bool Idea::hasColor() const {
  const Idea* source = content();
  return source && source->mIdeaType == IdeaTypeText && source->mColor;
}

bool Idea::hasNote() const {
  const Idea* source = content();
  return source && source->mIdeaType == IdeaTypeText && !source->ex().note.isEmpty();
}

// ---- colour ----

ColorThemePtr Idea::colorTheme() const {
  if (isLink()) {
    const IdeaPtr target = linkedIdea();
    return target ? target->colorTheme() : nullptr;
  }
  if (!mColor) return nullptr;
  if (colorThemeTypeValue == ColorThemeTypeSameColor) {
    auto theme = std::make_shared<ColorTheme>();
    theme->addColor(mColor);
    return theme;
  }
  return mColor->theme();
}

void Idea::applyColorTheme() {
  const ColorThemePtr theme = colorTheme();
  const auto count = theme ? static_cast<std::uint32_t>(theme->colors().size()) : 0u;
  for (size_t i = 0; i < mIdeas.size(); ++i)
    mIdeas[i]->setColor(count > 0 ? theme->colors()[i % count] : nullptr);
}

}  // namespace orrery
