#include "model/idea_proxy.h"

#include "model/color_theme.h"
#include "model/idea_document.h"
#include "model/index_portable_image.h"
#include "model/json_encoder.h"

#include "foundation/logging.h"

namespace orrery {

namespace {

const bool kRegistered = KeyedClassRegistry::add<IdeaProxy>();

constexpr char kFileNameKey[] = "filename";
constexpr char kIdentifierKey[] = "identifier";
constexpr char kTextKey[] = "text";
constexpr char kColorKey[] = "color";
constexpr char kImageKey[] = "image";    // JSON index: PNG data
constexpr char kImage2Key[] = "image2";  // keyed index: a PortableImage
constexpr char kDateCreatedKey[] = "dateCreated";
constexpr char kDateModifiedKey[] = "dateModified";
constexpr char kItemCountKey[] = "itemCount";
constexpr char kIconImageKey[] = "iconImage";
constexpr char kHasNoteKey[] = "hasNote";
constexpr char kHasWebLinkKey[] = "hasWebLink";
constexpr char kIdeaTypeKey[] = "ideaType";

QString colorName(const ColorPtr& color) { return color ? color->name() : QString(); }
QString iconName(const IconImagePtr& icon) { return icon ? icon->name() : QString(); }

bool sameDate(const QDateTime& mine, const QDateTime& theirs) { return mine.isValid() && mine == theirs; }

}  // namespace

IdeaProxy::IdeaProxy() { (void)kRegistered; }

IdeaProxyPtr IdeaProxy::createWithDoc(const std::shared_ptr<IdeaDocument>& doc) {
  auto proxy = std::make_shared<IdeaProxy>();
  proxy->updateWithDoc(doc);
  return proxy;
}

IdeaProxyPtr IdeaProxy::createWithProxy(IdeaProxy& source) {
  source.doc();
  return std::make_shared<IdeaProxy>(source);
}

bool IdeaProxy::updateWithDoc(const std::shared_ptr<IdeaDocument>& doc) {
  if (!ORRERY_SOFT_ASSERT(doc, "-[IdeaProxy updateWithDoc:]")) return false;
  mDoc = doc;
  mDocIdentifier = doc->docIdentifier();
  const IdeaPtr& root = doc->idea();
  if (!ORRERY_SOFT_ASSERT(root, "-[IdeaProxy updateWithDoc:]")) return false;
  mIdeaIdentifier = root->identifier();

  const std::int64_t count = root->calculateWholeTreeSize();
  const bool unchanged = sameDate(mDateCreated, doc->dateCreated()) && sameDate(mDateModified, doc->dateModified()) &&
                         mItemCount == count && mHasNote == root->hasNote() && mHasWebLink == root->hasURL() &&
                         mIdeaType == root->ideaType() && stringEquality(iconName(mIconImage), iconName(root->iconImage())) &&
                         stringEquality(mText, root->text()) && stringEquality(colorName(mColor), colorName(root->color()));
  if (unchanged) return false;

  mDateCreated = doc->dateCreated();
  mDateModified = doc->dateModified();
  mItemCount = count;
  mIconImage = root->iconImage();
  mText = root->text();
  mColor = root->color();
  mImage = root->image();
  mIdeaType = root->ideaType();
  mHasNote = root->hasNote();
  mHasWebLink = root->hasURL();
  return true;
}

const std::shared_ptr<IdeaDocument>& IdeaProxy::doc() {
  if (!mDoc) mDoc = IdeaDocument::createWithIdentifier(mDocIdentifier);
  return mDoc;
}

void IdeaProxy::keepDocumentOf(const IdeaProxy& previous) {
  if (&previous != this && previous.mDoc && previous.mDocIdentifier == mDocIdentifier) mDoc = previous.mDoc;
}

DocumentLocation IdeaProxy::location() const { return IdeaDocument::locationFromIdentifier(mDocIdentifier); }

void IdeaProxy::changeLocation(DocumentLocation location) {
  // A document object made for the old identifier would keep pointing there.
  if (mDoc) softAssertionFailed(__LINE__, "-[IdeaProxy changeLocation:]");
  mDocIdentifier = IdeaDocument::docIdentifierFromPath(bareFileName(mDocIdentifier), location);
}

QString IdeaProxy::bareFileName(const QString& docIdentifier) {
  const qsizetype prefixEnd = docIdentifier.indexOf(QLatin1String(":/"));
  const QString path = prefixEnd < 0 ? docIdentifier : docIdentifier.mid(prefixEnd + 2);
  return path.section('/', -1);
}

bool IdeaProxy::isAcceptableStoredFileName(const QString& name) {
  static const qsizetype kSuffixLength = QStringLiteral(".orrx").size();
  return name.size() > kSuffixLength && IdeaDocument::fileNamingSchemeMatches(name) && !name.contains('/') &&
         !name.contains(QLatin1String("..")) && !name.contains(QChar(0));
}

bool IdeaProxy::stringEquality(const QString& a, const QString& b) {
  if (a.isNull() || b.isNull()) return a.isNull() && b.isNull();
  return a == b;
}

void IdeaProxy::encodeWithCoder(KeyedEncoder& coder) const {
  coder.encodeString(bareFileName(mDocIdentifier), kFileNameKey);
  coder.encodeString(mIdeaIdentifier, kIdentifierKey);
  coder.encodeString(mText, kTextKey);
  coder.encodeString(colorName(mColor), kColorKey);
  if (!mImage.isNull()) {
    if (dynamic_cast<const JSONEncoder*>(&coder)) {
      coder.encodeData(mImage.pngData(), kImageKey);
    } else {
      const PortableImage boxed(mImage.pngData());
      coder.encodeObject(&boxed, kImage2Key);
    }
  }
  coder.encodeDate(mDateCreated.isValid() ? mDateCreated : mDateModified, kDateCreatedKey);
  coder.encodeDate(mDateModified.isValid() ? mDateModified : QDateTime::currentDateTimeUtc(), kDateModifiedKey);
  coder.encodeInt(static_cast<std::int32_t>(mItemCount), kItemCountKey);
  coder.encodeObject(mIconImage, kIconImageKey);
  coder.encodeBool(mHasNote, kHasNoteKey);
  coder.encodeBool(mHasWebLink, kHasWebLinkKey);
  coder.encodeInt(static_cast<std::int32_t>(mIdeaType), kIdeaTypeKey);
}

IdeaProxyPtr IdeaProxy::createWithCoder(KeyedDecoder& coder) {
  auto proxy = std::make_shared<IdeaProxy>();
  // Index files come from storage that other programs can write: a stored name must not lead
  // out of the storage folder.
  const QString fileName = coder.decodeStringForKey(kFileNameKey);
  if (isAcceptableStoredFileName(fileName)) proxy->mDocIdentifier = fileName;
  proxy->mIdeaIdentifier = coder.decodeStringForKey(kIdentifierKey);
  proxy->mText = coder.decodeStringForKey(kTextKey);
  const QString color = coder.decodeStringForKey(kColorKey);
  if (!color.isNull()) proxy->mColor = ColorTheme::colorByName(color);

  QByteArray png = coder.decodeDataForKey(kImageKey);
  if (png.isEmpty()) {
    if (auto boxed = coder.decodeObjectOfClassForKey<PortableImage>(kImage2Key))
      png = boxed->image();
    else
      png = coder.decodeDataForKey(kImage2Key);
  }
  if (!png.isEmpty()) proxy->mImage = KitImage::fromPNGData(png);

  proxy->mDateModified = coder.decodeDateForKey(kDateModifiedKey);
  if (!proxy->mDateModified.isValid()) proxy->mDateModified = QDateTime::currentDateTimeUtc();
  proxy->mDateCreated = coder.decodeDateForKey(kDateCreatedKey);
  if (!proxy->mDateCreated.isValid()) proxy->mDateCreated = proxy->mDateModified;
  proxy->mItemCount = coder.decodeIntForKey(kItemCountKey);
  proxy->mIconImage = coder.decodeObjectOfClassForKey<IconImage>(kIconImageKey);
  proxy->mHasNote = coder.decodeBoolForKey(kHasNoteKey);
  proxy->mHasWebLink = coder.decodeBoolForKey(kHasWebLinkKey);

  const auto type = static_cast<IdeaType>(static_cast<std::uint32_t>(coder.decodeIntForKey(kIdeaTypeKey)));
  proxy->mIdeaType = type;
  if (type == IdeaTypeUndefined) {
    // Old entries did not store the type.
    if (proxy->mHasWebLink) {
      proxy->mIdeaType = IdeaTypeURL;
    } else if (!proxy->mImage.isNull()) {
      if (!proxy->mText.isNull()) softAssertionFailed(__LINE__, "-[IdeaProxy initWithCoder:]");
      proxy->mIdeaType = IdeaTypeImage;
    } else {
      if (!proxy->mColor) softAssertionFailed(__LINE__, "-[IdeaProxy initWithCoder:]");
      proxy->mIdeaType = IdeaTypeText;
    }
  }
  return proxy;
}

QString IdeaProxy::description() const {
  const QString desc = mText.isNull() ? QStringLiteral("(type=%1)").arg(Idea::stringFromIdeaType(mIdeaType))
                                      : QStringLiteral("(%1)").arg(mText);
  return mDoc ? QStringLiteral("<IdeaProxy id=%1 desc=%2>").arg(mDocIdentifier, desc)
              : QStringLiteral("<IdeaProxy (NO DOC) id=%1 desc=%2>").arg(mDocIdentifier, desc);
}

}  // namespace orrery
