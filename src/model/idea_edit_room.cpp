#include "model/idea_edit_room.h"

#include "model/color.h"
#include "model/color_theme.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "model/idea_merge.h"

#include <algorithm>

namespace orrery {

IdeaEditRoom::IdeaEditRoom(std::shared_ptr<IdeaDocument> document, const std::shared_ptr<Idea>& idea)
    : mDocument(std::move(document)),
      mIdea(idea),
      mShown(idea ? ideaValuesOf(*idea) : Idea::createWithText(QString())) {
  mShownSize = sizeOf(*mShown);
}

IdeaEditRoom::~IdeaEditRoom() { end(/*applied=*/false); }

DocumentSize IdeaEditRoom::sizeOf(const Idea& values) const { return DocumentSize::of(values, /*level=*/1); }

bool IdeaEditRoom::holdRoomFor(Part part, const std::function<void(Idea&)>& change, bool recolor) {
  mRefusal.clear();
  const std::shared_ptr<Idea> values = ideaValuesOf(*mShown);
  change(*values);
  const DocumentSize size = sizeOf(*values);
  if (size.longestText > DocumentLimits::kMaxTextLength) {
    mRefusal = DocumentLimits::textTooLongMessage();
    return false;
  }
  const qint64 bytes = size.jsonBytes - mShownSize.jsonBytes + (recolor ? recoloredBytes(*values) : 0);
  const qint64 objects = size.objects - mShownSize.objects;
  std::array<DocumentSize, kPartCount> most = mMost;
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

void IdeaEditRoom::end(bool applied) {
  if (const auto document = mDocument.lock()) document->releaseRoom(this, applied);
  mMost = {};
}

qint64 IdeaEditRoom::recoloredBytes(const Idea& values) const {
  const std::shared_ptr<Idea> idea = mIdea.lock();
  if (!idea) return 0;
  // As Idea::applyColorTheme colours them; a link keeps no colour of its own.
  const ColorThemePtr theme = values.colorTheme();
  const std::size_t count = theme ? theme->colors().size() : 0;
  qint64 bytes = 0;
  const auto& children = idea->ideas();
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
