#include "app/preferences_window_controller.h"

#include "app/app_delegate.h"
#include "app/window_arrangement.h"
#include "app/window_placement.h"
#include "foundation/dictionary_extensions.h"
#include "platform/core/dispatch.h"
#include "platform/core/notification_center.h"
#include "platform/services/user_defaults.h"
#include "platform/ui/view.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QWidget>

#include <cmath>
#include <functional>

namespace orrery {

namespace {

QString paneFrameKey(const QString& identifier) { return QStringLiteral("Preferences %1 Frame").arg(identifier); }

}  // namespace

namespace {

class FrameWatcher : public QObject {
 public:
  FrameWatcher(std::function<void()> moved, std::function<void()> resized)
      : mMoved(std::move(moved)), mResized(std::move(resized)) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Move) mMoved();
    if (event->type() == QEvent::Resize) mResized();
    return QObject::eventFilter(watched, event);
  }

 private:
  std::function<void()> mMoved;
  std::function<void()> mResized;
};

}  // namespace

namespace placement {

QPointF fittedTopLeft(const QPointF& stored, const QSizeF& size, const QList<QRectF>& availableAreas) {
  QPointF point = stored;
  if (!std::isfinite(point.x()) || !std::isfinite(point.y())) point = QPointF(NAN, NAN);
  QRectF area;
  for (const QRectF& candidate : availableAreas)
    if (candidate.contains(point)) {
      area = candidate;
      break;
    }
  if (area.isEmpty()) {
    if (availableAreas.isEmpty()) return std::isfinite(point.x()) ? point : QPointF();
    area = availableAreas.first();
    if (!std::isfinite(point.x())) point = area.topLeft();
  }
  // Past the right or bottom edge moves back; a window larger than the area keeps its top left
  // on the area so its title bar stays reachable.
  const double x = std::max(area.left(), std::min(point.x(), area.right() - size.width()));
  const double y = std::max(area.top(), std::min(point.y(), area.bottom() - size.height()));
  return QPointF(x, y);
}

QSizeF paneSize(const QSizeF& saved, const QSizeF& minimum, bool resizableWidth, bool resizableHeight,
                const QSizeF& largest) {
  auto pick = [](double value, double least, bool resizable, double most) {
    if (!resizable || !std::isfinite(value) || value < least) return least;
    return most > 0 ? std::max(least, std::min(value, most)) : value;
  };
  return QSizeF(pick(saved.width(), minimum.width(), resizableWidth, largest.width()),
                pick(saved.height(), minimum.height(), resizableHeight, largest.height()));
}

}  // namespace placement

void closesByKey(platform::Window& window) {
  // The windows without their own controller answer Close Window (Ctrl+W) themselves; Escape
  // closes these dialogs as it does on every desktop.
  auto close = [&window](const platform::ActionSender&) { window.performClose(); };
  window.setActionHandler(QStringLiteral("performClose"), close);
  window.setActionHandler(platform::Actions::cancelOperation, close);
}

PreferencesWindowController::PreferencesWindowController(std::vector<PreferencesPane> panes, QString title)
    : mWindow(std::make_unique<platform::Window>(QSizeF(400, 200), platform::Window::Titled |
                                                                       platform::Window::Closable |
                                                                       platform::Window::Resizable)),
      mPanes(std::move(panes)),
      mTitle(std::move(title)) {
  mWindow->setDelegate(this);
  mWindow->setShowsMenuBar(false);
  closesByKey(*mWindow);
  mToolbar = std::make_shared<platform::Toolbar>(QStringLiteral("PreferencesToolbar"));
  mToolbar->setDelegate(this);
  mWindow->setToolbar(mToolbar);
  windowDidLoad();
  mFrameWatcher = std::make_unique<FrameWatcher>([this] { windowDidMove(*mWindow); },
                                                 [this] { windowDidResize(*mWindow); });
  mWindow->widget()->installEventFilter(mFrameWatcher.get());
}

void PreferencesWindowController::windowDidMove(platform::Window&) { frameChanged(); }

void PreferencesWindowController::windowDidResize(platform::Window&) { frameChanged(); }

void PreferencesWindowController::frameChanged() {
  if (!mWindow->isVisible()) return;
  const std::uint64_t change = ++mFrameChanges;
  platform::mainQueue().after(platform::Millis(250), [this, alive = std::weak_ptr<int>(mAlive), change] {
    if (alive.lock() && change == mFrameChanges) storeFrame();
  });
}

