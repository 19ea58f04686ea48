// The idea drags of a window: starting them, the floating copy over every window a drag
// enters, the drop and its hand-over to the receiving controller, and the ending handshake
// that keeps the two windows of a drag between windows in step. Files from and to other
// programs are in drag_support_files.cpp.

#include "shell/my_window.h"

#include "foundation/geometry.h"
#include "foundation/image_extensions.h"
#include "foundation/logging.h"
#include "foundation/views/base_view.h"
#include "foundation/views/container_view.h"
#include "foundation/views/view_extensions.h"
#include "model/idea.h"
#include "model/persistence_controller.h"
#include "platform/core/dispatch.h"
#include "platform/core/quit_waiters.h"
#include "platform/ui/transaction.h"
#include "shell/drag_overlay_view.h"
#include "shell/promised_file.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <mutex>

namespace orrery {

namespace {

using namespace platform::DragOperationBits;

// The window whose drag runs now; set when its session begins, cleared when it ends.
platform::WeakRef<DragSupportWindow>& currentDragSourceWindow() {
  static platform::WeakRef<DragSupportWindow> window;
  return window;
}

QImage namedImage(const char* name) { return imageext::deviceImageNamed(QString::fromLatin1(name)); }

float pullDistance(const DragReturnTarget& target, const QPointF& location) {
  return Geometry::distanceFrom(target.area.center(), location);
}

bool pullApplies(const DragReturnTarget& target, float distance) {
  return target.gravityRadius > distance && target.gravityRadius > 0;
}

}  // namespace

std::shared_ptr<BaseView> DraggablePlanet::sharedPlanetView() {
  return std::static_pointer_cast<BaseView>(planetView().shared_from_this());
}

DragSupportWindow::DragSupportWindow(const QSizeF& contentSize) : MyWindow(contentSize) {
  // Plain text is taken too, only to say that it cannot be dropped here.
  setDraggingDestination(
      this, {QString::fromLatin1(kIdeaPasteboardType), QString::fromLatin1(platform::kPasteboardTypeURIList),
             QString::fromLatin1(platform::kPasteboardTypeText)});
  // Promised files of earlier runs go at the first window; this run's at quit.
  static std::once_flag once;
  std::call_once(once, [] {
    platform::globalQueue().async([] { PromisedFile::removeFoldersOfDeadProcesses(); });
    platform::addQuitWaiter("dragged files", [] { PromisedFile::removeOwnFolders(); });
  });
}

DragSupportWindow::~DragSupportWindow() { setDraggingDestination(nullptr, {}); }

void DragSupportWindow::setDockedIdea(std::shared_ptr<Idea> idea, const QString& docIdentifier) {
  mDockedIdea = std::move(idea);
  mDockedIdeaRoot = mDockedIdea ? mDockedIdea->root() : nullptr;
  mDockedDocIdentifier = mDockedIdea ? docIdentifier : QString();
}

DragSupportDelegate* DragSupportWindow::dragSupportDelegate() const {
  return mDragDelegateOwner.expired() ? nullptr : mDragSupportDelegate;
}

void DragSupportWindow::switchToViewController(const std::shared_ptr<BaseViewController>& controller, bool animated,
                                               std::function<void()> completion) {
  mDragSupportDelegate = dynamic_cast<DragSupportDelegate*>(controller.get());
  mDragDelegateOwner = mDragSupportDelegate ? controller : std::shared_ptr<BaseViewController>();
  MyWindow::switchToViewController(controller, animated, std::move(completion));
}

// Starting.

void DragSupportWindow::startDragForEvent(const platform::Event& event, platform::View& view,
                                          const std::shared_ptr<DraggablePlanet>& exampleView,
                                          const DragReturnTarget& returnTarget) {
  DragSupportDelegate* delegate = dragSupportDelegate();
  const bool busy = mDragSourceSessionNumber != kNoSession || mDragTargetSessionNumber != kNoSession;
  if (!ORRERY_SOFT_ASSERT(exampleView, "-[DragSupportWindow startDragForEvent:fromView:withExampleIdeaView:returnTarget:]") ||
      busy) {
    if (delegate) delegate->dragOperationEndedWithResult(mDragSourceInfo.get(), kDragResultRefused);
    return;
  }
  mDragExampleView = exampleView->copyPlanetForDragging();
  if (!mDragExampleView) {
    if (delegate) delegate->dragOperationEndedWithResult(mDragSourceInfo.get(), kDragResultRefused);
    return;
  }
  mDraggedDocIdentifier = exampleView->docIdentifier();
  mDraggedIdeaIdentifier = exampleView->ideaIdentifier();
  auto info = std::make_shared<DragInfoForIdea>();
  info->objectType = kDragObjectIdea;
  info->returnTarget = returnTarget;
  info->ideaIdentifier = mDraggedIdeaIdentifier;
  info->docIdentifier = mDraggedDocIdentifier;
  info->location = event.locationInWindow;
  mDragSourceInfo = info;

  auto pasteboard = std::make_shared<platform::Pasteboard>();
  QJsonObject payload{{QStringLiteral("ideaIdentifier"), mDraggedIdeaIdentifier},
                      {QStringLiteral("docIdentifier"), mDraggedDocIdentifier}};
  pasteboard->setData(QString::fromLatin1(kIdeaPasteboardType), QJsonDocument(payload).toJson(QJsonDocument::Compact));
  const QImage image = mDragExampleView->planetView().snapshot(backingScaleFactor());
  if (!view.beginDraggingSession(pasteboard, event, this, image)) {
    // The kit runs one drag at a time: this one never began.
    mDragSourceInfo.reset();
    mDragExampleView.reset();
    mDraggedDocIdentifier.clear();
    mDraggedIdeaIdentifier.clear();
    if (delegate) delegate->dragOperationEndedWithResult(info.get(), kDragResultRefused);
  }
}

// Source side.

platform::DragOperation DragSupportWindow::sourceOperationMaskForDraggingContext(platform::DraggingSession&,
                                                                                 platform::DraggingContext) {
  return Copy;
}

void DragSupportWindow::draggingSessionWillBegin(platform::DraggingSession& session, const QPointF&) {
  mDragSourceSessionNumber = session.draggingSequenceNumber();
  currentDragSourceWindow().reset(this);
}

void DragSupportWindow::draggingSessionEnded(platform::DraggingSession&, const QPointF&,
                                             platform::DragOperation operation) {
  if (currentDragSourceWindow().get() == this) currentDragSourceWindow().reset();
  handleDragEndingForSource(true, false, operation != None ? kDragResultKept : kDragResultRefused);
}

// Receiving side.

platform::DragOperation DragSupportWindow::draggingEntered(const platform::DraggingInfo& info) {
  if (mDragTargetSessionNumber != kNoSession) return None;
  makeKeyAndOrderFront();
  mDragTargetSessionNumber = info.draggingSequenceNumber();
  if (!info.draggingSource()) return fileDragEntered(info);

  DragSupportWindow* source = currentDragSourceWindow().get();
  if (!source || info.draggingSource() != static_cast<platform::DraggingSource*>(source) ||
      !source->mDragExampleView) {
    mDragTargetSessionNumber = kNoSession;
    return None;
  }
  mDragTargetSourceWindow.reset(source);
  mDragExampleView = source->mDragExampleView;
  mDraggedIdeaIdentifier = source->mDraggedIdeaIdentifier;
  mDraggedDocIdentifier = source->mDraggedDocIdentifier;
  auto target = std::make_shared<DragInfoForIdea>();
  target->objectType = kDragObjectIdea;
  target->source = mDragSourceSessionNumber == mDragTargetSessionNumber ? kDragSourceThisWindow : kDragSourceOtherWindow;
  target->ideaIdentifier = mDraggedIdeaIdentifier;
  target->docIdentifier = mDraggedDocIdentifier;
  if (source->mDragSourceInfo) target->returnTarget = source->mDragSourceInfo->returnTarget;
  target->location = info.draggingLocation();
  mDragTargetInfo = target;
  // Hides the image others would see while this window draws its own copy.
  info.setDraggingImage(namedImage("transparent_planet"));

  DragSupportDelegate* delegate = dragSupportDelegate();
  if (!delegate || !delegate->dragOperationStarted(*mDragTargetInfo)) {
    refuseTargetSide();
    return None;
  }
  delegate->dragOperationUpdate(*mDragTargetInfo);
  mDragTargetIdeaView = mDragExampleView->copyPlanetForDragging();
  if (mDragTargetIdeaView) {
    BaseView& copy = mDragTargetIdeaView->planetView();
    copy.setDisableAnimations(false);
    platform::withoutActions([&] {
      mDragTargetIdeaView->setScale(kFloatingScale);
      copy.layer()->setOpacity(1.0);
    });
    mFloatingPull = 1.0;
    copy.setNeedsDisplay();
    containerView()->addSubview(mDragTargetIdeaView->sharedPlanetView());
    placeFloatingCopy(info.draggingLocation());
  }
  return Every;
}

platform::DragOperation DragSupportWindow::draggingUpdated(const platform::DraggingInfo& info) {
  if (info.draggingSequenceNumber() != mDragTargetSessionNumber || !mDragTargetInfo) return None;
  mDragTargetInfo->location = info.draggingLocation();
  if (mDragTargetInfo->source == kDragSourceOutside) return fileDragOperation();
  if (!mDragTargetIdeaView) return Every;
  placeFloatingCopy(info.draggingLocation());
  DragSupportDelegate* delegate = dragSupportDelegate();
  const DragReturnTarget target = delegate ? delegate->dragOperationUpdate(*mDragTargetInfo) : DragReturnTarget();
  double scale = kFloatingScale;
  const float d = pullDistance(target, info.draggingLocation());
  if (target.object != kDragTargetNothing && pullApplies(target, d)) {
    const double fit = fitScale(target.area);
    scale = fit + std::min(std::max(d / target.gravityRadius, 0.0), 1.0) * (kFloatingScale - fit);
  }
  setFloatingPull(scale);
  return Every;
}

void DragSupportWindow::draggingExited(const platform::DraggingInfo* info) {
  if (mDragTargetSessionNumber == kNoSession) return;
  if (info && info->draggingSequenceNumber() != mDragTargetSessionNumber) return;
  if (info) info->setDraggingImage(namedImage("accept_active"));
  handleDragEndingForSource(false, true, kDragResultRefused);
}

void DragSupportWindow::draggingEnded(const platform::DraggingInfo&) {
  handleDragEndingForSource(false, true, kDragResultRefused);
}

bool DragSupportWindow::performDragOperation(const platform::DraggingInfo& info) {
  if (!mDragTargetInfo || info.draggingSequenceNumber() != mDragTargetSessionNumber) return false;
  if (mDragTargetInfo->source == kDragSourceOutside) return performFileDrop(info);
  mDragTargetInfo->location = info.draggingLocation();
  DragSupportDelegate* delegate = dragSupportDelegate();
  const DragReturnTarget target = delegate ? delegate->dragOperationUpdate(*mDragTargetInfo) : DragReturnTarget();
  if (target.object == kDragTargetNothing) {
    handleDragEndingForSource(true, true, kDragResultRefused);
    return true;
  }
  if (mDragTargetIdeaView) {
    placeFloatingCopy(target.area.center());
    setFloatingPull(kFloatingScale);
    if (pullApplies(target, pullDistance(target, info.draggingLocation()))) setFloatingPull(fitScale(target.area));
  }
  mDelayDragEnding = true;
  if (DragSupportWindow* source = currentDragSourceWindow().get()) source->mDelayDragEnding = true;
  platform::WeakRef<DragSupportWindow> weak(this);
  afterLoadingDraggedIdea([weak](std::shared_ptr<Idea> idea) {
    DragSupportWindow* self = weak.get();
    if (!self) return;
    DragSupportWindow* source = self->mDragTargetSourceWindow.get();
    DragSupportDelegate* delegate = self->dragSupportDelegate();
    if (!idea || !delegate || !self->mDragTargetInfo) {
      self->mDelayDragEnding = false;
      if (source && source != self) {
        source->mDelayDragEnding = false;
        source->handleDragEndingForSource(true, false, kDragResultRefused);
      }
      self->handleDragEndingForSource(true, true, kDragResultRefused);
      return;
    }
    const DragInfo info = *self->mDragTargetInfo;
    auto infoCopy = std::make_shared<DragInfoForIdea>();
    if (auto* ideaInfo = dynamic_cast<const DragInfoForIdea*>(self->mDragTargetInfo.get())) *infoCopy = *ideaInfo;
    delegate->dragOperationEnded(*infoCopy, idea, self->mDraggedDocIdentifier, [weak](DragResult result) {
      DragSupportWindow* me = weak.get();
      if (!me) return;
      me->mDragAcceptCalled = true;
      me->mDelayDragEnding = false;
      me->handleDragEndingForSource(true, true, result);
    });
  });
  handleDragEndingForSource(true, true, kDragResultRefused);
  return true;
}

void DragSupportWindow::afterLoadingDraggedIdea(std::function<void(std::shared_ptr<Idea>)> completion) {
  const bool ideaDrag = !mDragTargetInfo || mDragTargetInfo->source == kDragSourceThisWindow ||
                        mDragTargetInfo->source == kDragSourceOtherWindow;
  DragSupportWindow* source = mDragTargetSourceWindow.get();
  if (!source && !mDragTargetInfo) source = this;
  if (ideaDrag && mDraggedDocIdentifier.isEmpty() && source && source->mDockedIdea &&
      source->mDockedDocIdentifier.isEmpty() && source->mDockedIdea->identifier() == mDraggedIdeaIdentifier) {
    // An idea of no document exists only in the dock.
    completion(source->mDockedIdea);
    return;
  }
  PersistenceController::singleton().fetchIdea(mDraggedIdeaIdentifier, mDraggedDocIdentifier, std::move(completion));
}

// Ending.

void DragSupportWindow::handleDragEndingForSource(bool source, bool target, DragResult result) {
  if (mDelayDragEnding) return;
  std::shared_ptr<DragInfo> inHand;
  if (source && mDragSourceSessionNumber != kNoSession) {
    mDragSourceSessionNumber = kNoSession;
    inHand = std::move(mDragSourceInfo);
  }
  if (target && mDragTargetSessionNumber != kNoSession) {
    mDragTargetSessionNumber = kNoSession;
    inHand = std::move(mDragTargetInfo);
    if (source && result == kDragResultRefused && inHand)
      animateReturnDraggedViewAndRemoveIt(*inHand);
    else
      removeTargetIdeaViewAndOverlays();
    if (mDragSourceSessionNumber != kNoSession && inHand && inHand->source == kDragSourceThisWindow)
      if (DragSupportDelegate* d = dragSupportDelegate()) d->dragOperationExited();
  }
  if (!inHand || mDragSourceSessionNumber != kNoSession || mDragTargetSessionNumber != kNoSession) return;
  mDelayDragEnding = false;
  mDraggedIdeaIdentifier.clear();
  mDraggedDocIdentifier.clear();
  mDragExampleView.reset();
  mPromisedFile.reset();
  DragSupportWindow* startedIn = mDragTargetSourceWindow.get();
  const bool accepted = mDragAcceptCalled;
  mDragAcceptCalled = false;
  mDragTargetSourceWindow.reset();
  if (accepted) {
    if (startedIn && startedIn != this) {
      startedIn->mDelayDragEnding = false;
      startedIn->handleDragEndingForSource(true, false, result);
    }
  } else if (DragSupportDelegate* d = dragSupportDelegate()) {
    d->dragOperationEndedWithResult(inHand.get(), result);
  }
}

void DragSupportWindow::refuseTargetSide() {
  mDragTargetSessionNumber = kNoSession;
  mDragTargetInfo.reset();
  mDragTargetSourceWindow.reset();
  removeTargetIdeaViewAndOverlays();
  if (mDragSourceSessionNumber == kNoSession) {
    mDraggedIdeaIdentifier.clear();
    mDraggedDocIdentifier.clear();
    mDragExampleView.reset();
  }
}

void DragSupportWindow::animateReturnDraggedViewAndRemoveIt(const DragInfo& info) {
  if (!mDragTargetIdeaView) {
    removeTargetIdeaViewAndOverlays();
    return;
  }
  setFloatingPull(kFloatingScale);
  const DragReturnTarget& back = info.returnTarget;
  if (info.source != kDragSourceThisWindow || back.object == kDragTargetNothing) {
    removeTargetIdeaViewAndOverlays();
    return;
  }
  const double fit = fitScale(back.area);
  std::shared_ptr<BaseView> copy = mDragTargetIdeaView->sharedPlanetView();
  mDragTargetIdeaView.reset();
  if (mDragTargetOverlay) {
    mDragTargetOverlay->removeFromSuperview();
    mDragTargetOverlay.reset();
  }
  copy->setDisableAnimations(false);
  const QPointF centre = copy->superview() ? copy->superview()->convertPoint(back.area.center(), nullptr)
                                           : back.area.center();
  platform::Transaction::begin();
  platform::Transaction::setAnimationTimingFunction(platform::TimingFunction(platform::TimingFunction::Name::EaseInEaseOut));
  platform::Transaction::setAnimationDuration(0.2);
  platform::Transaction::setCompletionBlock([copy] { copy->removeFromSuperview(); });
  layerext::animateTransformToPoint(*copy->layer(), centre, fit / kFloatingScale, /*animated=*/true);
  platform::Transaction::commit();
}

void DragSupportWindow::removeTargetIdeaViewAndOverlays() {
  if (mDragTargetIdeaView) {
    BaseView& copy = mDragTargetIdeaView->planetView();
    copy.setDisableAnimations(true);
    copy.removeFromSuperview();
    mDragTargetIdeaView.reset();
  }
  if (mDragTargetOverlay) {
    mDragTargetOverlay->removeFromSuperview();
    mDragTargetOverlay.reset();
  }
}

// The floating copy: drawn once at 0.75; the pull only transforms its layer, so following
// the mouse never redraws it.

void DragSupportWindow::placeFloatingCopy(const QPointF& windowPoint) {
  if (!mDragTargetIdeaView) return;
  BaseView& copy = mDragTargetIdeaView->planetView();
  const QPointF inContainer = containerView()->convertPoint(windowPoint, nullptr);
  platform::withoutActions([&] {
    mDragTargetIdeaView->setScale(kFloatingScale);
    viewext::setCenter(copy, inContainer);
  });
}

void DragSupportWindow::setFloatingPull(double scale) {
  if (!mDragTargetIdeaView) return;
  mFloatingPull = scale / kFloatingScale;
  platform::withoutActions([&] { layerext::transformToScale(*mDragTargetIdeaView->planetView().layer(), mFloatingPull); });
}

double DragSupportWindow::floatingCopyScale() const { return mDragTargetIdeaView ? kFloatingScale * mFloatingPull : 0; }

double DragSupportWindow::fitScale(const QRectF& area) const {
  if (!mDragTargetIdeaView) return kFloatingScale;
  const QRectF bounds = const_cast<DraggablePlanet&>(*mDragTargetIdeaView).planetView().bounds();
  const float ownSide = float(std::max(bounds.width(), bounds.height()));
  const float areaSide = float(std::max(area.width(), area.height()));
  if (ownSide <= 0) return kFloatingScale;
  return std::min(double(kFloatingScale), double(areaSide / ownSide));
}

}  // namespace orrery
