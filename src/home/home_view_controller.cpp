#include "home/home_view_controller.h"

#include "cloud/damaged_index.h"
#include "editor_screen/solar_system_view_controller.h"
#include "foundation/globals.h"
#include "foundation/logging.h"
#include "foundation/views/custom_alert_view.h"
#include "foundation/views/text_view.h"
#include "model/color_theme.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "model/idea_proxy.h"
#include "model/persistence_controller.h"
#include "platform/cloud/local_folder_container.h"
#include "platform/core/dispatch.h"
#include "platform/ui/event.h"
#include "shell/main_layout_view.h"
#include "shell/my_window.h"
#include "shell/screen_factory.h"

#include <QDateTime>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace orrery {
namespace {

constexpr char kLocationKey[] = "location";

PersistenceController& facade() { return PersistenceController::singleton(); }

// Start-up measurements ask for it (ORRERY_LOG_FIRST_TILES set): the first frame of the process
// that shows tiles is drawn at once and noted on standard error.
void noteFirstFrameWithTiles(platform::Window* window, std::size_t tiles) {
  static const bool requested = qEnvironmentVariableIsSet("ORRERY_LOG_FIRST_TILES");
  static bool noted = false;
  if (!requested || noted || !window || tiles == 0) return;
  noted = true;
  window->displayIfNeeded();
  std::fprintf(stderr, "orrery: first frame with %zu tiles\n", tiles);
  std::fflush(stderr);
}

QString localized(const char* key) {
  return Globals::normalLocalizedStringForKey(QString::fromLatin1(key), QString());
}

// What the screen and the add button say while the iCloud folder is away.
QString unreachableFolderText(const QString& folder) {
  return Globals::normalLocalizedStringForKey(
             QStringLiteral("CloudFolderUnreachable:Notice"),
             QStringLiteral("The iCloud folder cannot be reached.\nOrrery looked for it at %1"))
      .arg(folder);
}

// The notice's band: its text across the width less these sides, this far below the top bar,
// and the grid this far below the text.
constexpr double kNoticeSide = 40;
constexpr double kNoticeTop = 20;
constexpr double kNoticeBottom = 12;

void placeNotice(platform::View& view, const QRectF& host) {
  auto& notice = static_cast<TextView&>(view);
  if (notice.isHidden()) {
    notice.setFrame(QRectF(host.topLeft(), QSizeF(host.width(), 0)));
    return;
  }
  notice.sizeToFitWidth(std::max(0.0, host.width() - 2 * kNoticeSide));
  const QSizeF size = notice.frame().size();
  notice.setFrame(QRectF(QPointF(std::round(host.center().x() - size.width() / 2), host.top() + kNoticeTop), size));
}

// The grid fills what the notice leaves below it.
void placeGridBelow(const platform::View& notice, platform::View& grid, const QRectF& host) {
  const double top = notice.isHidden() ? host.top() : std::min(host.bottom(), notice.frame().bottom() + kNoticeBottom);
  grid.setFrame(QRectF(host.left(), top, host.width(), host.bottom() - top));
}

}  // namespace

std::shared_ptr<HomeViewController> HomeViewController::create(DocumentLocation location, const QString& searchText) {
  auto home = std::make_shared<HomeViewController>(location);
  if (!searchText.isEmpty()) {
    home->view();
    home->mTopBar->setCurrentSearchText(searchText);
    home->topBarSearchStatusDidChange(/*final=*/true);
  }
  return home;
}

std::shared_ptr<HomeViewController> HomeViewController::createForRestoration() {
  return std::make_shared<HomeViewController>(DocumentLocationTemp);
}

HomeViewController::HomeViewController(DocumentLocation location) : mLocation(location) {
  registerHomeCommands();
  mStateObserver.observe(PersistenceStateChangeNotification, nullptr, [this](const platform::Notification&) {
    ensureCorrectTitle();
    checkFolderReachable();
  });
  mStateObserver.observe(CloudIndexSetAsideNotification, nullptr,
                         [this](const platform::Notification&) { tellCloudNotices(); });
}

void HomeViewController::tellCloudNotices() {
  // The alert waits for its answer: not from inside the engine's report or a window's switch.
  platform::mainQueue().async([weakSelf = std::weak_ptr<ViewController>(weak_from_this())] {
    auto me = std::static_pointer_cast<HomeViewController>(weakSelf.lock());
    // One screen tells them, whichever shows the iCloud list first; until one shows, they wait.
    if (!me || me->mLocation != DocumentLocationICloud || !me->isHostedInItsWindow()) return;
    const QStringList messages = takeCloudNotices();
    if (messages.isEmpty()) return;
    CustomAlertView alert(localized("CloudIndexSetAside:Title"), messages.join(QStringLiteral("\n\n")));
    alert.addButton(localized("Choice.Close"), CAVButton::kOrdinary, nullptr);
    alert.showFromWindow(me->myWindow());
  });
}