PreferencesWindowController::~PreferencesWindowController() {
  mWindow->widget()->removeEventFilter(mFrameWatcher.get());
  mWindow->setDelegate(nullptr);
  for (const auto& item : mToolbar->items()) item->setHandler(nullptr);
  mToolbar->setDelegate(nullptr);
}

void PreferencesWindowController::windowDidLoad() {
  if (!mTitle.isEmpty()) mWindow->setTitle(mTitle);
  if (!mPanes.empty()) {
    const QVariant stored = platform::UserDefaults::standard().objectForKey(kPreferencesSelectedIdentifierKey);
    PreferencesPane pane =
        stored.typeId() == QMetaType::QString ? viewControllerForIdentifier(stored.toString()) : nullptr;
    setSelectedViewController(pane ? pane : firstViewController());
  }
  const QVariant topLeft = platform::UserDefaults::standard().objectForKey(kPreferencesFrameTopLeftKey);
  if (topLeft.typeId() == QMetaType::QString) {
    const QPointF stored = dictext::pointFromString(topLeft.toString());
    mWindow->setFrameOrigin(placement::fittedTopLeft(stored, mWindow->frame().size(), arrangement::availableAreas()));
  } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    // Never moved yet: centred, as the about window; unplaced, it would open at the screen's corner.
    mWindow->setFrameOrigin(placement::centredOrigin(mWindow->frame().size(), QRectF(screen->availableGeometry())));
  }
}

QStringList PreferencesWindowController::toolbarItemIdentifiers() const {
  QStringList identifiers;
  for (const auto& pane : mPanes) identifiers << (pane ? pane->identifier() : platform::kToolbarFlexibleSpaceItemIdentifier);
  return identifiers;
}

QStringList PreferencesWindowController::toolbarAllowedItemIdentifiers(platform::Toolbar&) {
  return toolbarItemIdentifiers();
}

QStringList PreferencesWindowController::toolbarDefaultItemIdentifiers(platform::Toolbar&) {
  return toolbarItemIdentifiers();
}

QStringList PreferencesWindowController::toolbarSelectableItemIdentifiers(platform::Toolbar&) {
  return toolbarItemIdentifiers();
}

std::shared_ptr<platform::ToolbarItem> PreferencesWindowController::toolbarItemForItemIdentifier(
    platform::Toolbar&, const QString& identifier, bool) {
  auto item = std::make_shared<platform::ToolbarItem>(identifier);
  if (PreferencesPane pane = viewControllerForIdentifier(identifier)) {
    item->setImage(pane->toolbarItemImage());
    item->setLabel(pane->toolbarItemLabel());
    item->setHandler([this](platform::ToolbarItem& clicked) { toolbarItemDidClick(clicked); });
  }
  return item;
}

void PreferencesWindowController::toolbarItemDidClick(platform::ToolbarItem& item) {
  selectControllerWithIdentifier(item.itemIdentifier());
}

void PreferencesWindowController::addViewController(const PreferencesPane& pane) {
  mPanes.push_back(pane);
  mToolbar->insertItemWithItemIdentifier(pane ? pane->identifier() : platform::kToolbarFlexibleSpaceItemIdentifier,
                                         static_cast<int>(mToolbar->items().size()));
  mToolbar->validateVisibleItems();
}

int PreferencesWindowController::indexOfSelectedController() const {
  if (!mSelected) return -1;
  for (size_t i = 0; i < mPanes.size(); ++i)
    if (mPanes[i] && mPanes[i]->identifier() == mSelected->identifier()) return static_cast<int>(i);
  return -1;
}

PreferencesPane PreferencesWindowController::viewControllerForIdentifier(const QString& identifier) const {
  for (const auto& pane : mPanes)
    if (pane && pane->identifier() == identifier) return pane;
  return nullptr;
}

PreferencesPane PreferencesWindowController::firstViewController() const {
  for (const auto& pane : mPanes)
    if (pane) return pane;
  return nullptr;
}

void PreferencesWindowController::selectControllerAtIndex(int index) {
  // A placeholder's index selects nothing, like an index past the end.
  if (index < 0 || index >= static_cast<int>(mPanes.size()) || !mPanes[static_cast<size_t>(index)]) return;
  setSelectedViewController(mPanes[static_cast<size_t>(index)]);
}

