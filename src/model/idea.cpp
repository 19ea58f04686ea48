#include "model/idea.h"

#include "foundation/image_filters.h"
#include "foundation/logging.h"
#include "foundation/string_extensions.h"

#include <QDateTime>

#include <algorithm>
#include <atomic>
#include <limits>

namespace orrery {

namespace {

const bool kRegistered = KeyedClassRegistry::add<Idea>();

std::atomic<std::uint64_t> gIdentifierCounter{0};

// An empty text for a missing one: export titles are never none.
QString orEmpty(const QString& text) { return text.isNull() ? QString(QLatin1String("")) : text; }

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

// New identifiers, "id<seconds>_<counter>": the time formatted once per maker, so a copy of a
// large tree does not read the clock and format a number through printf for every idea.
class IdentifierMaker {
 public:
  IdentifierMaker()
      : mPrefix(QString::asprintf("id%0.0f_", double(QDateTime::currentMSecsSinceEpoch()) / 1000.0)) {}

  QString next() const {
    const auto counter = static_cast<int>(static_cast<std::uint32_t>(++gIdentifierCounter));
    char digits[12];
    char* end = digits + sizeof digits;
    char* at = end;
    auto magnitude = static_cast<std::uint32_t>(counter < 0 ? -static_cast<std::int64_t>(counter) : counter);
    do {
      *--at = char('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (counter < 0) *--at = '-';
    QString identifier(mPrefix.size() + (end - at), Qt::Uninitialized);
    QChar* out = std::copy(mPrefix.cbegin(), mPrefix.cend(), identifier.data());
    for (; at != end; ++at) *out++ = QLatin1Char(*at);
    return identifier;
  }

 private:
  QString mPrefix;
};

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
    : mIdentifier(std::move(identifier)), mText(std::move(text)) {
  (void)kRegistered;
}

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

// ---- tree ----

void Idea::insertIdea(const IdeaPtr& idea, qint64 index) {
  if (!idea || isLink()) return;
  // An idea inside its own subtree would make every walk of the tree endless.
  bool ancestor = false;
  for (IdeaPtr up = self(); up && !ancestor; up = up->parent()) ancestor = up == idea;
  if (!ORRERY_SOFT_ASSERT(!ancestor, "-[Idea insertIdea:atIndex:]")) return;
  const qint64 at = std::clamp<qint64>(index, 0, qint64(mIdeas.size()));
  mIdeas.insert(mIdeas.begin() + at, idea);
  idea->mParent = self();
}

void Idea::addIdea(const IdeaPtr& idea) {
  if (isLink()) {
    softAssertionFailed(403, "-[Idea addIdea:]");
    return;
  }
  insertIdea(idea, qint64(mIdeas.size()));
}

void Idea::detachIdea(const QString& identifier) {
  const qint64 index = indexOfIdeaWithIdentifier(identifier);
  if (index == kNotFound) {
    softAssertionFailed(460, "-[Idea detachIdea:]");
    return;
  }
  IdeaPtr child = mIdeas[size_t(index)];
  mIdeas.erase(mIdeas.begin() + index);
  child->mParent.reset();
}

bool Idea::removeIdea(const QString& identifier) {
  const qint64 index = indexOfIdeaWithIdentifier(identifier);
  if (index == kNotFound) return false;
  IdeaPtr child = mIdeas[size_t(index)];
  mIdeas.erase(mIdeas.begin() + index);
  child->mParent.reset();
  root()->ensureLinkConsistencyInSubTree();
  return true;
}

void Idea::removeIdea(const IdeaPtr& idea, bool removeLinks) {
  if (!idea || isLink()) return;
  const auto it = std::find(mIdeas.begin(), mIdeas.end(), idea);
  if (it == mIdeas.end()) return;
  mIdeas.erase(it);
  idea->mParent.reset();
  if (removeLinks) root()->ensureLinkConsistencyInSubTree();
}

void Idea::ensureLinkConsistencyInSubTree() {
  // One index of the tree's non-link ideas serves every link: each identifier maps to its
  // first idea in pre-order, as the search from the root would find it.
  QHash<QString, IdeaPtr> targets;
  root()->traverseNaturally(
      [&](const IdeaPtr& idea, qint64) {
        if (!targets.contains(idea->mIdentifier)) targets.insert(idea->mIdentifier, idea);
      },
      0);
  std::function<void(Idea&)> check = [&](Idea& idea) {
    if (!idea.isLink()) {
      const std::vector<IdeaPtr> children = idea.mIdeas;
      for (const IdeaPtr& child : children) check(*child);
      return;
    }
    IdeaPtr target = targets.value(idea.ex().linkedIdentifier);
    if (target && target->isLink()) target.reset();
    idea.mLinkedIdea = target;
    if (target) return;
    if (IdeaPtr parent = idea.parent()) {
      auto& siblings = parent->mIdeas;
      siblings.erase(std::remove_if(siblings.begin(), siblings.end(),
                                    [&](const IdeaPtr& s) { return s.get() == &idea; }),
                     siblings.end());
    }
    idea.mParent.reset();
  };
  IdeaPtr keep = self();
  check(*this);
}

qint64 Idea::indexOfIdeaWithIdentifier(const QString& identifier) const {
  for (size_t i = 0; i < mIdeas.size(); ++i)
    if (mIdeas[i]->mIdentifier == identifier) return qint64(i);
  return kNotFound;
}

IdeaPtr Idea::findIdeaInSubTreeWithIdentifier(const QString& identifier) const {
  if (mIdentifier == identifier) return self();
  if (isLink()) return nullptr;
  for (const IdeaPtr& child : mIdeas)
    if (IdeaPtr found = child->findIdeaInSubTreeWithIdentifier(identifier)) return found;
  return nullptr;
}

bool Idea::couldMyChildBeDescendantOfIdeaWithIdentifier(const QString& identifier) const {
  for (const Idea* idea = this; idea;) {
    if (idea->mIdentifier == identifier) return true;
    const IdeaPtr parent = idea->mParent.lock();
    idea = parent.get();
  }
  return false;
}

IdeaPtr Idea::root() const {
  IdeaPtr top = self();
  while (IdeaPtr parent = top->mParent.lock()) top = std::move(parent);
  return top;
}

qint64 Idea::calculateWholeTreeSize() const {
  qint64 size = 1;
  for (const IdeaPtr& child : mIdeas) size += child->calculateWholeTreeSize();
  return size;
}

void Idea::traverseNaturally(const Visitor& visitor, qint64 depth) const {
  visitor(self(), depth);
  const std::vector<IdeaPtr> children = mIdeas;
  for (const IdeaPtr& child : children) child->traverseNaturally(visitor, depth + 1);
}

IdeaPtr Idea::ideaByRestrictingDepth(qint64 depth) const {
  // Only the kept levels are copied; a link to an idea below them holds its target's content.
  return copyWithNewIdentifiers(/*preserveExternalLinks=*/false, std::max<qint64>(depth, 1));
}

IdeaPtr Idea::ideaByRestrictingElements(qint64 count) const {
  std::vector<qint64> perLevel;
  traverseNaturally(
      [&](const IdeaPtr&, qint64 level) {
        if (perLevel.size() <= size_t(level)) perLevel.resize(size_t(level) + 1, 0);
        ++perLevel[size_t(level)];
      },
      0);
  qint64 total = 0;
  qint64 levels = 0;
  for (qint64 c : perLevel) {
    total += c;
    if (total < count) ++levels;
  }
  return ideaByRestrictingDepth(levels);
}

void Idea::takeContentOf(const Idea* source) {
  if (!source) {
    mIdeaType = IdeaTypeUndefined;
    mText = QString();
    mColor = nullptr;
    // The stored target identifier stays; nothing else of the extras does.
    const QString linked = ex().linkedIdentifier;
    mExtras.reset();
    if (!linked.isNull()) mut().linkedIdentifier = linked;
    colorThemeTypeValue = ColorThemeTypeSameColor;
    return;
  }
  mIdeaType = source->mIdeaType;
  mText = source->mText;
  mColor = source->mColor;
  colorThemeTypeValue = source->colorThemeTypeValue;
  // Note, URL, icon and pictures; shared until either side changes one (then it gets its own).
  const QString linked = ex().linkedIdentifier;
  mExtras = source->mExtras;
  if (ex().linkedIdentifier != linked) mut().linkedIdentifier = linked;
}

IdeaPtr Idea::copyWithNewIdentifiers(bool preserveExternalLinks, qint64 depth) const {
  const IdentifierMaker identifiers;
  std::vector<std::pair<const Idea*, Idea*>> links;   // (source link, its copy)
  std::vector<std::pair<const Idea*, Idea*>> copies;  // (source, its copy) in pre-order
  auto copyOf = [&](const Idea& source) {
    IdeaPtr copy = std::make_shared<Idea>(Private{}, QString(), identifiers.next());
    if (source.isLink()) {
      copy->mIdeaType = IdeaTypeLink;
      copy->mut().linkedIdentifier = source.ex().linkedIdentifier;
      links.emplace_back(&source, copy.get());
    } else {
      copy->takeContentOf(&source);
    }
    copies.emplace_back(&source, copy.get());
    return copy;
  };

  const IdeaPtr top = copyTree(depth, copyOf);
  if (links.empty()) return top;
  // The first copy, in pre-order, of every source idea a link names: only those identifiers
  // are hashed into the table, not the whole tree's.
  QHash<QString, Idea*> copyBySource;
  copyBySource.reserve(qsizetype(links.size()));
  for (const auto& link : links) copyBySource.insert(link.first->ex().linkedIdentifier, nullptr);
  for (const auto& [source, copy] : copies) {
    const auto named = copyBySource.find(source->mIdentifier);
    if (named != copyBySource.end() && !*named) *named = copy;
  }
  for (const auto& [sourceLink, linkCopy] : links) {
    if (Idea* inside = copyBySource.value(sourceLink->ex().linkedIdentifier)) {
      linkCopy->mut().linkedIdentifier = inside->mIdentifier;
      linkCopy->mLinkedIdea.reset();
    } else if (!preserveExternalLinks) {
      // The stored target identifier stays but is no longer used.
      const IdeaPtr target = sourceLink->linkedIdea();
      linkCopy->takeContentOf(target.get());
    }
  }
  return top;
}

IdeaPtr Idea::deepCopyWithNewIdentifiersPreservingExternalLinks(bool preserveExternalLinks) const {
  return copyWithNewIdentifiers(preserveExternalLinks, std::numeric_limits<qint64>::max());
}

IdeaPtr Idea::copyTree(qint64 depth, const std::function<IdeaPtr(const Idea& source)>& copyOf) const {
  // Built with an explicit stack (no tree is too deep) and the children attached directly:
  // a fresh copy can be nobody's ancestor, so the checks of insertIdea are not needed.
  struct Frame {
    const Idea* source;
    Idea* copy;
    size_t next;
  };
  IdeaPtr top = copyOf(*this);
  std::vector<Frame> stack;
  stack.push_back({this, top.get(), 0});
  while (!stack.empty()) {
    Frame& frame = stack.back();
    const auto& children = frame.source->mIdeas;
    if (qint64(stack.size()) >= depth || frame.next >= children.size()) {
      stack.pop_back();
      continue;
    }
    Idea& parent = *frame.copy;
    if (frame.next == 0) parent.mIdeas.reserve(children.size());
    const Idea& child = *children[frame.next++];
    IdeaPtr& childCopy = parent.mIdeas.emplace_back(copyOf(child));
    childCopy->mParent = parent.weak_from_this();
    stack.push_back({&child, childCopy.get(), 0});
  }
  return top;
}

IdeaPtr Idea::snapshotCopy() const {
  return copyTree(std::numeric_limits<qint64>::max(), [](const Idea& source) {
    IdeaPtr copy = std::make_shared<Idea>(Private{}, source.mText, source.mIdentifier);
    copy->mIdeaType = source.mIdeaType;
    copy->mExtras = source.mExtras;
    copy->mColor = source.mColor;
    copy->colorThemeTypeValue = source.colorThemeTypeValue;
    return copy;
  });
}

// ---- colour, export, text ----

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

// ---- coding ----

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
  for (IdeaPtr& child : coder.decodeObjectsOfClassForKey<Idea>("ideas")) {
    child->mParent = idea;
    idea->mIdeas.push_back(std::move(child));
  }
  return idea;
}

}  // namespace orrery