HomeViewController::~HomeViewController() {
  // An in-place edit still waiting for its panel gives its document back.
  if (auto step = std::move(mActionAfterEditing)) step();
  // A search nobody waits for any more need not run on.
  if (mCurrentSearchRequestID != 0) facade().killSearch(mCurrentSearchRequestID, mLocation);
  if (mIdeaListView) mIdeaListView->setDelegate(nullptr);
  if (mTopBar) mTopBar->setDelegate(nullptr);
}

std::shared_ptr<HomeViewController> HomeViewController::self() {
  return std::static_pointer_cast<HomeViewController>(shared_from_this());
}

MyWindow* HomeViewController::shellWindow() const { return dynamic_cast<MyWindow*>(myWindow()); }

bool HomeViewController::isHostedInItsWindow() const {
  MyWindow* window = shellWindow();
  return window && window->controller().get() == this;
}

void HomeViewController::giveBack(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token) {
  if (doc && token >= 1) facade().releaseDocument(doc, token, nullptr);
}

// ---- window hooks

void HomeViewController::loadView() {
  mLayoutView = std::make_shared<MainLayoutView>();
  setView(mLayoutView);
  mIdeaListView = std::make_shared<IdeaListView>();
  mIdeaListView->setDelegate(this);
  mIdeaListView->dockAreaView().setDelegate(this);
  // The content: the notice of an unreachable folder (hidden while the folder is there) over
  // the grid, each in its own part, so the notice never covers a tile or takes its clicks.
  mUnreachableNotice = std::make_shared<TextView>();
  mUnreachableNotice->setTextAlignment(platform::TextAlignment::Center);
  mUnreachableNotice->setTextColor(Globals::colorGrayDarkText());
  mUnreachableNotice->setFont(Globals::fontAvenirBook(16));
  mUnreachableNotice->setHidden(true);
  mContentView = std::make_shared<BaseView>();
  mContentView->addHostedView(mUnreachableNotice, placeNotice);
  mContentView->addHostedView(mIdeaListView,
                              [notice = mUnreachableNotice.get()](platform::View& grid, const QRectF& host) {
                                placeGridBelow(*notice, grid, host);
                              });
  mLayoutView->setContentView(mContentView);
  mTopBar = std::make_shared<TopBarView>();
  mTopBar->setDelegate(this);
  mLayoutView->setTopBar(mTopBar);
  mLayoutView->setNeedsLayout();
  updateUnreachableNotice();
}

void HomeViewController::viewDidLoad() {
  reloadTable();
  checkFolderReachable();
  // Listeners are held weakly: the alias keeps this controller's life its own.
  auto listener = std::shared_ptr<PersistenceControllerListener>(self(), this);
  facade().removeListener(this);
  facade().addListener(listener);
}

void HomeViewController::focusGrid() {
  platform::Window* window = myWindow();
  if (!window || !mIdeaListView) return;
  // The document view takes no keys of its own here; then the grid around it does.
  if (!window->makeFirstResponder(&mIdeaListView->hugeView())) window->makeFirstResponder(mIdeaListView.get());
}

void HomeViewController::viewWillAppear() { focusGrid(); }

void HomeViewController::viewDidAppear() {
  updateStatusDueToPossibleDockingUpdate();
  mIdeaListView->deleteAreaView().setHidden(true);
}

void HomeViewController::becameTopLevelController() {
  BaseViewController::becameTopLevelController();
  focusGrid();
  ensureCorrectTitle();
  tellCloudNotices();
}

QString HomeViewController::storedClassName() const { return QString::fromLatin1(kHomeControllerClass); }

QVariantMap HomeViewController::createState() {
  return {{QString::fromLatin1(kLocationKey), QVariant::fromValue<qulonglong>(mLocation)}};
}

bool HomeViewController::restoreFromState(const QVariantMap& state) {
  // A stored value other than a cloud location (or none) reads as iCloud.
  const qulonglong stored = state.value(QString::fromLatin1(kLocationKey)).toULongLong();
  mLocation = stored == DocumentLocationDropbox ? DocumentLocationDropbox : DocumentLocationICloud;
  // The grid was filled for no location while the screen was made; a ready list shows now.
  if (isViewLoaded()) {
    reloadTable();
    checkFolderReachable();
  }
  ensureCorrectTitle();
  return true;
}

