#pragma once
// The room an edit of one existing idea takes in its map while a panel is open on it: its title,
// note, colours, icon, picture or web address change there, and the presenter applies them when
// the panel closes. Each change is asked for where it is made (a key, a paste, a chosen icon, a
// replaced picture); what it lets in is held in the document, so no other way in takes that room
// before the close, and the applied edit can always be written.
//
// Each part of the idea holds the most it ever took during the edit, not what it takes now: an
// undo in the title or the note may bring back any text it held, and it asks nobody. Main thread
// only.

#include "model/color.h"
#include "model/document_limits.h"

#include <QHash>
#include <QString>

#include <array>
#include <functional>
#include <memory>

namespace orrery {

class Idea;
class IdeaDocument;

class IdeaEditRoom {
 public:
  // The parts of an idea an edit changes apart. The colours include a recolouring of the
  // children; the picture of a web link comes with its address.
  enum Part { Title, Note, Colors, Icon, Picture };
  static constexpr std::size_t kParts = 5;

  // For an edit of `idea`'s values as they are now; without a document nothing is refused but a
  // text beyond the longest a map holds.
  IdeaEditRoom(std::shared_ptr<IdeaDocument> document, const std::shared_ptr<Idea>& idea);
  // Gives back what it holds.
  ~IdeaEditRoom();
  IdeaEditRoom(const IdeaEditRoom&) = delete;
  IdeaEditRoom& operator=(const IdeaEditRoom&) = delete;

  // Whether the idea's `part`, as `change` makes it on a copy of the values the edit began with
  // (and, with `recolor`, its children coloured by the copy's rule), keeps the map within its
  // limits. When it does, the room stays held; when not, nothing changes and refusal() says why.
  bool holdRoomFor(Part part, const std::function<void(Idea&)>& change, bool recolor = false);
  const QString& refusal() const { return mRefusal; }
  // The edit's close: `change` is made to `target`, the idea as it is now (another instance may
  // have changed it since the edit began), with its children recoloured when `recolor`, and
  // counted as let in, when the map has room for what that adds; otherwise nothing changes and
  // the answer is false. The hold is given back either way.
  bool applyTo(Idea& target, const std::function<void(Idea&)>& change, bool recolor = false);
  // The edit ends unapplied.
  void giveBack();

 private:
  // The idea edited, in the document's tree as it is now.
  std::shared_ptr<Idea> currentIdea() const;
  // What recolouring `idea`'s children by the rule of `values` adds to them, in bytes.
  qint64 recoloredBytes(const Idea& values, const Idea& idea) const;
  qint64 colorBytes(const ColorPtr& color) const;

  std::weak_ptr<IdeaDocument> mDocument;
  std::weak_ptr<Idea> mIdea;
  // The values the edit began with, and their measure.
  std::shared_ptr<Idea> mShown;
  DocumentSize mShownSize;
  // The most each part took beyond what it took at the start.
  std::array<DocumentSize, kParts> mMost{};
  QString mRefusal;
  // The bytes a colour of each name takes in an idea, as asked so far.
  mutable QHash<QString, qint64> mColorBytes;
};

}  // namespace orrery
