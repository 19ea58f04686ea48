#include "editor_screen/solar_system_view_controller.h"

#include "foundation/application_delegate.h"
#include "foundation/globals.h"
#include "foundation/logging.h"
#include "foundation/views/colored_view.h"
#include "foundation/views/custom_alert_view.h"
#include "foundation/views/delete_area_view.h"
#include "foundation/views/modal_choice_controller.h"
#include "foundation/views/view_extensions.h"
#include "model/document_open_failure.h"
#include "model/idea_document.h"
#include "model/idea_proxy.h"
#include "model/persistence_controller.h"
#include "model/recovery_copies.h"
#include "platform/core/dispatch.h"
#include "platform/ui/window.h"
#include "shell/my_window.h"
#include "shell/screen_factory.h"

#include <QFile>
#include <QMainWindow>
#include <QWidget>

#include <utility>

namespace orrery {

namespace {
constexpr char kClosingWindow[] = "ClosingWindow";
constexpr char kFailedToUpdate[] = "Failed to update document";
}  // namespace

double SolarSystemViewController::topBarHeight() { return TopBarView::preferredHeight(); }

std::shared_ptr<SolarSystemViewController> SolarSystemViewController::create(const std::shared_ptr<IdeaDocument>& doc,
                                                                             DocumentToken token,
                                                                             const QString& ideaIdentifier) {
  return std::make_shared<SolarSystemViewController>(doc, token, ideaIdentifier);
}

std::shared_ptr<SolarSystemViewController> SolarSystemViewController::createForRestoration() {
  return std::make_shared<SolarSystemViewController>();
}

SolarSystemViewController::SolarSystemViewController(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token,
                                                     const QString& ideaIdentifier)
    : mDoc(doc), mSolarSystemState(kSolarSystemStateRadial), mDocToken(token) {
  registerCommands();
  ORRERY_SOFT_ASSERT(doc && doc->idea(), "-[SolarSystemViewController initWithDoc:andToken:forIdea:]");
  observePersistenceState();
  // Every editor hears changes made by other instances, not only restored ones: an editor that
  // did not would save its stale tree over the other instance's edit.
  observeDocument(doc);
  if (!doc || !doc->idea()) return;
  IdeaPtr shown = ideaIdentifier.isEmpty() ? nullptr : doc->idea()->findIdeaInSubTreeWithIdentifier(ideaIdentifier);
  setOwnIdea(shown ? shown : doc->idea());
}

SolarSystemViewController::SolarSystemViewController() {
  registerCommands();
  observePersistenceState();
}

SolarSystemViewController::~SolarSystemViewController() {
  if (mSolarSystem) mSolarSystem->setDelegate(nullptr);
}

std::shared_ptr<SolarSystemViewController> SolarSystemViewController::self() {
  return std::static_pointer_cast<SolarSystemViewController>(shared_from_this());
}

void SolarSystemViewController::setOwnIdea(const IdeaPtr& idea) {
  mOwnIdea = idea;
  mRootIdea = idea ? idea->root() : nullptr;
  mRealIdea = idea && idea->isLink() ? idea->linkedIdea() : idea;
  // A link whose target is gone has no children to show: the root stands in for it.
  if (idea && !mRealIdea) {
    mOwnIdea = mRootIdea;
    mRealIdea = mRootIdea;
  }
}

void SolarSystemViewController::observePersistenceState() {
  mStateObserver.observe(PersistenceStateChangeNotification, nullptr, [this](const platform::Notification&) {
    tryLoadingDocumentForRestoration();
    if (mDoc) updateWindowFromDocument(mDoc);
    saveWhenLocationIsBack();
  });
}

void SolarSystemViewController::saveWhenLocationIsBack() {
  // An edit made while the location's folder was away is written as soon as it is back.
  if (!mDoc || !mLastSaveFailed || mSavesInFlight > 0 || mDocToken < 1 || !isCloudLocation(mDoc->location())) return;
  if (PersistenceController::singleton().statusForLocation(mDoc->location()) != WorkspaceStatusReady) return;
  saveCounted();
}

void SolarSystemViewController::observeDocument(const std::shared_ptr<IdeaDocument>& doc) {
  mDocumentObserver.stopObserving();
  if (!doc) return;
  mDocumentObserver.observe(IdeaDocumentChangedNotification, doc.get(), [this](const platform::Notification& n) {
    if (!mDoc || n.object != mDoc.get()) return;
    modelDidChangeWithNewRootIdea(mDoc->idea());
    tellAboutReplacedChanges();
  });
}

// Window hooks.

void SolarSystemViewController::loadView() {
  auto root = std::make_shared<ColoredView>(QBrush(Qt::white), this);
  root->setDisableAnimations(true);
  setView(root);
  root->setNeedsLayout();
  addViewsIfPossible();
  if (mOwnIdea) switchToIdea(mOwnIdea, /*animated=*/false);
}

void SolarSystemViewController::viewWillAppear() {
  addViewsIfPossible();
  if (mDoc) updateWindowFromDocument(mDoc);
}

void SolarSystemViewController::viewDidAppear() {
  updateStatusDueToPossibleDockingUpdate();
  if (!mListening) {
    PersistenceController::singleton().addListener(std::shared_ptr<PersistenceControllerListener>(self(), this));
    mListening = true;
  }
  addViewsIfPossible();
  tellAboutReplacedChangesSoon();
}

void SolarSystemViewController::viewWillDisappear() {
  mDocumentObserver.stopObserving();
  mStateObserver.stopObserving();
  if (isViewLoaded()) viewext::removeAnimationsAlsoFromSubviews(*view());
}

void SolarSystemViewController::viewDidDisappear() {
  if (!mListening) return;
  PersistenceController::singleton().removeListener(this);
  mListening = false;
}

void SolarSystemViewController::viewWillLayout() { applyLayout(); }

void SolarSystemViewController::becameTopLevelController() {
  BaseViewController::becameTopLevelController();
  if (mDoc) updateWindowFromDocument(mDoc);
  platform::Window* window = myWindow();
  const bool graph = mSolarSystemState == kSolarSystemStateGraph || mSolarSystemState == kSolarSystemStateGraphSearch;
  platform::View* first = graph && mGraphScrollView ? static_cast<platform::View*>(mGraphScrollView.get()) : mSolarSystem.get();
  if (window && first && (!window->firstResponder() || window->firstResponder() == window))
    window->makeFirstResponder(first);
}

QVariantMap SolarSystemViewController::createState() {
  if (!mDoc || mDoc->location() == DocumentLocationLocalFile) return {};
  QVariantMap state;
  state.insert(QStringLiteral("docIdentifier"), mDoc->docIdentifier());
  if (mOwnIdea) state.insert(QStringLiteral("ideaIdentifier"), mOwnIdea->identifier());
  return state;
}

bool SolarSystemViewController::restoreFromState(const QVariantMap& state) {
  // Stored state is read back from disk: anything but a non-empty text is no identifier.
  const QVariant identifier = state.value(QStringLiteral("docIdentifier"));
  if (identifier.typeId() != QMetaType::QString || identifier.toString().isEmpty()) {
    // A window with nothing to show would stay empty: it goes.
    if (!mDoc) closeRestoredWindowUnshown(nullptr, /*later=*/true);
    return false;
  }
  mRestorationDictionary = state;
  tryLoadingDocumentForRestoration();
  return true;
}

void SolarSystemViewController::tryLoadingDocumentForRestoration() {
  if (!mRestorationDictionary) return;
  const QString docIdentifier = mRestorationDictionary->value(QStringLiteral("docIdentifier")).toString();
  const QVariant ideaValue = mRestorationDictionary->value(QStringLiteral("ideaIdentifier"));
  const QString ideaIdentifier = ideaValue.typeId() == QMetaType::QString ? ideaValue.toString() : QString();
  const DocumentLocation location = IdeaDocument::locationFromIdentifier(docIdentifier);
  if ((location == DocumentLocationICloud && !Globals::userHasOptedForICloud()) ||
      (location == DocumentLocationDropbox && !Globals::userHasOptedForDropbox())) {
    mRestorationDictionary.reset();
    closeRestoredWindowUnshown(nullptr, /*later=*/true);
    return;
  }
  auto& persistence = PersistenceController::singleton();
  if (!persistence.isLocationReadyForUse(location)) return;
  mRestorationDictionary.reset();
  auto doc = persistence.documentForIdentifier(docIdentifier);
  if (!doc) doc = IdeaDocument::createWithIdentifier(docIdentifier);
  std::weak_ptr<SolarSystemViewController> weak = self();
  persistence.openDocument(doc, [weak, doc, ideaIdentifier](DocumentToken token) {
    auto me = weak.lock();
    if (!me) {
      if (token >= 1) PersistenceController::singleton().releaseDocument(doc, token, nullptr);
      return;
    }
    if (token < 1 || !doc->idea()) {
      if (token >= 1) PersistenceController::singleton().releaseDocument(doc, token, nullptr);
      // Told when a reader refused the file; a file that is gone, or a read the quit dropped,
      // records no reason and is not told.
      const bool refused = token < 1 && !doc->lastUserFriendlyError().isEmpty();
      me->closeRestoredWindowUnshown(
          refused ? documentOpenFailure(doc->filePath(), doc->lastError(), doc->lastUserFriendlyError()) : nullptr,
          /*later=*/false);
      return;
    }
    me->mSolarSystemState = kSolarSystemStateRadial;
    me->setCurrentDoc(doc, token, ideaIdentifier);
    me->addViewsIfPossible();
    if (me->isViewLoaded()) me->switchToIdea(me->mOwnIdea, /*animated=*/false);
    // The view was laid out while it had nothing to show: place the bar and the map now.
    me->applyLayout();
  });
}

void SolarSystemViewController::closeRestoredWindowUnshown(const MyResultPtr& why, bool later) {
  if (ApplicationDelegate* app = Globals::app()) app->storedWindowCannotShow(myWindow(), why);
  if (later)
    closeWindowLater();
  else
    closeWindow();
}

void SolarSystemViewController::occupyScreen(const QString& operation) {
  BaseViewController::occupyScreen(operation);
  setUserInteractionEnabled(false);
}

void SolarSystemViewController::liberateScreen(const QString& operation) {
  BaseViewController::liberateScreen(operation);
  setUserInteractionEnabled(true);
}

void SolarSystemViewController::setUserInteractionEnabled(bool enabled) {
  if (mSolarSystem) mSolarSystem->setUserInteractionEnabled(enabled);
}

MyWindow* SolarSystemViewController::shellWindow() const { return dynamic_cast<MyWindow*>(myWindow()); }

void SolarSystemViewController::addViewsIfPossible() {
  if (!mOwnIdea || !isViewLoaded()) return;
  if (!mTopBar) {
    mTopBar = std::make_shared<TopBarView>();
    mTopBar->setDelegate(this);
    ensureTopBarState();
    view()->addSubview(mTopBar);
  }
  addDockAreaIfPossible();
  if (view()->window() && !mDeleteAreaView) {
    mDeleteAreaView = std::make_shared<DeleteAreaView>();
    mDeleteAreaView->setHidden(true);
    view()->addSubview(mDeleteAreaView);
  }
}

QRectF SolarSystemViewController::solarSystemFrame() const {
  if (!isViewLoaded()) return {};
  QRectF rest = const_cast<SolarSystemViewController*>(this)->view()->bounds();
  rest.setTop(rest.top() + topBarHeight());
  return rest;
}

void SolarSystemViewController::applyLayout() {
  if (!mOwnIdea || !isViewLoaded()) return;
  const QRectF rest = solarSystemFrame();
  if (mTopBar) {
    QRectF strip = view()->bounds();
    strip.setHeight(topBarHeight());
    mTopBar->setFrame(strip);
  }
  if (mSolarSystem) mSolarSystem->setFrame(rest);
  if (mGraphScrollView) mGraphScrollView->setFrame(rest);
  if (mDrillingUpOrDown) return;
  layoutDockArea();
  if (!mDeleteAreaView) return;
  const QRectF bounds = view()->bounds();
  viewext::setCenter(*mDeleteAreaView, QPointF(bounds.width() - 30, bounds.height() - 30));
  viewext::ensureIntegralFrame(*mDeleteAreaView);
}

void SolarSystemViewController::setCurrentDoc(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token,
                                              const QString& ideaIdentifier) {
  ORRERY_SOFT_ASSERT(doc && doc->idea(), "-[SolarSystemViewController setCurrentDoc:withToken:showing:]");
  mDoc = doc;
  mDocToken = token;
  mForcedClosing = false;
  // A document just opened or written in full holds every edit.
  mLastSaveFailed = false;
  mEditLeftUnwritten = false;
  if (doc && doc->idea()) {
    IdeaPtr shown = ideaIdentifier.isEmpty() ? nullptr : doc->idea()->findIdeaInSubTreeWithIdentifier(ideaIdentifier);
    setOwnIdea(shown ? shown : doc->idea());
  }
  observeDocument(doc);
  updateWindowFromDocument(doc);
  if (isViewLoaded()) tellAboutReplacedChangesSoon();
}

void SolarSystemViewController::tellAboutReplacedChangesSoon() {
  // The file may name changes an earlier process of this installation lost after it quit:
  // told once the window shows the document.
  platform::mainQueue().async([weak = std::weak_ptr<SolarSystemViewController>(self())] {
    if (auto me = weak.lock()) me->tellAboutReplacedChanges();
  });
}

void SolarSystemViewController::updateWindowFromDocument(const std::shared_ptr<IdeaDocument>& doc) {
  platform::Window* window = myWindow();
  if (!window || !doc) return;
  const bool temp = doc->location() == DocumentLocationTemp;
  // Qt shows the edited mark where the title holds "[*]": a new document, and a document whose
  // last save failed, hold changes that are not in their file.
  const bool unsaved = temp || (doc == mDoc && mLastSaveFailed);
  window->setTitle(doc->documentWindowName() + (unsaved ? QStringLiteral("[*]") : QString()));
  window->widget()->setWindowModified(unsaved);
  MyWindow* shell = shellWindow();
  const QUrl url = doc->representativeURL();
  if (doc->location() == DocumentLocationLocalFile) {
    if (shell) shell->setDocURL(url);
    if (ApplicationDelegate* app = Globals::app()) app->addNewRecentDocumentURL(url);
  } else if (!temp && shell) {
    shell->setDocURL(url);
  }
  if (shell) shell->setCloudIconStateForLocation(doc->location());
}

// The save road.

void SolarSystemViewController::updateSolarSystemAndSaveDocument() {
  // The save first: its snapshot holds the edit from now on and its write is queued, so that
  // nothing the view does for the edit (a crowded orbit takes long) stands between the user's
  // accept and the file, nor an end that cannot wait for the main thread.
  if (mForcedClosing) {
    // A write now would put the document back where it was deleted or dropped: the edit is
    // kept as a copy instead.
    mEditLeftUnwritten = true;
    mLastSaveFailed = true;
    mDropUnsavedEdit = false;
  } else if (mDoc && mDocToken >= 1) {
    saveCounted();
  }
  if (!mSolarSystem || !mRealIdea) return;
  mSolarSystem->startUpdate();
  mSolarSystem->setCentralIdea(mRealIdea);
  const auto& children = mRealIdea->ideas();
  for (std::size_t i = 0; i < children.size(); ++i)
    mSolarSystem->modifyIdea(children[i], static_cast<std::int64_t>(i));
  mSolarSystem->endUpdate();
}

void SolarSystemViewController::commitPendingEdits() {
  // The popover's close stores the typed title and queues its save.
  closeEditPopoverNow();
}

void SolarSystemViewController::startSave() {
  // Nothing may be written once the token went back, and a tree another instance replaced
  // meanwhile is not written over its change.
  if (!mDoc || mDocToken < 1 || !mRootIdea || mPendingRoot) {
    saveFinished(!mLastSaveFailed, /*wrote=*/false);
    return;
  }
  mDoc->setIdea(mRootIdea);
  std::weak_ptr<SolarSystemViewController> weak = self();
  PersistenceController::singleton().saveDocument(mDoc, mDocToken, [weak, doc = mDoc](bool ok) {
    // A save of the document this window left by Save As says nothing about the one it shows.
    if (auto me = weak.lock()) me->saveFinished(ok || me->mDoc != doc, /*wrote=*/true);
  });
}

void SolarSystemViewController::saveCounted() {
  // Counted as in flight like every save, so that its report ends no other save's count.
  ++mSavesInFlight;
  startSave();
}

void SolarSystemViewController::saveFinished(bool ok, bool wrote) {
  if (mSavesInFlight > 0) --mSavesInFlight;
  // A write started before a forced close cancelled the later ones holds none of their edits.
  const bool wasFailed = std::exchange(mLastSaveFailed, !ok || mEditLeftUnwritten);
  // Our write landed after another instance's change: the file holds our older tree.
  if (wrote && ok && mPendingRoot) mOverwroteOutsideChange = true;
  // An edit the user gave up before is no answer for a later one.
  if (wrote && !ok) mDropUnsavedEdit = false;
  if (!ok)
    if (MyWindow* shell = shellWindow())
      shell->showShortNotificationToUser(
          Globals::normalLocalizedStringForKey(QString(), QString::fromLatin1(kFailedToUpdate)));
  // The first failure also says which file could not be written and why, unless a question
  // about it follows (a close, the quit, Save); the failures after it until a save succeeds add
  // nothing new. Told on a later turn, not from inside the save's report.
  if (!ok && !wasFailed && mAfterSaves.empty()) {
    platform::mainQueue().async([weak = std::weak_ptr<SolarSystemViewController>(self())] {
      if (auto me = weak.lock(); me && me->mLastSaveFailed && !me->mQuitting) me->tellAboutFailedSave();
    });
  }
  // The unsaved mark stays in the title until a save succeeds.
  if (wasFailed != mLastSaveFailed && mDoc) updateWindowFromDocument(mDoc);
  if (mSavesInFlight > 0) return;
  if (!mAfterSaves.empty()) return runWhatWaitsForSaves();
  applyPendingOutsideChange();
}

void SolarSystemViewController::runWhatWaitsForSaves() {
  auto waiting = std::exchange(mAfterSaves, {});
  for (const auto& then : waiting) then();
}

void SolarSystemViewController::tellAboutFailedSave() {
  if (!mDoc) return;
  CustomAlertView alert(Globals::normalLocalizedStringForKey(QString(), QString::fromLatin1(kFailedToUpdate)),
                        failedSaveDescription());
  alert.addButton(Globals::normalLocalizedStringForKey(QStringLiteral("Choice.Close"), QStringLiteral("Close")),
                  CAVButton::kCancel, [] {});
  alert.showFromWindow(myWindow());
}

void SolarSystemViewController::tellAboutEditKept(const QString& name, const QString& copy, const QString& reason) {
  const QString text =
      copy.isEmpty()
          ? Globals::normalLocalizedStringForKey(QStringLiteral("ForcedClose.CopyFailed"),
                                                 QStringLiteral("\u201C%1\u201D is no longer available here, and its "
                                                                "last changes were not saved to it. No copy of them "
                                                                "could be kept: %2"))
                .arg(name, reason)
          : Globals::normalLocalizedStringForKey(QStringLiteral("ForcedClose.CopyKept"),
                                                 QStringLiteral("\u201C%1\u201D is no longer available here, and its "
                                                                "last changes were not saved to it. A copy of them is "
                                                                "kept, and Orrery offers it the next time it starts."))
                .arg(name);
  CustomAlertView alert(Globals::normalLocalizedStringForKey(QString(), QString::fromLatin1(kFailedToUpdate)), text);
  alert.addButton(Globals::normalLocalizedStringForKey(QStringLiteral("Choice.Close"), QStringLiteral("Close")),
                  CAVButton::kCancel, [] {});
  alert.showFromWindow(nullptr);
}

QString SolarSystemViewController::failedSaveDescription() const {
  // Which file, and why it could not be written.
  const QString reason = mDoc && !mDoc->lastUserFriendlyError().isEmpty()
                             ? mDoc->lastUserFriendlyError()
                             : Globals::normalLocalizedStringForKey(QStringLiteral("CannotSaveDocument:Message"),
                                                                    QStringLiteral("The document could not be saved"));
  return QStringLiteral("%1\n%2").arg(mDoc ? mDoc->openFilePath() : QString(), reason);
}

void SolarSystemViewController::saveOnceMoreBeforeQuit() {
  mQuitting = true;
  if (!mLastSaveFailed || mDropUnsavedEdit || mSavesInFlight > 0) return;
  saveCounted();
}

void SolarSystemViewController::keepEditNotOnDisk() {
  if (!mLastSaveFailed || mDropUnsavedEdit || !mDoc || !mRootIdea) return;
  QString reason;
  if (keepCopyOfEdit(&reason).isEmpty())
    logLine(QStringLiteral("Quit: the edit of %1 could not be kept: %2").arg(mDoc->filePath(), reason));
}

QString SolarSystemViewController::keepCopyOfEdit(QString* reason) {
  mDoc->setIdea(mRootIdea);
  const QString copy = keepRecoveryCopy(mDoc->filePath(),
                                        DocumentSnapshot::of(mRootIdea, mDoc->dateCreated(), mDoc->dateModified())
                                            .encodeWithinLimits(/*compressed=*/true),
                                        reason);
  // The copy holds the edit: no later close or quit saves, asks about or keeps it again.
  if (!copy.isEmpty()) mDropUnsavedEdit = true;
  return copy;
}

void SolarSystemViewController::whenSavesAreDone(std::function<void()> then) {
  mAfterSaves.push_back(std::move(then));
  if (mSavesInFlight > 0) return;
  // The edit that could not be written is only in memory: try once more.
  saveCounted();
}

void SolarSystemViewController::applyPendingOutsideChange() {
  if (!mPendingRoot || mSavesInFlight > 0 || mDrillingUpOrDown) return;
  const IdeaPtr root = std::exchange(mPendingRoot, nullptr);
  const bool rewrite = std::exchange(mOverwroteOutsideChange, false);
  const bool sameDocument = mRootIdea && root->identifier() == mRootIdea->identifier();
  modelDidChangeWithNewRootIdea(root);
  // Put the other instance's tree back into the file our later write replaced.
  if (rewrite && sameDocument) updateSolarSystemAndSaveDocument();
}

void SolarSystemViewController::modelDidChangeWithNewRootIdea(const IdeaPtr& newRoot) {
  if (!newRoot || !mDoc) return;
  if (mSavesInFlight > 0 || mDrillingUpOrDown) {
    // Kept as it is now: our own save sets the document's tree again before it writes, and a
    // drill ends on an idea of the shown tree, which is then looked up in the new one.
    mPendingRoot = newRoot;
    return;
  }
  if (!mRootIdea || newRoot->identifier() != mRootIdea->identifier()) {
    performForcedClose();
    return;
  }
  mDoc->setIdea(newRoot);
  showTree(newRoot);
}

void SolarSystemViewController::showTreeOfSavedAsDocument() {
  // A change another instance made to the old file is no change of the new one.
  mPendingRoot = nullptr;
  mOverwroteOutsideChange = false;
  if (!mRootIdea) return;
  // A drill ends on an idea of the old tree: the new one is shown once it has ended.
  if (mDrillingUpOrDown) {
    mPendingRoot = mRootIdea;
    return;
  }
  showTree(mRootIdea);
}

void SolarSystemViewController::showTree(const IdeaPtr& newRoot) {
  IdeaPtr shown = mOwnIdea ? newRoot->findIdeaInSubTreeWithIdentifier(mOwnIdea->identifier()) : nullptr;
  // A shown link whose target went is no sun either.
  if (shown && shown->isLink() && !shown->linkedIdea()) shown = nullptr;
  switchToIdea(shown ? shown : newRoot, /*animated=*/false);
  if (mSolarSystemState == kSolarSystemStateRadial || !mGraphScrollView) return;
  // The graph stays in front and shows the new tree; the new radial view waits behind it.
  if (mSolarSystem) {
    mSolarSystem->setAlphaValue(0);
    mSolarSystem->setHidden(true);
  }
  updateGraphSearch();
  if (mSolarSystemState == kSolarSystemStateGraph) makeFirstResponder(mGraphScrollView.get());
}

// Listeners.

void SolarSystemViewController::pleaseStopUsingLocation(DocumentLocation location) {
  if (mDoc && mDoc->location() == location) performForcedClose();
}

void SolarSystemViewController::documentUpdated(const std::shared_ptr<IdeaProxy>& proxy) {
  if (!proxy || !mDoc || proxy->docIdentifier() != mDoc->docIdentifier()) return;
  // Our own save's echo.
  if (mSavesInFlight > 0) return;
  modelDidChangeWithNewRootIdea(mDoc->idea());
}

void SolarSystemViewController::documentDeleted(const QString& docIdentifier) {
  if (mDoc && docIdentifier == mDoc->docIdentifier()) performForcedClose();
}

// Ending.

void SolarSystemViewController::releaseDocumentOnce(BoolCompletion completion, bool discardScratchFile) {
  const DocumentToken token = mDocToken;
  auto doc = mDoc;
  if (!doc || token < 1) {
    if (completion) completion(false);
    return;
  }
  // Cleared before the release: whatever happens next, this token is never returned again.
  mDocToken = 0;
  auto& persistence = PersistenceController::singleton();
  const QString scratch = discardScratchFile && doc->location() == DocumentLocationTemp
                              ? persistence.urlForLocalOrTempFileWithDocIdentifer(doc->docIdentifier()).toLocalFile()
                              : QString();
  persistence.releaseDocument(doc, token, [doc, scratch, completion = std::move(completion)](bool ok) {
    if (!scratch.isEmpty() && !doc->isOpen()) deleteScratchFileWhenIdle(doc, scratch);
    if (completion) completion(ok);
  });
}

void SolarSystemViewController::deleteScratchFileWhenIdle(const std::shared_ptr<IdeaDocument>& doc,
                                                          const QString& path) {
  // A write still under way would bring the file back: remove it after the last one, in the
  // write order of the persistence queue.
  if (doc->isSaving()) {
    platform::mainQueue().after(platform::Millis(100), [doc, path] { deleteScratchFileWhenIdle(doc, path); });
    return;
  }
  PersistenceController::singleton().workQueue().async([path] { QFile::remove(path); });
}

void SolarSystemViewController::closeWindow() {
  if (platform::Window* window = myWindow()) window->performClose();
}

void SolarSystemViewController::performForcedClose() {
  if (mForcedClosing) return;
  mForcedClosing = true;
  // What the open popover holds joins the edit, kept with it.
  closeEditPopoverNow();
  if (!screenOccupied()) occupyScreen(QString::fromLatin1(kClosingWindow));
  // Whether the edit reached the file is known once the own writes under way have ended. It is
  // settled before a close or a question that waited for them goes on: kept, it is not asked about.
  mAfterSaves.insert(mAfterSaves.begin(), [weak = std::weak_ptr<SolarSystemViewController>(self())] {
    if (auto me = weak.lock()) me->finishForcedClose();
  });
  if (mSavesInFlight == 0) runWhatWaitsForSaves();
}

void SolarSystemViewController::finishForcedClose() {
  if (mLastSaveFailed && !mDropUnsavedEdit && mDoc && mRootIdea) {
    QString reason;
    const QString copy = keepCopyOfEdit(&reason);
    const QString name = mDoc->documentWindowName();
    if (copy.isEmpty())
      logLine(QStringLiteral("The window of %1 closed; its edit could not be kept: %2").arg(mDoc->filePath(), reason));
    else
      logLine(QStringLiteral("The window of %1 closed; its edit is kept in %2").arg(mDoc->filePath(), copy));
    // Told once the window has gone, not from inside the report that closed it.
    platform::mainQueue().async([name, copy, reason] { tellAboutEditKept(name, copy, reason); });
  }
  std::weak_ptr<SolarSystemViewController> weak = self();
  releaseDocumentOnce(
      [weak](bool) {
        if (auto me = weak.lock()) me->closeWindow();
      },
      /*discardScratchFile=*/false);
}

}  // namespace orrery
