#pragma once
// The node of a mind map. An idea is a text, a picture, a web link, or a link to another idea
// of the same tree; it owns its ordered children and knows its parent weakly. The class holds
// the tree operations of the editor, the lists, export and storage, and writes itself to any
// keyed coder. Main thread only, except that a finished tree may be encoded on another thread
// while nobody changes it.
//
// Links answer every content getter from their target. A target is only ever a non-link idea
// of the same tree: a link pointing at a link (or round a cycle of links) is dangling, so no
// getter can recurse.

#include "foundation/kit_image.h"
#include "model/color_theme.h"
#include "model/icon_image.h"
#include "model/keyed_coding.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

namespace orrery {

enum IdeaType : std::uint64_t {
  IdeaTypeUndefined = 0,  // only read from old files; replaced on reading
  IdeaTypeText = 1,
  IdeaTypeImage = 2,
  IdeaTypeURL = 3,
  IdeaTypeLink = 4,
};

class Idea;
using IdeaPtr = std::shared_ptr<Idea>;

class Idea final : public KeyedCodable, public std::enable_shared_from_this<Idea> {
  struct Private {};

 public:
  static constexpr char kClassName[] = "Idea";
  // The answer of indexOfIdeaWithIdentifier for a missing child.
  static constexpr qint64 kNotFound = std::numeric_limits<qint64>::max();
  // Sizes of the pictures made by replaceWithOriginalImage.
  static constexpr double kBigImageWidth = 512.0;
  static constexpr double kSmallImageSide = 160.0;
  static constexpr double kBigImageJPEGQuality = 0.75;
  static constexpr double kSmallImageSaturation = 0.7;
  // A whole tree's copy goes on in parts on several threads once this many ideas are copied;
  // below that the helpers would cost about what they save.
  static constexpr std::size_t kCopyInPartsAfter = 8192;

  // "id<seconds since 1970, rounded>_<number>": the numbers one process makes follow each other
  // and no other process makes them (idea_identifier_maker.h).
  static QString createIdentifier();

  static IdeaPtr createWithText(const QString& text, const QString& identifier);
  static IdeaPtr createWithText(const QString& text);
  // A picture idea with both pictures made from `image`.
  static IdeaPtr createWithOriginalImage(const KitImage& image);
  // A web-link idea with the small picture made from the page image (no big picture).
  static IdeaPtr createWithURL(const QString& url, const KitImage& image);
  static IdeaPtr createWithLinkToIdea(const QString& targetIdentifier);
  // Reads an idea and its subtree from a keyed decoder.
  static IdeaPtr createWithCoder(KeyedDecoder& coder);

  Idea(Private, QString text, QString identifier);
  ~Idea() override;
  Idea(const Idea&) = delete;
  Idea& operator=(const Idea&) = delete;

  // Content. On a link the getters answer the target's values (none without a target) and
  // every setter but setIconImage and setColorThemeType does nothing.
  QString text() const;
  void setText(const QString& text);
  QString URL() const;
  void setURL(const QString& url);
  // Never an empty text: setting "" stores none.
  QString note() const;
  void setNote(const QString& note);
  ColorPtr color() const;
  void setColor(ColorPtr color);
  IconImagePtr iconImage() const;
  // Stores on the idea itself, links included.
  void setIconImage(IconImagePtr icon);
  // Stored on the idea itself, links included.
  ColorThemeType colorThemeType() const { return colorThemeTypeValue; }
  void setColorThemeType(ColorThemeType type) { colorThemeTypeValue = type; }
  // The small picture, kSmallImageSide square.
  KitImage image() const;
  // The big picture's JPEG bytes; never empty (empty is none).
  QByteArray bigImageData() const;
  // Decoded from bigImageData at each call.
  KitImage bigImage() const;
  // Replaces both pictures from a source picture; a picture without pixels clears both.
  void replaceWithOriginalImage(const KitImage& image);

  IdeaType ideaType() const { return mIdeaType; }
  bool isLink() const { return mIdeaType == IdeaTypeLink; }
  const QString& identifier() const { return mIdentifier; }
  // The target identifier of a link.
  const QString& linkedIdentifier() const { return ex().linkedIdentifier; }
  // The live child list.
  const std::vector<IdeaPtr>& ideas() const { return mIdeas; }
  IdeaPtr parent() const { return mParent.lock(); }
  // A link's target: the non-link idea of this tree with the linked identifier, or none.
  IdeaPtr linkedIdea() const;

  // Text ideas only (a link answers for its target).
  bool hasText() const;
  bool hasURL() const;  // URL ideas only
  bool hasIcon() const;
  bool hasColor() const;
  bool hasNote() const;

