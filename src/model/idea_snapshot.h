#pragma once
// An immutable pre-order array of one idea's subtree: per idea what drawing, hit tests and
// exports read, with link content already resolved. Taken from the tree's one snapshot copy
// (`Idea::snapshotCopy`, or a document snapshot's tree), so it never reads ideas the editor is
// changing; once made it may be read from any thread. Only the weak references back to the
// live ideas are main-thread business (`liveIdea`).

#include "foundation/kit_image.h"
#include "model/color.h"
#include "model/icon_image.h"
#include "model/idea.h"

#include <QHash>

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace orrery {

struct IdeaSnapshotNode {
  QString identifier;
  IdeaType type = IdeaTypeText;
  // The type of the idea that answers the content: the target's for a link, Undefined for
  // a link without target.
  IdeaType contentType = IdeaTypeText;
  QString text;
  QString exportTitle;
  QString note;
  QString url;
  ColorPtr color;
  IconImagePtr icon;
  KitImage image;
  // A link's target identifier (as stored), and the target's index in the snapshot, -1 when
  // the target is not in it.
  QString targetIdentifier;
  std::int32_t targetIndex = -1;
  std::int32_t parent = -1;
  std::int32_t depth = 0;
  std::int32_t childCount = 0;
  // One past the last descendant: the children of node i start at i + 1 and each next sibling
  // at the previous one's subtreeEnd.
  std::int32_t subtreeEnd = 0;

  bool isLink() const { return type == IdeaTypeLink; }
  bool hasNote() const { return contentType == IdeaTypeText && !note.isEmpty(); }
  bool hasURL() const { return contentType == IdeaTypeURL && !url.isEmpty(); }
};

class IdeaSnapshot;
using IdeaSnapshotPtr = std::shared_ptr<const IdeaSnapshot>;

class IdeaSnapshot {
  struct Private {};

 public:
  // Main thread: snapshots the idea's subtree now and remembers the live ideas. A link whose
  // target lies outside the subtree answers its target's content read now.
  static IdeaSnapshotPtr create(const IdeaPtr& live);
  // `create` in two steps, so the costly one runs off the main thread: `capture` (main
  // thread) copies the subtree and notes its live ideas, `createFromCapture` (any thread)
  // indexes the copy.
  struct Capture {
    IdeaPtr frozen;
    std::vector<std::weak_ptr<Idea>> live;  // pre-order, the copy's shape
    // Links whose target lies outside the subtree: pre-order index, the target's own content.
    QHash<std::int32_t, IdeaSnapshotNode> outsideTargets;
  };
  static Capture capture(const IdeaPtr& live);
  static IdeaSnapshotPtr createFromCapture(Capture capture);
  // Any thread: an index over a copy nobody changes (a document snapshot's tree); no live
  // ideas behind it.
  static IdeaSnapshotPtr createFromFrozen(const IdeaPtr& frozen);

  IdeaSnapshot(Private) {}

  std::int32_t size() const { return static_cast<std::int32_t>(mNodes.size()); }
  bool empty() const { return mNodes.empty(); }
  const IdeaSnapshotNode& node(std::int32_t index) const { return mNodes[static_cast<std::size_t>(index)]; }
  const std::vector<IdeaSnapshotNode>& nodes() const { return mNodes; }
  // Main thread only: the live idea of a node, none once it is gone or without live ideas.
  IdeaPtr liveIdea(std::int32_t index) const;
  // The first node in pre-order with the identifier, -1 when none.
  std::int32_t indexOfIdentifier(const QString& identifier) const;

 private:
  void build(const IdeaPtr& frozen, Capture* capture);

  std::vector<IdeaSnapshotNode> mNodes;
  std::vector<std::weak_ptr<Idea>> mLive;
};

}  // namespace orrery