// ---- an unreachable folder

void HomeViewController::checkFolderReachable() {
  const std::uint64_t check = ++mReachabilityCheck;
  // Only the iCloud stand-in lives in a folder the user chose. A location that never found its
  // folder stays "starting" or "unavailable", which it also is for a moment while the folder is
  // looked up: the folder itself is asked.
  const WorkspaceStatus status = facade().statusForLocation(mLocation);
  if (mLocation != DocumentLocationICloud || status == WorkspaceStatusReady || status == WorkspaceStatusLoading) {
    showUnreachableFolder(QString());
    return;
  }
  std::weak_ptr<ViewController> weakSelf = weak_from_this();
  platform::LocalFolderContainer::fetchDocumentsFolder([weakSelf, check](const QString& folder) {
    auto me = std::static_pointer_cast<HomeViewController>(weakSelf.lock());
    if (!me || check != me->mReachabilityCheck) return;
    me->showUnreachableFolder(folder.isEmpty() ? platform::LocalFolderContainer::root().path : QString());
  });
}

void HomeViewController::showUnreachableFolder(const QString& folder) {
  if (folder == mUnreachableFolder) return;
  mUnreachableFolder = folder;
  if (!folder.isEmpty())
    logLine(QStringLiteral("Home screen: the iCloud folder cannot be reached; looked for it at %1").arg(folder));
  updateUnreachableNotice();
}

void HomeViewController::updateUnreachableNotice() {
  if (!mUnreachableNotice || !mContentView) return;
  mUnreachableNotice->setText(unreachableFolderText(mUnreachableFolder));
  mUnreachableNotice->setHidden(mUnreachableFolder.isEmpty());
  mContentView->forceDirtyLayout();
}

void HomeViewController::keyDown(const platform::Event& event) {
  if ((event.modifierFlags & platform::ModifierFlag::Command) &&
      event.charactersIgnoringModifiers.compare(QLatin1String("f"), Qt::CaseInsensitive) == 0) {
    if (mTopBar && !mTopBar->isEditingSearchText()) mTopBar->startEditingSearchText();
    return;
  }
  BaseViewController::keyDown(event);
}

void HomeViewController::occupyScreen(const QString& operation) {
  BaseViewController::occupyScreen(operation);
  if (mIdeaListView) mIdeaListView->setUserInteractionEnabled(false);
}

void HomeViewController::liberateScreen(const QString& operation) {
  BaseViewController::liberateScreen(operation);
  if (mIdeaListView) mIdeaListView->setUserInteractionEnabled(true);
}

void HomeViewController::ensureCorrectTitle() {
  MyWindow* window = shellWindow();
  if (!window) return;
  if (mLocation == DocumentLocationICloud) {
    window->setTitle(Globals::normalLocalizedStringForKey(QString(), QStringLiteral("iCloud Documents")));
    window->setDocURL(QUrl(QStringLiteral("icloud://icloud")));
  } else if (mLocation == DocumentLocationDropbox) {
    window->setTitle(Globals::normalLocalizedStringForKey(QString(), QStringLiteral("Dropbox Documents")));
    window->setDocURL(QUrl(QStringLiteral("dropbox://dropbox")));
  } else {
    window->setTitle(QString());
  }
  window->setCloudIconStateForLocation(mLocation);
}

// ---- the grid

void HomeViewController::reloadTable() {
  if (!mIdeaListView) return;
  // Emptied for a moment, the grid would be scrolled to its top: the list comes back where
  // the user had it (as far down as it still reaches).
  const QPointF scrolled = mIdeaListView->scrollPosition();
  mIdeaListView->removeAllContent();
  if (auto list = facade().proxyListForLocation(mLocation))
    for (const auto& proxy : *list) mIdeaListView->appendProxy(proxy, /*silently=*/true);
  updateView();
  mIdeaListView->scrollToPoint(scrolled);
}

void HomeViewController::updateView() {
  if (!mIdeaListView) return;
  mIdeaListView->setReadOnlyMode(isSearching());
  mIdeaListView->updateView();
  noteFirstFrameWithTiles(myWindow(), mIdeaListView->proxies().size());
}

void HomeViewController::updateState(HomeScreenState state) {
  mState = state;
  if (state == kHomeScreenStateList || state == kHomeScreenStateListNotReady) focusGrid();
}

IdeaViewForIPadListItem* HomeViewController::visibleIdeaViewForDocument(const QString& docIdentifier) const {
  return mIdeaListView ? mIdeaListView->visibleIdeaViewForDocument(docIdentifier) : nullptr;
}

