#pragma once
// The list entry of one stored document: what a home-screen tile needs of the document's root
// idea (text, colour, small picture, icon, type, note and web-link flags), its dates and the
// number of its ideas, so that a location can be shown without opening its documents. Index
// files store lists of proxies through any keyed coder. Main thread only, except that a
// finished proxy may be coded on the work queue while nobody changes it.

#include "foundation/kit_image.h"
#include "model/color.h"
#include "model/document_location.h"
#include "model/icon_image.h"
#include "model/idea.h"
#include "model/keyed_coding.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace orrery {

class IdeaDocument;
class IdeaProxy;
using IdeaProxyPtr = std::shared_ptr<IdeaProxy>;
using ProxyList = std::vector<std::shared_ptr<IdeaProxy>>;

class IdeaProxy final : public KeyedCodable {
 public:
  static constexpr char kClassName[] = "IdeaProxy";

  IdeaProxy();
  // A proxy filled from the document (updateWithDoc).
  static IdeaProxyPtr createWithDoc(const std::shared_ptr<IdeaDocument>& doc);
  // A copy sharing the source's document object (made now when the source had none yet).
  static IdeaProxyPtr createWithProxy(IdeaProxy& source);
  // Reads a stored proxy. Its docIdentifier is the bare file name of the entry, or empty when
  // the entry names no acceptable file; the index reader re-homes or skips it.
  static IdeaProxyPtr createWithCoder(KeyedDecoder& coder);

  // Takes the document's root idea and dates; true when something compared changed.
  bool updateWithDoc(const std::shared_ptr<IdeaDocument>& doc);

  // The document object of this entry, made from docIdentifier on first use and kept.
  const std::shared_ptr<IdeaDocument>& doc();
  bool hasDoc() const { return static_cast<bool>(mDoc); }
  // Takes over the document object of the entry this one replaces: a screen may have that
  // object open, and a second object would be a second tree of the same file.
  void keepDocumentOf(const IdeaProxy& previous);
  DocumentLocation location() const;
  // The document identifier, as the storage engines use it.
  const QString& fileURL() const { return mDocIdentifier; }
  // Moves the entry's identifier into another location, keeping its file name.
  void changeLocation(DocumentLocation location);

  // The last path component of the identifier's path: what index files store.
  static QString bareFileName(const QString& docIdentifier);
  // A stored file name that can safely be joined to a storage folder: a document name of the
  // ".orrx" scheme with no folder parts.
  static bool isAcceptableStoredFileName(const QString& name);
  // Both null, or equal.
  static bool stringEquality(const QString& a, const QString& b);

  const QString& ideaIdentifier() const { return mIdeaIdentifier; }
  void setIdeaIdentifier(const QString& value) { mIdeaIdentifier = value; }
  const QString& docIdentifier() const { return mDocIdentifier; }
  void setDocIdentifier(const QString& value) { mDocIdentifier = value; }
  bool hasNote() const { return mHasNote; }
  void setHasNote(bool value) { mHasNote = value; }
  bool hasWebLink() const { return mHasWebLink; }
  void setHasWebLink(bool value) { mHasWebLink = value; }
  IdeaType ideaType() const { return mIdeaType; }
  void setIdeaType(IdeaType value) { mIdeaType = value; }
  const QString& text() const { return mText; }
  void setText(const QString& value) { mText = value; }
  const QDateTime& dateCreated() const { return mDateCreated; }
  void setDateCreated(const QDateTime& value) { mDateCreated = value; }
  const QDateTime& dateModified() const { return mDateModified; }
  void setDateModified(const QDateTime& value) { mDateModified = value; }
  // Ideas in the whole tree; in a search result the number of hits instead.
  std::int64_t itemCount() const { return mItemCount; }
  void setItemCount(std::int64_t value) { mItemCount = value; }
  const ColorPtr& color() const { return mColor; }
  void setColor(ColorPtr value) { mColor = std::move(value); }
  const KitImage& image() const { return mImage; }
  void setImage(const KitImage& value) { mImage = value; }
  const IconImagePtr& iconImage() const { return mIconImage; }
  void setIconImage(IconImagePtr value) { mIconImage = std::move(value); }

  QString className() const override { return QString::fromLatin1(kClassName); }
  void encodeWithCoder(KeyedEncoder& coder) const override;
  QString description() const override;

 private:
  QString mIdeaIdentifier;
  std::shared_ptr<IdeaDocument> mDoc;
  bool mHasNote = false;
  bool mHasWebLink = false;
  IdeaType mIdeaType = IdeaTypeUndefined;
  QString mText;
  QDateTime mDateCreated;
  QDateTime mDateModified;
  std::int64_t mItemCount = 0;
  QString mDocIdentifier;
  ColorPtr mColor;
  KitImage mImage;
  IconImagePtr mIconImage;
};

}  // namespace orrery
