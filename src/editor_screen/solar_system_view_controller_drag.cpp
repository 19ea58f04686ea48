// Drags over the editor: what a drop would land on, the choice menu a drop on the radial view
// asks, the tree operation it turns into, and the dock well that shows the window's slot.
// Every drop ends exactly once in handleDragEndWithResult, which reports to the window.

#include "editor_screen/solar_system_view_controller.h"
#include "foundation/globals.h"
#include "foundation/logging.h"
#include "foundation/views/delete_area_view.h"
#include "foundation/views/modal_choice_controller.h"
#include "foundation/views/view_extensions.h"
#include "model/idea_document.h"
#include "shell/my_window.h"
#include "shell/top_bar_view.h"

#include <QLineF>

namespace orrery {

namespace {
constexpr double kGravity = 80;
constexpr char kDelete[] = "Choice.Delete";
constexpr char kMoveInside[] = "Choice.MoveInside";
constexpr char kCopyInside[] = "Choice.CopyInside";
constexpr char kMoveHere[] = "Choice.MoveHere";
constexpr char kCopyHere[] = "Choice.CopyHere";
constexpr char kCreateLink[] = "Choice.CreateLink";

QString choiceTitle(const char* key) {
  return Globals::normalLocalizedStringForKey(QString::fromLatin1(key), QString());
}

// Whether `point` (window coordinates) lies within the gravity radius of the view's centre.
bool near(const platform::View* view, const QPointF& point) {
  if (!view || !view->superview()) return false;
  const QPointF inSuper = view->superview()->convertPoint(point, nullptr);
  return QLineF(inSuper, view->frame().center()).length() < kGravity;
}

QRectF frameInWindow(const platform::View& view) {
  return view.superview() ? view.superview()->convertRectToView(view.frame(), nullptr) : view.frame();
}
}  // namespace

DragSupportWindow* SolarSystemViewController::dragWindow() const {
  return dynamic_cast<DragSupportWindow*>(myWindow());
}

QRectF SolarSystemViewController::radialRectInWindow(const QRectF& rect) const {
  return mSolarSystem ? mSolarSystem->convertRectToView(rect, nullptr) : rect;
}

// The dock well.

void SolarSystemViewController::addDockAreaIfPossible() {
  if (!isViewLoaded() || !view()->window() || mDockAreaView) return;
  mDockAreaView = std::make_shared<DockAreaView>();
  mDockAreaView->setDelegate(this);
  DragSupportWindow* window = dragWindow();
  const bool docked = window && window->currentDockedIdea();
  mDockAreaView->setHidden(!(mSolarSystemState == kSolarSystemStateRadial && docked));
  view()->addSubview(mDockAreaView);
  if (window) mDockAreaView->takeIdeaInside(window->currentDockedIdea(), window->currentDockedDocIdentifier());
}

void SolarSystemViewController::layoutDockArea() {
  if (!mDockAreaView || !mTopBar) return;
  viewext::setCenter(*mDockAreaView, QPointF(view()->bounds().width() - 30, mTopBar->bottomFrameLine() + 30));
  viewext::ensureIntegralFrame(*mDockAreaView);
}

void SolarSystemViewController::updateStatusDueToPossibleDockingUpdate() {
  DragSupportWindow* window = dragWindow();
  const IdeaPtr docked = window ? window->currentDockedIdea() : nullptr;
  const QString docIdentifier = window ? window->currentDockedDocIdentifier() : QString();
  if (mDockAreaView) {
    mDockAreaView->takeIdeaInside(docked, docIdentifier);
    mDockAreaView->setHidden(!docked);
  }
  updateShadowStatusForIdea(docked ? docked->identifier() : QString(), docIdentifier);
}

// Starting drags: the window runs them.

void SolarSystemViewController::startDragForIdea(const QString& ideaIdentifier, const QRectF& rect,
                                                 const std::optional<platform::Event>& event) {
  DragSupportWindow* window = dragWindow();
  const IdeaPtr idea = ideaForIdea(ideaIdentifier);
  if (!window || !event || !idea || !mSolarSystem) return;
  const DragReturnTarget back{kDragTargetStart, radialRectInWindow(rect), 0};
  auto example = std::make_shared<SimpleIdeaView>(3);
  example->updateWithIdea(idea, mDoc ? mDoc->docIdentifier() : QString());
  window->startDragForEvent(*event, *mSolarSystem, example, back);
}

void SolarSystemViewController::dragFromDockAreaWithIdeaView(const std::shared_ptr<SimpleIdeaView>& ideaView,
                                                             const platform::Event& event) {
  DragSupportWindow* window = dragWindow();
  if (!window || !mSolarSystem || !mDockAreaView) {
    updateStatusDueToPossibleDockingUpdate();
    return;
  }
  const DragReturnTarget back{kDragTargetDock, frameInWindow(*mDockAreaView), kGravity};
  window->startDragForEvent(event, *mSolarSystem, ideaView, back);
}

// The window's questions.

bool SolarSystemViewController::dragOperationStarted(const DragInfo& info) {
  mIdeaBeingAccepted.reset();
  mIdeaBeingAcceptedDocIdentifier.clear();
  if (mSolarSystem) {
    mSolarSystem->stopFocusing();
    mSolarSystem->setDockingMode(true);
  }
  if (mDockAreaView) mDockAreaView->setHidden(false);
  if (mDeleteAreaView) mDeleteAreaView->setHidden(info.source != kDragSourceThisWindow);
  if (info.objectType == kDragObjectIdea)
    if (const auto* idea = dynamic_cast<const DragInfoForIdea*>(&info))
      updateShadowStatusForIdea(idea->ideaIdentifier, idea->docIdentifier);
  return true;
}

DragReturnTarget SolarSystemViewController::dragOperationUpdate(const DragInfo& info) {
  DragReturnTarget target;
  if (mSolarSystem) {
    const QPointF inRadial = mSolarSystem->convertPoint(info.location, nullptr);
    mSolarSystem->updateFocusBasedOnPoint(inRadial, mSolarSystem.get());
    if (const auto& focus = mSolarSystem->currentFocusObject())
      target = {kDragTargetContent, radialRectInWindow(focus->focusRect()), 0};
  }
  if (mDockAreaView && near(mDockAreaView.get(), info.location))
    target = {kDragTargetDock, frameInWindow(*mDockAreaView), kGravity};
  if (mDeleteAreaView && near(mDeleteAreaView.get(), info.location)) {
    const QRectF frame = frameInWindow(*mDeleteAreaView);
    const double dx = frame.width() * 0.2, dy = frame.height() * 0.2;
    target = {kDragTargetDeleteArea, frame.adjusted(dx, dy, -dx, -dy), kGravity};
  }
  return target;
}

void SolarSystemViewController::dragOperationExited() {
  if (mSolarSystem) {
    mSolarSystem->stopFocusing();
    mSolarSystem->setDockingMode(false);
  }
  if (mDeleteAreaView) mDeleteAreaView->setHidden(true);
}

void SolarSystemViewController::dragOperationEnded(const DragInfo& info, const IdeaPtr& idea,
                                                   const QString& docIdentifier, DragResultCompletion completion) {
  const DragReturnTarget target = dragOperationUpdate(info);
  const bool outOfOwnDock = info.source == kDragSourceThisWindow && info.returnTarget.object == kDragTargetDock;
  std::weak_ptr<SolarSystemViewController> weak = self();
  mAfterAcceptance = [weak, outOfOwnDock, target, completion](DragResult result) {
    auto me = weak.lock();
    if (me && result != kDragResultRefused && outOfOwnDock && target.object != kDragTargetDock) {
      if (DragSupportWindow* window = me->dragWindow()) window->setDockedIdea(nullptr, QString());
      me->updateStatusDueToPossibleDockingUpdate();
    }
    if (completion) completion(result);
  };
  mIdeaBeingAccepted = idea;
  mIdeaBeingAcceptedDocIdentifier = docIdentifier;
  switch (target.object) {
    case kDragTargetNothing: return handleDragEndWithResult(kDragResultRefused);
    case kDragTargetContent:
      if (mSolarSystem && mSolarSystem->currentFocusObject()) return acceptDraggedIdeaToSolarSystem();
      ORRERY_SOFT_ASSERT(false, "-[SolarSystemViewController dragOperationEnded:acceptIdea:fromDocument:]");
      return handleDragEndWithResult(kDragResultRefused);
    case kDragTargetDock: {
      const bool ours = mDoc && docIdentifier == mDoc->docIdentifier();
      if (DragSupportWindow* window = dragWindow()) window->setDockedIdea(idea, ours ? docIdentifier : QString());
      if (mDockAreaView && dragWindow())
        mDockAreaView->takeIdeaInside(dragWindow()->currentDockedIdea(), dragWindow()->currentDockedDocIdentifier());
      return handleDragEndWithResult(kDragResultKept);
    }
    case kDragTargetDeleteArea: {
      if (info.source != kDragSourceThisWindow) {
        ORRERY_SOFT_ASSERT(false, "-[SolarSystemViewController dragOperationEnded:acceptIdea:fromDocument:]");
        return handleDragEndWithResult(kDragResultRefused);
      }
      if (info.returnTarget.object == kDragTargetDock) {
        if (DragSupportWindow* window = dragWindow()) window->setDockedIdea(nullptr, QString());
        return handleDragEndWithResult(kDragResultMoved);
      }
      auto menu = ModalChoiceController::create();
      addActionTo(*menu, QString::fromLatin1(kDelete));
      menu->showModallyFromRect(mDeleteAreaView->frame(), mDeleteAreaView->superview());
      return;
    }
    default:
      ORRERY_SOFT_ASSERT(false, "-[SolarSystemViewController dragOperationEnded:acceptIdea:fromDocument:]");
      return handleDragEndWithResult(kDragResultRefused);
  }
}

void SolarSystemViewController::dragOperationEndedWithResult(const DragInfo* info, DragResult result) {
  mAfterAcceptance = nullptr;
  if (info && result != kDragResultRefused && info->source == kDragSourceThisWindow &&
      info->returnTarget.object == kDragTargetDock)
    if (DragSupportWindow* window = dragWindow()) window->setDockedIdea(nullptr, QString());
  handleDragEndWithResult(result);
}

void SolarSystemViewController::handleDragEndWithResult(DragResult result) {
  mIdeaBeingAccepted.reset();
  mIdeaBeingAcceptedDocIdentifier.clear();
  if (mSolarSystem) {
    mSolarSystem->stopFocusing();
    mSolarSystem->setDockingMode(false);
  }
  updateStatusDueToPossibleDockingUpdate();
  if (mDeleteAreaView) mDeleteAreaView->setHidden(true);
  auto after = std::move(mAfterAcceptance);
  mAfterAcceptance = nullptr;
  if (after) after(result);
}

// The drop's choices.

void SolarSystemViewController::addActionTo(ModalChoiceController& menu, const QString& key) {
  const QString title = choiceTitle(key.toLatin1().constData());
  std::weak_ptr<SolarSystemViewController> weak = self();
  menu.addButton(title, [weak, title] {
    if (auto me = weak.lock()) me->copyPasteActionWithTitle(title);
  });
  menu.addButton(QString(), [weak] {
    if (auto me = weak.lock()) me->copyPasteActionWithTitle(QString());
  });
}

void SolarSystemViewController::acceptDraggedIdeaToSolarSystem() {
  const IdeaPtr x = mIdeaBeingAccepted;
  const QString d = mIdeaBeingAcceptedDocIdentifier;
  ORRERY_SOFT_ASSERT(x, "-[SolarSystemViewController acceptDraggedIdeaToSolarSystem]");
  const std::optional<SolarFocusObject> focus =
      mSolarSystem ? mSolarSystem->currentFocusObject() : std::optional<SolarFocusObject>();
  if (!focus || !x || !mRealIdea) {
    ORRERY_SOFT_ASSERT(focus, "-[SolarSystemViewController acceptDraggedIdeaToSolarSystem]");
    return handleDragEndWithResult(kDragResultRefused);
  }
  const bool sameDocument = mDoc && !d.isEmpty() && d == mDoc->docIdentifier();
  auto menu = ModalChoiceController::create();
  if (focus->focusType() == SolarFocusObject::kPlanet) {
    const IdeaPtr t = childIdeaAtFocusIndex(focus->index());
    ORRERY_SOFT_ASSERT(t, "-[SolarSystemViewController acceptDraggedIdeaToSolarSystem]");
    if (!t) return handleDragEndWithResult(kDragResultRefused);
    if (t->identifier() == x->identifier() && sameDocument) return handleDragEndWithResult(kDragResultKept);
    if (t->isLink()) return handleDragEndWithResult(kDragResultRefused);
    if (!d.isEmpty() && !mRealIdea->couldMyChildBeDescendantOfIdeaWithIdentifier(x->identifier()))
      addActionTo(*menu, QString::fromLatin1(kMoveInside));
    addActionTo(*menu, QString::fromLatin1(kCopyInside));
  } else if (focus->focusType() == SolarFocusObject::kAdder) {
    const std::int64_t i = safeInsertionIndexFromFocusIndex(focus->index());
    const std::int64_t count = static_cast<std::int64_t>(mRealIdea->ideas().size());
    const std::int64_t j = indexOfIdeaWithIdentifier(x->identifier());
    bool canMove = !d.isEmpty();
    if (canMove && sameDocument) {
      if (mRealIdea->couldMyChildBeDescendantOfIdeaWithIdentifier(x->identifier())) canMove = false;
      if (j != kNotFound && isInsertionIndexAttachedToIndex(i, j, count)) canMove = false;
    }
    if (canMove) addActionTo(*menu, QString::fromLatin1(kMoveHere));
    addActionTo(*menu, QString::fromLatin1(kCopyHere));
    if (!d.isEmpty() && !x->isLink() && mRootIdea && mRootIdea->findIdeaInSubTreeWithIdentifier(x->identifier()) &&
        j == kNotFound)
      addActionTo(*menu, QString::fromLatin1(kCreateLink));
  } else {
    return handleDragEndWithResult(kDragResultRefused);
  }
  const QRectF from = view()->convertRect(radialRectInWindow(focus->focusRect()), nullptr);
  menu->showModallyFromRect(from, view().get());
}

void SolarSystemViewController::copyPasteActionWithTitle(const QString& title) {
  if (title.isNull()) return handleDragEndWithResult(kDragResultRefused);
  const IdeaPtr x = mIdeaBeingAccepted;
  const QString d = mIdeaBeingAcceptedDocIdentifier;
  const bool sameDocument = mDoc && !d.isEmpty() && d == mDoc->docIdentifier();
  if (title == choiceTitle(kDelete)) {
    const bool deleted = sameDocument && x && deleteIdeaWithIdentifier(x->identifier());
    return handleDragEndWithResult(deleted ? kDragResultMoved : kDragResultRefused);
  }
  const std::optional<SolarFocusObject> focus =
      mSolarSystem ? mSolarSystem->currentFocusObject() : std::optional<SolarFocusObject>();
  if (!focus || !x) {
    ORRERY_SOFT_ASSERT(focus, "-[SolarSystemViewController copyPasteActionWithTitle:]");
    return handleDragEndWithResult(kDragResultRefused);
  }
  std::weak_ptr<SolarSystemViewController> weak = self();
  auto endWith = [weak](DragResult result) {
    return [weak, result](bool ok) {
      if (auto me = weak.lock()) me->iffHandleDragEndWithResult(ok, result);
    };
  };
  const SolarFocusType type = focus->focusType();
  const std::int64_t index = focus->index();
  const bool adder = type == SolarFocusObject::kAdder;
  const bool parent = type == SolarFocusObject::kParent;
  const bool planet = type == SolarFocusObject::kPlanet && childIdeaAtFocusIndex(index);
  const std::int64_t i = safeInsertionIndexFromFocusIndex(index);
  if (adder && title == choiceTitle(kCopyHere)) return copyIdeaAfter(x, i, endWith(kDragResultKept));
  if (adder && title == choiceTitle(kCreateLink)) return createLinkToIdea(x, i, endWith(kDragResultKept));
  if (parent && title == choiceTitle(kCopyInside)) return copyToParentTheIdea(x, endWith(kDragResultKept));
  if (planet && title == choiceTitle(kCopyInside)) return copyIdeaInside(x, index, endWith(kDragResultKept));
  if (adder && title == choiceTitle(kMoveHere)) {
    const IdeaPtr there = childIdeaAtFocusIndex(index);
    if (there && there->identifier() == x->identifier()) return handleDragEndWithResult(kDragResultKept);
    return moveIdeaAfter(x, d, i, endWith(kDragResultMoved));
  }
  if (parent && title == choiceTitle(kMoveInside)) return moveToParentTheIdea(x, d, endWith(kDragResultMoved));
  if (planet && title == choiceTitle(kMoveInside)) return moveIdeaInside(x, d, index, endWith(kDragResultMoved));
  handleDragEndWithResult(kDragResultRefused);
}

}  // namespace orrery