platform::View* HomeViewController::currentDragTarget() const {
  return mIdeaListView ? mIdeaListView->viewAtFocus() : nullptr;
}

void HomeViewController::updateStatusDueToPossibleDockingUpdate() {
  if (!mIdeaListView) return;
  auto* window = dynamic_cast<DragSupportWindow*>(myWindow());
  const IdeaPtr docked = window ? window->currentDockedIdea() : nullptr;
  DockAreaView& dock = mIdeaListView->dockAreaView();
  dock.takeIdeaInside(docked, window ? window->currentDockedDocIdentifier() : QString());
  dock.setHidden(!docked);
}

bool HomeViewController::hasShadowModeForDocument(const QString& docIdentifier) {
  auto* window = dynamic_cast<DragSupportWindow*>(myWindow());
  return window && !window->currentDockedDocIdentifier().isEmpty() &&
         window->currentDockedDocIdentifier() == docIdentifier;
}

// ---- search

void HomeViewController::topBarSearchStatusDidChange(bool final) {
  if (!mTopBar) return;
  const QString text = mTopBar->currentSearchText();
  const bool wasSearching = isSearching();
  if (!text.isEmpty()) {
    if (!final) return;
    if (!wasSearching) {
      mState = kHomeScreenStateSearching;
      updateView();
    }
    startSearch(text);
    return;
  }
  if (wasSearching) {
    // The request still running would otherwise fill the list with its late results.
    if (mCurrentSearchRequestID != 0) facade().killSearch(mCurrentSearchRequestID, mLocation);
    mCurrentSearchRequestID = 0;
    mState = facade().proxyListForLocation(mLocation) ? kHomeScreenStateList : kHomeScreenStateListNotReady;
    reloadTable();
    // The list comes back from its top, not from where the results were scrolled to.
    if (mIdeaListView) mIdeaListView->scrollToPoint(QPointF());
  }
  if (!mTopBar->isEditingSearchText()) focusGrid();
}

void HomeViewController::startSearch(const QString& text) {
  mCurrentSearchRequestID = facade().nextSearchRequestID();
  updateState(kHomeScreenStateSearching);
  facade().startSearch(text, mLocation, mCurrentSearchRequestID);
}

void HomeViewController::searchIsReady(const std::vector<std::shared_ptr<IdeaProxy>>& results,
                                       DocumentLocation location, std::int64_t requestIdentifier) {
  if (location != mLocation || mCurrentSearchRequestID == 0 || mCurrentSearchRequestID > requestIdentifier) return;
  if (requestIdentifier > mCurrentSearchRequestID) {
    // A newer search superseded the one this screen waits for: ask again.
    if (mState != kHomeScreenStateSearching) return;
    const QString text = mTopBar ? mTopBar->currentSearchText() : QString();
    mCurrentSearchRequestID = facade().nextSearchRequestID();
    if (!text.isEmpty()) facade().startSearch(text, mLocation, mCurrentSearchRequestID);
    return;
  }
  mCurrentSearchRequestID = 0;
  if (!mIdeaListView) return;
  mIdeaListView->removeAllContent();
  for (const auto& proxy : results) mIdeaListView->appendProxy(proxy, /*silently=*/false);
  updateState(kHomeScreenStateResults);
  updateView();
}

// ---- list reports. While a search runs or its results show, the grid holds results, not
// the list: entries at list indexes would land among them. Only updates and deletions apply
// then; clearing the search reloads the list.

void HomeViewController::pleaseStopUsingLocation(DocumentLocation location) {
  if (location != mLocation) return;
  if (platform::Window* window = myWindow()) window->performClose();
}

void HomeViewController::batchUpdateStartingInLocation(DocumentLocation location) {
  if (location == mLocation && !isSearching()) reloadTable();
}

void HomeViewController::batchUpdateDoneInLocation(DocumentLocation location) {
  if (location == mLocation && !isSearching()) reloadTable();
}

void HomeViewController::documentAppended(const std::shared_ptr<IdeaProxy>& proxy) {
  if (!proxy || proxy->location() != mLocation || isSearching() || !mIdeaListView) return;
  mIdeaListView->appendProxy(proxy, /*silently=*/false);
}

void HomeViewController::documentAdded(const std::shared_ptr<IdeaProxy>& proxy, std::size_t index) {
  if (!proxy || proxy->location() != mLocation || isSearching() || !mIdeaListView) return;
  mIdeaListView->insertProxy(proxy, index);
}

