#pragma once
// The preferences window: one pane per toolbar tab, swapped with a resize that keeps the
// window's top edge, remembering the chosen pane, the window's top left and each resizable
// pane's size in the user defaults.

#include "platform/ui/window.h"

#include <QIcon>
#include <QList>
#include <QMap>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QActionGroup;
class QObject;
class QToolBar;

namespace platform {
class View;
}

namespace orrery {

inline constexpr char PreferencesWindowControllerDidChangeViewNotification[] =
    "PreferencesWindowControllerDidChangeViewNotification";
inline constexpr char kPreferencesSelectedIdentifierKey[] = "Preferences Selected Identifier View";
inline constexpr char kPreferencesFrameTopLeftKey[] = "Preferences Frame Top Left";

class PreferencesViewController {
 public:
  virtual ~PreferencesViewController() = default;
  virtual QString identifier() const = 0;
  virtual QIcon toolbarItemImage() const = 0;
  virtual QString toolbarItemLabel() const = 0;
  // The pane's view, made once; its first size is the pane's minimum.
  virtual std::shared_ptr<platform::View> view() = 0;
  virtual void viewWillAppear() {}
  virtual void viewDidDisappear() {}
  virtual std::optional<bool> hasResizableWidth() const { return std::nullopt; }
  virtual std::optional<bool> hasResizableHeight() const { return std::nullopt; }
  virtual bool commitEditing() { return true; }
};

// A null entry in the pane list is a flexible space in the toolbar.
using PreferencesPane = std::shared_ptr<PreferencesViewController>;

class PreferencesWindowController : public platform::WindowDelegate {
 public:
  explicit PreferencesWindowController(std::vector<PreferencesPane> panes, QString title = QString());
  ~PreferencesWindowController() override;

  platform::Window& window() const { return *mWindow; }
  QToolBar* toolbar() const { return mToolbar; }
  const std::vector<PreferencesPane>& viewControllers() const { return mPanes; }
  const PreferencesPane& selectedViewController() const { return mSelected; }
  QString title() const { return mTitle; }
  int indexOfSelectedController() const;

  void showWindow();
  void addViewController(const PreferencesPane& pane);
  void setSelectedViewController(const PreferencesPane& pane);
  void selectControllerAtIndex(int index);
  void selectControllerWithIdentifier(const QString& identifier);
  PreferencesPane viewControllerForIdentifier(const QString& identifier) const;
  PreferencesPane firstViewController() const;
  void goNextTab();
  void goPreviousTab();

  // Writes the window's top left and the shown pane's size: once a move or resize has settled
  // for 250 ms, at a pane switch and at close, so a long drag costs one write, not hundreds.
  void storeFrame();
  void frameChanged();

  bool windowShouldClose(platform::Window& window) override;
  void windowWillClose(platform::Window& window) override;

 private:
  void windowDidLoad();
  void insertToolbarItem(const PreferencesPane& pane, int position);
  void checkToolbarItem(const QString& identifier);
  void goTab(int step);

  std::unique_ptr<platform::Window> mWindow;
  QToolBar* mToolbar = nullptr;  // owned by the window's widget
  QActionGroup* mToolbarGroup = nullptr;
  std::vector<PreferencesPane> mPanes;
  std::vector<QAction*> mItems;  // parallel to mPanes; a placeholder's item is a spacer
  QMap<QString, QRectF> mMinimumViewRects;
  QString mTitle;
  PreferencesPane mSelected;
  std::unique_ptr<QObject> mFrameWatcher;
  std::uint64_t mFrameChanges = 0;
  std::shared_ptr<int> mAlive = std::make_shared<int>(0);
};

namespace placement {
// A stored top left made usable for a window of `size`: a point off every screen, not finite,
// or leaving the window past the area's edges is fitted into the available area of the screen
// holding it, else the first (primary) area.
QPointF fittedTopLeft(const QPointF& stored, const QSizeF& size, const QList<QRectF>& availableAreas);
// A pane's size: the saved value in a resizable dimension when finite and not below the
// minimum, else the minimum's.
QSizeF paneSize(const QSizeF& saved, const QSizeF& minimum, bool resizableWidth, bool resizableHeight);
}  // namespace placement

}  // namespace orrery