  // Tree operations.
  // `index` is clamped to 0…number of children. Nothing happens on a link, and an idea is
  // never inserted into its own subtree.
  void insertIdea(const IdeaPtr& idea, qint64 index);
  // Appends; on a link nothing is added and a soft assertion (line 403) is logged.
  void addIdea(const IdeaPtr& idea);
  // Takes the child out, leaving links to it in place (for moves); a soft assertion
  // (line 460) when no child has the identifier.
  void detachIdea(const QString& identifier);
  // Takes the child out and removes every link of the tree that lost its target; false when
  // no child has the identifier.
  bool removeIdea(const QString& identifier);
  // Takes `idea` out when it is a child; with `removeLinks` the tree's dangling links go too.
  void removeIdea(const IdeaPtr& idea, bool removeLinks);
  // Removes every link of this subtree whose target is not found from the root.
  void ensureLinkConsistencyInSubTree();
  qint64 indexOfIdeaWithIdentifier(const QString& identifier) const;
  // This idea or the first match below it, depth first; links are not searched into.
  IdeaPtr findIdeaInSubTreeWithIdentifier(const QString& identifier) const;
  // True when this idea or an ancestor has the identifier.
  bool couldMyChildBeDescendantOfIdeaWithIdentifier(const QString& identifier) const;
  IdeaPtr root() const;
  // Ideas in this subtree, itself included.
  qint64 calculateWholeTreeSize() const;
  // Pre-order visit with the depth; each child list is copied after the visitor returned.
  using Visitor = std::function<void(const IdeaPtr& idea, qint64 depth)>;
  void traverseNaturally(const Visitor& visitor, qint64 depth) const;
  // A copy without external links keeping levels 0 … depth − 1 (the root at least).
  IdeaPtr ideaByRestrictingDepth(qint64 depth) const;
  // A copy of whole levels whose running total of ideas stays below `count`.
  IdeaPtr ideaByRestrictingElements(qint64 count) const;
  // A copy with new identifiers whose inner links point into the copy; links leading out of
  // it stay (flag set) or become plain ideas holding their target's content (flag clear).
  IdeaPtr deepCopyWithNewIdentifiersPreservingExternalLinks(bool preserveExternalLinks) const;
  IdeaPtr deepCopyWithNewIdentifiersNoExternalLinks() const {
    return deepCopyWithNewIdentifiersPreservingExternalLinks(false);
  }
  // The subtree as it is now, identifiers and links unchanged, sharing pictures and texts:
  // a copy nobody changes, so another thread may read (encode) it while the editor goes on
  // changing the original.
  IdeaPtr snapshotCopy() const { return snapshotCopy(nullptr); }
  // The ideas of a subtree in pre-order, and where its links are in that list.
  struct PreOrder {
    std::vector<std::weak_ptr<Idea>> ideas;
    std::vector<std::int32_t> links;
  };
  // The snapshot copy, listing this subtree's own ideas (the copy's shape) into `live` too.
  IdeaPtr snapshotCopy(PreOrder* live) const;

  // Colour, export and text.
  // The theme the children are coloured from; none without a colour.
  ColorThemePtr colorTheme() const;
  // Child i gets colour i modulo the theme's size; no theme clears the children's colours.
  void applyColorTheme();
  QString exportTitle() const;
  // "<cleaned text, at most 10>.<extension>" (or "document.<extension>"); with a null
  // extension the first 30 characters of the text, or "document".
  QString exportFileNameForType(const QString& extension) const;
  static QString stringFromIdeaType(IdeaType type);
  QString description() const override;
  QString debugDescription() const;

  QString className() const override { return QString::fromLatin1(kClassName); }
  void encodeWithCoder(KeyedEncoder& coder) const override;

 private:
  friend struct IdeaMergeAccess;
  friend struct IdentifierMending;
  IdeaPtr self() const { return std::const_pointer_cast<Idea>(shared_from_this()); }
  const Idea* content() const;
  // Levels 0 … depth − 1 copied with new identifiers, inner links pointing into the copy.
  IdeaPtr copyWithNewIdentifiers(bool preserveExternalLinks, qint64 depth) const;
  void takeContentOf(const Idea* source);
  // Levels 0 … depth − 1 as fresh ideas made by a `Copier` (`IdeaPtr operator()(const Idea&)`:
  // content, not children), each attached to its parent's copy; walked without recursion. A
  // big whole tree is copied in parts by `copiers[1…]` on several threads; `live` as in
  // snapshotCopy.
  template <typename Copier>
  IdeaPtr copyTree(qint64 depth, std::vector<Copier>& copiers, PreOrder* live) const;
  // The fields a copy shares with its source: type, text, colour, theme type and extras.
  void shareContentOf(const Idea& source);
  // Asks the memory for what a copy of this idea reads and writes besides the object itself.
  void prefetchContent() const;
  void appendDebugLines(QString& out, int depth) const;

  // What most ideas never have, kept apart so that an idea stays small and a copy shares it:
  // one block per idea that has any, shared between copies and copied before a change when
  // shared (a snapshot on another thread may be reading it).
  struct Extras {
    QString linkedIdentifier;
    QString url;
    QString note;
    IconImagePtr icon;
    KitImage image;
    QByteArray bigImageData;
  };
  static const Extras& noExtras();
  const Extras& ex() const { return mExtras ? *mExtras : noExtras(); }
  Extras& mut();

  std::vector<IdeaPtr> mIdeas;
  QString mIdentifier;
  std::weak_ptr<Idea> mParent;
  mutable std::weak_ptr<Idea> mLinkedIdea;
  QString mText;
  ColorPtr mColor;
  std::shared_ptr<Extras> mExtras;
  // Both read and written as 32-bit values; sharing one word keeps an idea with its
  // shared-pointer block in 192 bytes of heap rather than 208.
  IdeaType mIdeaType : 32 = IdeaTypeText;
  ColorThemeType colorThemeTypeValue : 32 = ColorThemeTypeLighterColor;
};

}  // namespace orrery