void PreferencesWindowController::selectControllerWithIdentifier(const QString& identifier) {
  setSelectedViewController(viewControllerForIdentifier(identifier));
}

void PreferencesWindowController::setSelectedViewController(const PreferencesPane& pane) {
  if (pane == mSelected) return;
  auto& defaults = platform::UserDefaults::standard();
  if (mSelected) {
    if (!mSelected->commitEditing()) {
      mToolbar->setSelectedItemIdentifier(mSelected->identifier());
      return;
    }
    storeFrame();
    mWindow->setContentView(std::make_shared<platform::View>(QRectF()));
    PreferencesPane leaving = std::move(mSelected);
    mSelected.reset();
    leaving->viewDidDisappear();
  }
  if (!pane) return;
  if (mTitle.isEmpty()) mWindow->setTitle(pane->toolbarItemLabel());
  mToolbar->setSelectedItemIdentifier(pane->identifier());
  defaults.setString(pane->identifier(), kPreferencesSelectedIdentifierKey);

  std::shared_ptr<platform::View> view = pane->view();
  const QString identifier = pane->identifier();
  if (!mMinimumViewRects.contains(identifier)) mMinimumViewRects.insert(identifier, view->bounds());
  const QSizeF minimum = mMinimumViewRects.value(identifier).size();
  const bool resizableWidth = pane->hasResizableWidth().value_or(false);
  const bool resizableHeight = pane->hasResizableHeight().value_or(false);
  const QVariant saved = defaults.objectForKey(paneFrameKey(identifier));
  const QSizeF savedSize =
      saved.typeId() == QMetaType::QString ? dictext::rectFromString(saved.toString()).size() : view->bounds().size();
  const QScreen* screen = QGuiApplication::screenAt(mWindow->frame().topLeft().toPoint());
  if (!screen) screen = QGuiApplication::primaryScreen();
  const QSizeF size = placement::paneSize(savedSize, minimum, resizableWidth, resizableHeight,
                                          screen ? QSizeF(screen->availableGeometry().size()) : QSizeF());
  view->setFrame(QRectF(QPointF(), size));

  // The top edge and left edge stay where they are while the height changes.
  const QPointF topLeft = mWindow->frame().topLeft();
  mWindow->setMinSize(minimum);
  mWindow->setResizable(resizableWidth || resizableHeight);
  mWindow->setContentMaxSize(QSizeF(resizableWidth ? QWIDGETSIZE_MAX : size.width(),
                                    resizableHeight ? QWIDGETSIZE_MAX : size.height()));
  mWindow->setContentSize(size);
  mWindow->setFrameOrigin(topLeft);

  mSelected = pane;
  pane->viewWillAppear();
  mWindow->setContentView(view);
  platform::NotificationCenter::defaultCenter().post(PreferencesWindowControllerDidChangeViewNotification, this);
}

void PreferencesWindowController::goTab(int step) {
  const int count = static_cast<int>(mPanes.size());
  if (!firstViewController()) return;
  int index = indexOfSelectedController();
  if (index < 0) index = step > 0 ? count - 1 : 0;
  for (int i = 0; i < count; ++i) {
    index = ((index + step) % count + count) % count;
    if (mPanes[static_cast<size_t>(index)]) {
      setSelectedViewController(mPanes[static_cast<size_t>(index)]);
      return;
    }
  }
}

void PreferencesWindowController::goNextTab() { goTab(1); }
void PreferencesWindowController::goPreviousTab() { goTab(-1); }

void PreferencesWindowController::showWindow() { mWindow->makeKeyAndOrderFront(); }

void PreferencesWindowController::storeFrame() {
  auto& defaults = platform::UserDefaults::standard();
  defaults.setString(dictext::stringFromPoint(mWindow->frame().topLeft()), kPreferencesFrameTopLeftKey);
  if (mSelected && mSelected->hasResizableWidth().value_or(false) | mSelected->hasResizableHeight().value_or(false))
    defaults.setString(dictext::stringFromRect(QRectF(QPointF(), mWindow->contentSize())),
                       paneFrameKey(mSelected->identifier()));
}

bool PreferencesWindowController::windowShouldClose(platform::Window&) {
  return !mSelected || mSelected->commitEditing();
}

void PreferencesWindowController::windowWillClose(platform::Window&) {
  storeFrame();
  if (AppDelegate* app = AppDelegate::current()) app->windowDidClose();
}

}  // namespace orrery
