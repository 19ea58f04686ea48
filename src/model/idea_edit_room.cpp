#include "model/idea_edit_room.h"

#include "model/color.h"
#include "model/color_theme.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "model/idea_merge.h"

#include <algorithm>
#include <cstdlib>

namespace orrery {

namespace {
// An idea's own values as the file holds them (its children not counted).
DocumentSize sizeOf(const Idea& values) { return DocumentSize::of(values, /*level=*/1); }
}  // namespace

IdeaEditRoom::IdeaEditRoom(std::shared_ptr<IdeaDocument> document, const std::shared_ptr<Idea>& idea)
    : mDocument(std::move(document)),
      mIdea(idea),
      mShown(idea ? ideaValuesOf(*idea) : Idea::createWithText(QString())) {
  mShownSize = sizeOf(*mShown);
}

IdeaEditRoom::~IdeaEditRoom() { giveBack(); }

bool IdeaEditRoom::holdRoomFor(Part part, const std::function<void(Idea&)>& change, bool recolor) {
  mRefusal.clear();
  const std::shared_ptr<Idea> values = ideaValuesOf(*mShown);
  change(*values);
  const DocumentSize size = sizeOf(*values);
  if (size.longestText > DocumentLimits::kMaxTextLength) {
    mRefusal = DocumentLimits::textTooLongMessage();
    return false;
  }
  const std::shared_ptr<Idea> idea = recolor ? currentIdea() : nullptr;
  const qint64 bytes = size.jsonBytes - mShownSize.jsonBytes + (idea ? recoloredBytes(*values, *idea) : 0);
  const qint64 objects = size.objects - mShownSize.objects;
  std::array<DocumentSize, kParts> most = mMost;
  most[part].jsonBytes = std::max(most[part].jsonBytes, bytes);
  most[part].objects = std::max(most[part].objects, objects);
  DocumentSize held;
  for (const DocumentSize& taken : most) held = held.changedBy(taken);
  // What takes no more than the values it began with is never refused, whatever the map holds.
  const bool takesRoom = held.jsonBytes > 0 || held.objects > 0;
  if (const auto document = mDocument.lock(); document && takesRoom && !document->holdRoom(this, held)) {
    mRefusal = DocumentLimits::documentFullMessage();
    return false;
  }
  mMost = most;
  return true;
}

bool IdeaEditRoom::applyTo(Idea& target, const std::function<void(Idea&)>& change, bool recolor) {
  const std::shared_ptr<Idea> before = ideaValuesOf(target);
  const std::shared_ptr<Idea> after = ideaValuesOf(target);
  change(*after);
  giveBack();
  DocumentSize added = sizeOf(*after);
  DocumentSize removed = sizeOf(*before);
  // The children's colours, by the same measure: what they take more goes with the added side.
  const qint64 recolored = recolor ? recoloredBytes(*after, target) : 0;
  (recolored > 0 ? added : removed).jsonBytes += std::abs(recolored);
  const bool takesRoom = added.jsonBytes > removed.jsonBytes || added.objects > removed.objects;
  if (const auto document = mDocument.lock(); document && takesRoom && !document->makeRoomFor(added, removed)) {
    mRefusal = DocumentLimits::documentFullMessage();
    return false;
  }
  change(target);
  if (recolor) target.applyColorTheme();
  return true;
}

void IdeaEditRoom::giveBack() {
  if (const auto document = mDocument.lock()) document->releaseRoom(this);
  mMost = {};
}

std::shared_ptr<Idea> IdeaEditRoom::currentIdea() const {
  const auto document = mDocument.lock();
  const std::shared_ptr<Idea> root = document ? document->idea() : nullptr;
  std::shared_ptr<Idea> idea = mIdea.lock();
  if (idea && (!root || idea->root() == root)) return idea;
  // Another instance's version took the tree's place meanwhile.
  return root ? root->findIdeaInSubTreeWithIdentifier(mShown->identifier()) : idea;
}

qint64 IdeaEditRoom::recoloredBytes(const Idea& values, const Idea& idea) const {
  // As Idea::applyColorTheme colours them; a link keeps no colour of its own.
  const ColorThemePtr theme = values.colorTheme();
  const std::size_t count = theme ? theme->colors().size() : 0;
  qint64 bytes = 0;
  const auto& children = idea.ideas();
  for (std::size_t i = 0; i < children.size(); ++i) {
    if (children[i]->isLink()) continue;
    bytes += colorBytes(count > 0 ? theme->colors()[i % count] : nullptr) - colorBytes(children[i]->color());
  }
  return bytes;
}

qint64 IdeaEditRoom::colorBytes(const ColorPtr& color) const {
  if (!color) return 0;
  const auto known = mColorBytes.constFind(color->name());
  if (known != mColorBytes.constEnd()) return *known;
  const std::shared_ptr<Idea> probe = Idea::createWithText(QString(), QStringLiteral("probe"));
  const qint64 without = sizeOf(*probe).jsonBytes;
  probe->setColor(color);
  const qint64 bytes = sizeOf(*probe).jsonBytes - without;
  mColorBytes.insert(color->name(), bytes);
  return bytes;
}

}  // namespace orrery