void HomeViewController::documentMoved(const std::shared_ptr<IdeaProxy>& proxy, std::size_t index) {
  if (!proxy || IdeaDocument::locationFromIdentifier(proxy->docIdentifier()) != mLocation || isSearching() ||
      !mIdeaListView)
    return;
  mIdeaListView->moveProxyAtIndex(0, index);
}

void HomeViewController::documentUpdated(const std::shared_ptr<IdeaProxy>& proxy) {
  if (!proxy || proxy->location() != mLocation || !mIdeaListView) return;
  mIdeaListView->updateProxy(proxy);
}

void HomeViewController::documentDeleted(const QString& docIdentifier) {
  if (IdeaDocument::locationFromIdentifier(docIdentifier) != mLocation || !mIdeaListView) return;
  mIdeaListView->removeProxyWithDocIdentifer(docIdentifier);
}

// ---- opening and creating documents

void HomeViewController::onDrillDownTo(const QString& docIdentifier, bool startEditing) {
  // A double click edits the document's central idea in place, as the tile menu's "Edit" does.
  if (startEditing)
    onEditItem(docIdentifier);
  else
    onOpenItem(docIdentifier);
}

void HomeViewController::showOpenFailure(const std::shared_ptr<IdeaDocument>& doc) {
  // The quit dropped the read: nothing failed.
  if (doc && doc->lastError().isCancelled()) return;
  if (doc && !doc->lastUserFriendlyError().isEmpty()) {
    showSimpleAlertViewWithTitle(Globals::normalLocalizedStringForKey(QStringLiteral("DocumentOpeningFailureDialog:Title"),
                                                                      QStringLiteral("Cannot open document")),
                                 doc->lastUserFriendlyError());
    return;
  }
  showSimpleAlertViewWithTitle(localized("DialogTitle.Oops"),
                               localized(mLocation == DocumentLocationICloud ? "DocumentOpeningFailedFromICloud:Message"
                                                                             : "GenericDocumentOpeningFailedDialog:Message"));
}

void HomeViewController::openSolarSystemForIdeaDocument(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token,
                                                        bool startEditing) {
  MyWindow* window = shellWindow();
  // A token that reaches no editor goes back: the screen is busy, or it left its window
  // (closed, replaced by another screen) while the open or create ran.
  if (screenOccupied() || !isHostedInItsWindow() || !doc || !doc->idea()) {
    giveBack(doc, token);
    return;
  }
  auto editor = SolarSystemViewController::create(doc, token, QString());
  editor->makeSearch(mTopBar ? mTopBar->currentSearchText() : QString());
  occupyScreen(QString::fromLatin1(kOpenSolarSystemToken));
  std::weak_ptr<ViewController> weakSelf = weak_from_this();
  const QString rootIdentifier = doc->idea()->identifier();
  window->switchToViewController(editor, /*animated=*/true, [weakSelf, editor, startEditing, rootIdentifier] {
    if (auto me = std::static_pointer_cast<HomeViewController>(weakSelf.lock()))
      me->liberateScreen(QString::fromLatin1(kOpenSolarSystemToken));
    if (startEditing) editor->onEditIdea(rootIdentifier);
  });
}

void HomeViewController::onAddNewIdea() {
  if (screenOccupied()) return;
  if (!mUnreachableFolder.isEmpty()) {
    // Nothing can be created there: say why rather than doing nothing.
    CustomAlertView::showErrorResult(MyResult::error(QString(), unreachableFolderText(mUnreachableFolder)));
    return;
  }
  IdeaPtr idea = Idea::createWithText(QString());
  const auto list = facade().proxyListForLocation(mLocation);
  const std::size_t count = list ? list->size() : 0;
  const auto& themes = ColorTheme::standardThemes();
  if (!themes.empty() && !themes[(count + 1) % themes.size()]->colors().empty())
    idea->setColor(themes[(count + 1) % themes.size()]->colors().front());
  idea->setColorThemeType(ColorThemeTypeLighterColor);
  auto doc = IdeaDocument::createWithFileName(QString(), mLocation);
  doc->setIdea(idea);
  const QDateTime now = QDateTime::currentDateTimeUtc();
  doc->setDateCreated(now);
  doc->setDateModified(now);
  std::weak_ptr<ViewController> weakSelf = weak_from_this();
  facade().createDocument(doc, [weakSelf, doc](DocumentToken token) {
    if (token < 1) return;
    auto me = std::static_pointer_cast<HomeViewController>(weakSelf.lock());
    if (!me) {
      giveBack(doc, token);
      return;
    }
    me->openSolarSystemForIdeaDocument(doc, token, /*startEditing=*/true);
  });
}

}  // namespace orrery
