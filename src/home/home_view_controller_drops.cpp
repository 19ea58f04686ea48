// Drags over the home screen: tiles and the docked idea dragged out, ideas dropped onto the
// add-button slots, the tiles, the dock well or the delete area, and the choice that follows.
// Every drop ends exactly once in handleDragEndWithResult, which reports to the window.

#include "home/home_view_controller.h"

#include "foundation/globals.h"
#include "foundation/logging.h"
#include "foundation/views/delete_area_view.h"
#include "foundation/views/modal_choice_controller.h"
#include "foundation/views/view_extensions.h"
#include "model/idea_proxy.h"
#include "model/persistence_controller.h"
#include "shell/my_window.h"

namespace orrery {

namespace {

constexpr double kGravity = 80;
constexpr char kDelete[] = "Choice.Delete";
constexpr char kCancel[] = "Choice.Cancel";
constexpr char kMoveHere[] = "Choice.MoveHere";
constexpr char kCopyHere[] = "Choice.CopyHere";
constexpr char kMoveInside[] = "Choice.MoveInside";
constexpr char kCopyInside[] = "Choice.CopyInside";

QString choiceTitle(const char* key) {
  return Globals::normalLocalizedStringForKey(QString::fromLatin1(key), QString());
}

QRectF boundsInWindow(const platform::View& view) { return view.convertRectToView(view.bounds(), nullptr); }

QRectF insetByFifth(const QRectF& r) {
  const double dx = r.width() * 0.2, dy = r.height() * 0.2;
  return r.adjusted(dx, dy, -dx, -dy);
}

PersistenceController& facade() { return PersistenceController::singleton(); }

}  // namespace

DragSupportWindow* HomeViewController::dragWindow() const { return dynamic_cast<DragSupportWindow*>(myWindow()); }

// Starting.

void HomeViewController::startDragForIdea(const QString& /*ideaIdentifier*/, const QString& docIdentifier,
                                          const QRectF& /*rect*/, const platform::Event& event) {
  DragSupportWindow* window = dragWindow();
  IdeaViewForIPadListItem* tile = visibleIdeaViewForDocument(docIdentifier);
  if (!window || !tile || !mIdeaListView) return;
  const DragReturnTarget back{kDragTargetStart, boundsInWindow(*tile), 0};
  auto example = std::static_pointer_cast<IdeaView>(tile->shared_from_this());
  window->startDragForEvent(event, *mIdeaListView, example, back);
}

void HomeViewController::dragFromDockAreaWithIdeaView(const std::shared_ptr<SimpleIdeaView>& ideaView,
                                                      const platform::Event& event) {
  DragSupportWindow* window = dragWindow();
  if (!window || !mIdeaListView) return;
  DockAreaView& dock = mIdeaListView->dockAreaView();
  const QRectF frame = dock.superview() ? dock.superview()->convertRectToView(dock.frame(), nullptr) : dock.frame();
  window->startDragForEvent(event, *view(), ideaView, {kDragTargetDock, frame, kGravity});
}

// While a drag is over the window.

bool HomeViewController::dragOperationStarted(const DragInfo& info) {
  if (!mIdeaListView) return true;
  mIdeaListView->startTrackingFocusAt(info.location, nullptr);
  mIdeaListView->trackMouseAt(info.location, nullptr);
  mIdeaListView->dockAreaView().setHidden(false);
  mIdeaListView->deleteAreaView().setHidden(info.source != kDragSourceThisWindow);
  return true;
}

DragReturnTarget HomeViewController::dragOperationUpdate(const DragInfo& info) {
  if (!mIdeaListView) return {};
  mIdeaListView->trackMouseAt(info.location, nullptr);
  mIdeaListView->trackFocusAt(info.location, nullptr);
  platform::View* focus = currentDragTarget();
  if (!focus) return {};
  if (focus == &mIdeaListView->dockAreaView()) return {kDragTargetDock, boundsInWindow(*focus), kGravity};
  if (focus == &mIdeaListView->deleteAreaView())
    return {kDragTargetDeleteArea, insetByFifth(boundsInWindow(*focus)), kGravity};
  return {kDragTargetContent, insetByFifth(boundsInWindow(*focus)), 0};
}

void HomeViewController::dragOperationExited() {
  if (mIdeaListView) mIdeaListView->stopTrackingFocus();
}

void HomeViewController::dragOperationEnded(const DragInfo& info, const IdeaPtr& idea, const QString& docIdentifier,
                                            ResultCompletion completion) {
  const DragReturnTarget target = dragOperationUpdate(info);
  if (mIdeaListView) mIdeaListView->stopTrackingMouse();
  mIdeaBeingAccepted = idea;
  mIdeaBeingAcceptedDocIdentifier = docIdentifier;
  const bool fromHere = info.source == kDragSourceThisWindow;
  const bool outOfDock = fromHere && info.returnTarget.object == kDragTargetDock;
  std::weak_ptr<ViewController> weak = weak_from_this();
  mAfterAcceptance = [weak, outOfDock, target, completion](DragResult result) {
    auto me = std::static_pointer_cast<HomeViewController>(weak.lock());
    if (me && result != kDragResultRefused && outOfDock && target.object != kDragTargetDock)
      if (DragSupportWindow* window = me->dragWindow()) window->setDockedIdea(nullptr, QString());
    if (completion) completion(result);
  };
  switch (target.object) {
    case kDragTargetNothing: return handleDragEndWithResult(kDragResultRefused);
    case kDragTargetContent: return acceptDraggedIdeaIntoIdeaList();
    case kDragTargetDock:
      if (DragSupportWindow* window = dragWindow()) window->setDockedIdea(idea, docIdentifier);
      updateStatusDueToPossibleDockingUpdate();
      return handleDragEndWithResult(kDragResultKept);
    case kDragTargetDeleteArea:
      if (!fromHere) {
        ORRERY_SOFT_ASSERT(false, "-[HomeViewController dragOperationEnded:acceptIdea:fromDocument:onCompletion:]");
        return handleDragEndWithResult(kDragResultRefused);
      }
      if (outOfDock) {
        if (DragSupportWindow* window = dragWindow()) window->setDockedIdea(nullptr, QString());
        updateStatusDueToPossibleDockingUpdate();
        return handleDragEndWithResult(kDragResultMoved);
      }
      {
        auto menu = ModalChoiceController::create();
        addActionTo(*menu, kDelete);
        DeleteAreaView& bin = mIdeaListView->deleteAreaView();
        menu->showModallyFromRect(bin.frame(), bin.superview());
      }
      return;
    default:
      ORRERY_SOFT_ASSERT(false, "-[HomeViewController dragOperationEnded:acceptIdea:fromDocument:onCompletion:]");
      return handleDragEndWithResult(kDragResultRefused);
  }
}

void HomeViewController::dragOperationEndedWithResult(const DragInfo* info, DragResult result) {
  mAfterAcceptance = nullptr;
  if (info && result != kDragResultRefused && info->source == kDragSourceThisWindow &&
      info->returnTarget.object == kDragTargetDock)
    if (DragSupportWindow* window = dragWindow()) window->setDockedIdea(nullptr, QString());
  handleDragEndWithResult(result);
}

void HomeViewController::handleDragEndWithResult(DragResult result) {
  mIdeaBeingAccepted.reset();
  mIdeaBeingAcceptedDocIdentifier.clear();
  auto after = std::move(mAfterAcceptance);
  mAfterAcceptance = nullptr;
  if (after) after(result);
  updateStatusDueToPossibleDockingUpdate();
  if (mIdeaListView) {
    mIdeaListView->stopTrackingFocus();
    mIdeaListView->deleteAreaView().setHidden(true);
    mIdeaListView->stopTrackingMouse();
  }
}

// The choice.

std::uint64_t HomeViewController::indexOfDragFocusPoint(bool* isAdder) const {
  if (isAdder) *isAdder = false;
  if (!mIdeaListView) return IdeaListView::kNotFound;
  if (mIdeaListView->indexOfIdeaAdderAtFocus() != IdeaListView::kNotFound) {
    if (isAdder) *isAdder = true;
    return mIdeaListView->indexOfIdeaAdderAtFocus();
  }
  return mIdeaListView->indexOfIdeaAtFocus();
}

bool HomeViewController::isDocumentNearAdditionPoint(const QString& docIdentifier, std::uint64_t index) const {
  if (index < 1) return false;
  const auto list = facade().proxyListForLocation(mLocation);
  if (!list) return false;
  for (std::uint64_t i : {index - 1, index})
    if (i < list->size() && (*list)[i]->docIdentifier() == docIdentifier) return true;
  return false;
}

void HomeViewController::addActionTo(ModalChoiceController& menu, const char* key) {
  const QString title = choiceTitle(key);
  std::weak_ptr<ViewController> weak = weak_from_this();
  auto act = [weak](const QString& chosen) {
    if (auto me = std::static_pointer_cast<HomeViewController>(weak.lock())) me->copyPasteActionWithTitle(chosen);
  };
  menu.addButton(title, [act, title] { act(title); });
  menu.addButton(QString(), [act] { act(QString()); });
}

void HomeViewController::acceptDraggedIdeaIntoIdeaList() {
  platform::View* focus = currentDragTarget();
  platform::View* anchorView = focus ? focus : view().get();
  const QRectF anchor = anchorView->superview() ? view()->convertRect(anchorView->frame(), anchorView->superview())
                                                : anchorView->frame();
  bool isAdder = false;
  const std::uint64_t index = indexOfDragFocusPoint(&isAdder);
  if (index == IdeaListView::kNotFound || !mIdeaBeingAccepted) return handleDragEndWithResult(kDragResultRefused);
  const QString& source = mIdeaBeingAcceptedDocIdentifier;
  auto menu = ModalChoiceController::create();
  if (isAdder) {
    if (!source.isEmpty() && !isDocumentNearAdditionPoint(source, index)) addActionTo(*menu, kMoveHere);
    addActionTo(*menu, kCopyHere);
  } else {
    const auto list = facade().proxyListForLocation(mLocation);
    if (list && index < list->size() && (*list)[index]->docIdentifier() == source)
      return handleDragEndWithResult(kDragResultMoved);  // onto its own document: nothing changes
    if (!mIdeaBeingAccepted->identifier().isEmpty() && !source.isEmpty()) addActionTo(*menu, kMoveInside);
    addActionTo(*menu, kCopyInside);
  }
  menu->showModallyFromRect(QRectF(anchor.center(), QSizeF(0, 0)), view().get());
}

void HomeViewController::copyPasteActionWithTitle(const QString& title) {
  const IdeaPtr idea = mIdeaBeingAccepted;
  const QString source = mIdeaBeingAcceptedDocIdentifier;
  bool isAdder = false;
  const std::uint64_t index = indexOfDragFocusPoint(&isAdder);
  const bool found = index != IdeaListView::kNotFound && idea;
  std::weak_ptr<ViewController> weak = weak_from_this();
  auto endWith = [weak](DragResult onSuccess) {
    return [weak, onSuccess](bool ok) {
      if (auto me = std::static_pointer_cast<HomeViewController>(weak.lock()))
        me->handleDragEndWithResult(ok ? onSuccess : kDragResultRefused);
    };
  };
  if (title.isEmpty() || title == choiceTitle(kCancel)) return handleDragEndWithResult(kDragResultRefused);
  if (title == choiceTitle(kDelete)) {
    if (source.isEmpty() || !idea) {
      ORRERY_SOFT_ASSERT(false, "-[HomeViewController copyPasteActionWithTitle:]");
      return handleDragEndWithResult(kDragResultRefused);
    }
    if (!idea->parent()) return deleteDocument(source, endWith(kDragResultMoved));
    return deleteIdea(idea->identifier(), source, endWith(kDragResultMoved));
  }
  if (!found) return handleDragEndWithResult(kDragResultRefused);
  if (title == choiceTitle(kCopyHere) && isAdder)
    return facade().copyIdeaBefore(idea, index, mLocation, endWith(kDragResultKept));
  if (title == choiceTitle(kCopyInside) && !isAdder)
    return facade().copyIdeaInside(idea, index, mLocation, endWith(kDragResultKept));
  if (title == choiceTitle(kMoveHere) && isAdder)
    return facade().moveIdeaBefore(idea->identifier(), source, index, mLocation, endWith(kDragResultMoved));
  if (title == choiceTitle(kMoveInside) && !isAdder)
    return facade().moveIdeaInside(idea->identifier(), source, index, mLocation, endWith(kDragResultMoved));
  handleDragEndWithResult(kDragResultRefused);
}

}  // namespace orrery
