// The tree edits of the editor. Each changes the idea tree, tells the current radial view what
// changed (so it can animate it) and ends in the save road, which re-sends every planet.

#include "editor_screen/solar_system_view_controller.h"
#include "foundation/application_delegate.h"
#include "foundation/globals.h"
#include "foundation/logging.h"
#include "foundation/views/custom_alert_view.h"
#include "model/document_limits.h"
#include "model/idea_arrival.h"
#include "model/idea_document.h"
#include "model/persistence_controller.h"
#include "shell/my_window.h"

#include <QStringList>

#include <algorithm>

namespace orrery {

namespace {
constexpr char kDeleteConfirmation[] = "DeleteConfirmationForContextMenu";

void complete(const SolarSystemViewController::BoolCompletion& completion, bool result) {
  if (completion) completion(result);
}
}  // namespace

// Positions and lookups.

std::int64_t SolarSystemViewController::indexAfter(std::int64_t adder) const {
  const std::int64_t count = mRealIdea ? static_cast<std::int64_t>(mRealIdea->ideas().size()) : 0;
  return std::max<std::int64_t>(0, std::min(adder + 1, count));
}

std::int64_t SolarSystemViewController::safeInsertionIndexFromFocusIndex(std::int64_t focusIndex) const {
  const std::int64_t count = mRealIdea ? static_cast<std::int64_t>(mRealIdea->ideas().size()) : 0;
  if (count == 0 || focusIndex > count) return 0;
  return focusIndex;
}

IdeaPtr SolarSystemViewController::childIdeaAtFocusIndex(std::int64_t focusIndex) const {
  if (!mRealIdea || focusIndex < 0 || focusIndex >= static_cast<std::int64_t>(mRealIdea->ideas().size()))
    return nullptr;
  return mRealIdea->ideas()[static_cast<std::size_t>(focusIndex)];
}

bool SolarSystemViewController::isInsertionIndexAttachedToIndex(std::int64_t insertion, std::int64_t index,
                                                                std::int64_t count) {
  if (count <= 0) return false;
  auto mod = [count](std::int64_t v) { return ((v % count) + count) % count; };
  return mod(insertion) == mod(index) || mod(insertion + count + 1) == mod(index);
}

std::int64_t SolarSystemViewController::indexOfIdeaWithIdentifier(const QString& ideaIdentifier) const {
  if (!mRealIdea) return kNotFound;
  const auto& children = mRealIdea->ideas();
  for (std::size_t i = 0; i < children.size(); ++i)
    if (children[i]->identifier() == ideaIdentifier) return static_cast<std::int64_t>(i);
  return kNotFound;
}

IdeaPtr SolarSystemViewController::childIdeaWithIdentifier(const QString& ideaIdentifier) const {
  const std::int64_t index = indexOfIdeaWithIdentifier(ideaIdentifier);
  return index == kNotFound ? nullptr : mRealIdea->ideas()[static_cast<std::size_t>(index)];
}

std::int64_t SolarSystemViewController::indexForIdea(const QString& ideaIdentifier,
                                                     const QString& /*docIdentifier*/) const {
  return indexOfIdeaWithIdentifier(ideaIdentifier);
}

bool SolarSystemViewController::isOurCentralIdea(const QString& ideaIdentifier) const {
  return mRealIdea && mRealIdea->identifier() == ideaIdentifier;
}

bool SolarSystemViewController::isOurParentIdea(const QString& ideaIdentifier) const {
  IdeaPtr parent = mOwnIdea ? mOwnIdea->parent() : nullptr;
  return parent && parent->identifier() == ideaIdentifier;
}

bool SolarSystemViewController::isOurChildIdea(const QString& ideaIdentifier) const {
  return indexOfIdeaWithIdentifier(ideaIdentifier) != kNotFound;
}

// Edits.

IdeaArrival SolarSystemViewController::copyOf(const IdeaPtr& idea, const Idea& parent) const {
  // Inside the same tree the copy's links keep their targets.
  const IdeaPtr root = idea->root();
  const bool sameTree = root && mRootIdea && root->identifier() == mRootIdea->identifier();
  return IdeaArrival::copyOf(*idea, parent, sameTree);
}

bool SolarSystemViewController::roomFor(const IdeaArrival& arrival) {
  if (!mDoc || mDoc->makeRoomFor(arrival.added, arrival.removed)) return true;
  const bool tooDeep = arrival.added.deepest > DocumentLimits::kMaxDepth;
  // The log names each limit that refused.
  const DocumentSize after = mDoc->sizeWith(arrival.added, arrival.removed);
  QStringList refused;
  if (tooDeep) refused << QStringLiteral("ideas %1 levels deep").arg(arrival.added.deepest);
  if (after.longestText > DocumentLimits::kMaxTextLength)
    refused << QStringLiteral("a text of %1 characters").arg(after.longestText);
  if (after.jsonBytes > DocumentLimits::kMaxJSONBytes)
    refused << QStringLiteral("%1 more bytes").arg(arrival.added.jsonBytes - arrival.removed.jsonBytes);
  if (after.objects > DocumentLimits::kMaxObjects)
    refused << QStringLiteral("%1 more ideas and icons").arg(arrival.added.objects - arrival.removed.objects);
  logLine(QStringLiteral("%1: no room for %2").arg(mDoc->filePath(), refused.join(QStringLiteral(" and "))));
  showNonblockingAlertViewWithTitle(QString(),
                                    tooDeep ? DocumentLimits::tooDeepMessage() : DocumentLimits::documentFullMessage());
  return false;
}

void SolarSystemViewController::keepInDock(const IdeaPtr& idea) {
  DragSupportWindow* window = dragWindow();
  if (window && !window->currentDockedIdea()) window->setDockedIdea(idea, QString());
  updateStatusDueToPossibleDockingUpdate();
}

bool SolarSystemViewController::insertIntoRealIdea(const IdeaPtr& idea, std::int64_t index) {
  if (!mRealIdea) return false;
  mRealIdea->insertIdea(idea, index);
  return true;
}

void SolarSystemViewController::addNewIdeaAfterIndex(std::int64_t adder, const IdeaPtr& idea,
                                                     const BoolCompletion& /*completion*/) {
  if (!idea || !mRealIdea) return;
  if (!roomFor(IdeaArrival::of(idea, *mRealIdea))) return keepInDock(idea);
  insertIntoRealIdea(idea, indexAfter(adder));
  if (mSolarSystem) mSolarSystem->insertIdea(idea, adder);
  updateSolarSystemAndSaveDocument();
}

void SolarSystemViewController::removeExternalIdea(const IdeaPtr& idea, const QString& docIdentifier,
                                                   const BoolCompletion& completion) {
  if (!idea) return complete(completion, false);
  PersistenceController::singleton().deleteIdea(idea->identifier(), docIdentifier,
                                                [completion](bool ok) { complete(completion, ok); });
}

void SolarSystemViewController::moveIdeaAfter(const IdeaPtr& idea, const QString& docIdentifier, std::int64_t adder,
                                              const BoolCompletion& completion) {
  if (!idea || !mRealIdea || !mRootIdea) return complete(completion, false);
  const std::int64_t k = indexAfter(adder);
  if (!mDoc || docIdentifier.isEmpty() || docIdentifier != mDoc->docIdentifier()) {
    // The copy that goes in is the one measured; the source keeps its idea unless it does.
    const IdeaArrival arrival = IdeaArrival::copyOf(*idea, *mRealIdea, /*keepingLinks=*/false);
    if (!roomFor(arrival)) return complete(completion, false);
    const IdeaPtr& copy = arrival.idea;
    if (mSolarSystem) mSolarSystem->insertIdea(copy, adder);
    insertIntoRealIdea(copy, k);
    updateSolarSystemAndSaveDocument();
    return removeExternalIdea(idea, docIdentifier, completion);
  }
  IdeaPtr moved = mRootIdea->findIdeaInSubTreeWithIdentifier(idea->identifier());
  ORRERY_SOFT_ASSERT(moved, "-[SolarSystemViewController moveIdea:fromDocument:after:completion:]");
  if (!moved) return complete(completion, false);
  // An idea cannot go into its own subtree: once detached it could not be inserted and would
  // be lost.
  if (mRealIdea->couldMyChildBeDescendantOfIdeaWithIdentifier(moved->identifier()) ||
      !roomFor(IdeaArrival::moveOf(moved, *mRealIdea)))
    return complete(completion, false);
  const std::int64_t c = indexOfIdeaWithIdentifier(moved->identifier());
  if (c == kNotFound) {
    IdeaPtr parent = moved->parent();
    if (!parent) return complete(completion, false);
    parent->detachIdea(moved->identifier());
    if (mSolarSystem) mSolarSystem->insertIdea(moved, adder);
    insertIntoRealIdea(moved, k);
  } else {
    mRealIdea->detachIdea(moved->identifier());
    if (mSolarSystem) mSolarSystem->moveIdea(moved, c, k);
    insertIntoRealIdea(moved, c < k ? k - 1 : k);
  }
  updateSolarSystemAndSaveDocument();
  complete(completion, true);
}

void SolarSystemViewController::moveIdeaInside(const IdeaPtr& idea, const QString& docIdentifier, std::int64_t planet,
                                               const BoolCompletion& completion) {
  IdeaPtr target = childIdeaAtFocusIndex(planet);
  if (!idea || !target || !mRootIdea) return complete(completion, false);
  if (!mDoc || docIdentifier.isEmpty() || docIdentifier != mDoc->docIdentifier()) {
    const IdeaArrival arrival = IdeaArrival::copyOf(*idea, *target, /*keepingLinks=*/false);
    if (!roomFor(arrival)) return complete(completion, false);
    target->addIdea(arrival.idea);
    updateSolarSystemAndSaveDocument();
    return removeExternalIdea(idea, docIdentifier, completion);
  }
  IdeaPtr moved = mRootIdea->findIdeaInSubTreeWithIdentifier(idea->identifier());
  ORRERY_SOFT_ASSERT(moved, "-[SolarSystemViewController moveIdea:fromDocument:inside:completion:]");
  if (!moved) return complete(completion, false);
  if (target->isLink() || target->couldMyChildBeDescendantOfIdeaWithIdentifier(moved->identifier()) ||
      !roomFor(IdeaArrival::moveOf(moved, *target)))
    return complete(completion, false);
  const std::int64_t c = indexOfIdeaWithIdentifier(moved->identifier());
  if (c == kNotFound) {
    IdeaPtr parent = moved->parent();
    if (!parent) return complete(completion, false);
    parent->detachIdea(moved->identifier());
  } else {
    mRealIdea->detachIdea(moved->identifier());
    if (mSolarSystem) mSolarSystem->removeIdeaAtIndex(c);
  }
  target->addIdea(moved);
  updateSolarSystemAndSaveDocument();
  complete(completion, true);
}

void SolarSystemViewController::moveToParentTheIdea(const IdeaPtr& idea, const QString& docIdentifier,
                                                    const BoolCompletion& completion) {
  IdeaPtr parent = mOwnIdea ? mOwnIdea->parent() : nullptr;
  if (!idea || !parent || !mRootIdea) return complete(completion, false);
  if (!mDoc || docIdentifier.isEmpty() || docIdentifier != mDoc->docIdentifier()) {
    const IdeaArrival arrival = IdeaArrival::copyOf(*idea, *parent, /*keepingLinks=*/false);
    if (!roomFor(arrival)) return complete(completion, false);
    parent->addIdea(arrival.idea);
    updateSolarSystemAndSaveDocument();
    return removeExternalIdea(idea, docIdentifier, completion);
  }
  IdeaPtr moved = mRootIdea->findIdeaInSubTreeWithIdentifier(idea->identifier());
  if (!moved || parent->couldMyChildBeDescendantOfIdeaWithIdentifier(moved->identifier()) ||
      !roomFor(IdeaArrival::moveOf(moved, *parent)))
    return complete(completion, false);
  const std::int64_t c = indexOfIdeaWithIdentifier(moved->identifier());
  if (c != kNotFound) {
    mRealIdea->detachIdea(moved->identifier());
    if (mSolarSystem) mSolarSystem->removeIdeaAtIndex(c);
  } else if (IdeaPtr own = moved->parent()) {
    own->detachIdea(moved->identifier());
  } else {
    return complete(completion, false);
  }
  parent->addIdea(moved);
  updateSolarSystemAndSaveDocument();
  complete(completion, true);
}

void SolarSystemViewController::copyIdeaAfter(const IdeaPtr& idea, std::int64_t adder,
                                              const BoolCompletion& completion) {
  if (!idea || !mRealIdea) return complete(completion, false);
  const IdeaArrival arrival = copyOf(idea, *mRealIdea);
  if (!roomFor(arrival)) return complete(completion, false);
  const IdeaPtr& copy = arrival.idea;
  insertIntoRealIdea(copy, indexAfter(adder));
  if (mSolarSystem) mSolarSystem->insertIdea(copy, adder);
  updateSolarSystemAndSaveDocument();
  complete(completion, true);
}

void SolarSystemViewController::copyIdeaInside(const IdeaPtr& idea, std::int64_t planet,
                                               const BoolCompletion& completion) {
  IdeaPtr target = childIdeaAtFocusIndex(planet);
  if (!idea || !target || target->isLink()) return complete(completion, false);
  const IdeaArrival arrival = copyOf(idea, *target);
  if (!roomFor(arrival)) return complete(completion, false);
  target->addIdea(arrival.idea);
  updateSolarSystemAndSaveDocument();
  complete(completion, true);
}

void SolarSystemViewController::copyToParentTheIdea(const IdeaPtr& idea, const BoolCompletion& completion) {
  IdeaPtr parent = mOwnIdea ? mOwnIdea->parent() : nullptr;
  if (!idea || !parent) return complete(completion, false);
  const IdeaArrival arrival = copyOf(idea, *parent);
  if (!roomFor(arrival)) return complete(completion, false);
  parent->addIdea(arrival.idea);
  updateSolarSystemAndSaveDocument();
  complete(completion, true);
}

void SolarSystemViewController::createLinkToIdea(const IdeaPtr& idea, std::int64_t adder,
                                                 const BoolCompletion& completion) {
  if (!idea || !mRealIdea) return complete(completion, false);
  IdeaPtr link = Idea::createWithLinkToIdea(idea->identifier());
  if (!roomFor(IdeaArrival::of(link, *mRealIdea))) return complete(completion, false);
  insertIntoRealIdea(link, indexAfter(adder));
  if (mSolarSystem) mSolarSystem->insertIdea(link, adder);
  updateSolarSystemAndSaveDocument();
  complete(completion, true);
}

bool SolarSystemViewController::deleteIdeaWithIdentifier(const QString& ideaIdentifier) {
  const std::int64_t index = indexOfIdeaWithIdentifier(ideaIdentifier);
  if (index == kNotFound || !mDoc) return false;
  ApplicationDelegate* app = Globals::app();
  const bool allowed = app ? app->canWeSafelyDeleteIdea(ideaIdentifier, mDoc->docIdentifier())
                           : canWeSafelyDeleteIdea(ideaIdentifier, mDoc->docIdentifier());
  if (!allowed) {
    showNonblockingAlertViewWithTitle(
        QString(), Globals::normalLocalizedStringForKey(
                       QString(), QStringLiteral("Document is open in other window. Please close the window before "
                                                 "deleting document.")));
    return false;
  }
  // The links into the deleted subtree go with it; some of them may be planets of this orbit.
  const std::vector<IdeaPtr> before = mRealIdea->ideas();
  mRealIdea->removeIdea(ideaIdentifier);
  const auto& after = mRealIdea->ideas();
  for (std::int64_t i = static_cast<std::int64_t>(before.size()) - 1; i >= 0; --i) {
    const bool kept = std::find(after.begin(), after.end(), before[static_cast<std::size_t>(i)]) != after.end();
    if (!kept && mSolarSystem) mSolarSystem->removeIdeaAtIndex(i);
  }
  updateSolarSystemAndSaveDocument();
  return true;
}

bool SolarSystemViewController::canWeSafelyDeleteIdea(const QString& ideaIdentifier, const QString& docIdentifier) {
  if (!mDoc || docIdentifier != mDoc->docIdentifier() || !mOwnIdea) return true;
  // An empty identifier stands for the whole document, which this window shows.
  if (ideaIdentifier.isEmpty()) return false;
  for (IdeaPtr idea = mOwnIdea; idea; idea = idea->parent())
    if (idea->identifier() == ideaIdentifier) return false;
  return true;
}

void SolarSystemViewController::onDeleteItem(const QString& ideaIdentifier) {
  IdeaPtr child = childIdeaWithIdentifier(ideaIdentifier);
  if (!child || screenOccupied()) return;
  if (child->isLink()) {
    deleteIdeaWithIdentifier(ideaIdentifier);
    return;
  }
  QString message;
  if (!child->ideas().empty())
    message = QString::asprintf("Element contains %d sub-elements. Are you sure?",
                                static_cast<int>(child->calculateWholeTreeSize() - 1));
  else if (child->ideaType() == IdeaTypeImage)
    message = QStringLiteral("Element contains an image. Are you sure?");
  else if (child->hasNote())
    message = QStringLiteral("Element contains a note. Are you sure?");
  if (message.isEmpty()) {
    deleteIdeaWithIdentifier(ideaIdentifier);
    return;
  }
  CustomAlertView alert(Globals::normalLocalizedStringForKey(QString(), QStringLiteral("Delete")),
                        Globals::normalLocalizedStringForKey(QString(), message));
  std::weak_ptr<SolarSystemViewController> weak = self();
  const QString operation = QString::fromLatin1(kDeleteConfirmation);
  alert.addButton(Globals::normalLocalizedStringForKey(QStringLiteral("Choice.Delete"), QStringLiteral("Delete")),
                  CAVButton::kDestructive, [weak, operation, ideaIdentifier] {
                    auto me = weak.lock();
                    if (!me) return;
                    me->liberateScreen(operation);
                    me->deleteIdeaWithIdentifier(ideaIdentifier);
                  });
  alert.addButton(Globals::normalLocalizedStringForKey(QStringLiteral("Choice.Cancel"), QStringLiteral("Cancel")),
                  CAVButton::kCancel, [weak, operation] {
                    if (auto me = weak.lock()) me->liberateScreen(operation);
                  });
  occupyScreen(operation);
  alert.showFromWindow(myWindow());
}

}  // namespace orrery
