#pragma once
// The preferences window: one pane per toolbar tab, swapped with a resize that keeps the
// window's top edge, remembering the chosen pane, the window's top left and each resizable
// pane's size in the user defaults.

#include "platform/ui/toolbar.h"
#include "platform/ui/window.h"

#include <QIcon>
#include <QList>
#include <QMap>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class QObject;

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

class PreferencesWindowController : public platform::WindowDelegate, public platform::ToolbarDelegate {
 public:
  explicit PreferencesWindowController(std::vector<PreferencesPane> panes, QString title = QString());
  ~PreferencesWindowController() override;

  platform::Window& window() const { return *mWindow; }
  platform::Toolbar& toolbar() const { return *mToolbar; }
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

  void windowDidMove(platform::Window& window);
  void windowDidResize(platform::Window& window) override;
  bool windowShouldClose(platform::Window& window) override;
  void windowWillClose(platform::Window& window) override;

  // Every pane's identifier in order, the flexible space for a placeholder.
  QStringList toolbarItemIdentifiers() const;
  QStringList toolbarAllowedItemIdentifiers(platform::Toolbar& toolbar) override;
  QStringList toolbarDefaultItemIdentifiers(platform::Toolbar& toolbar) override;
  QStringList toolbarSelectableItemIdentifiers(platform::Toolbar& toolbar) override;
  std::shared_ptr<platform::ToolbarItem> toolbarItemForItemIdentifier(platform::Toolbar& toolbar,
                                                                      const QString& identifier,
                                                                      bool willBeInserted) override;
  void toolbarItemDidClick(platform::ToolbarItem& item);

 private:
  void windowDidLoad();
  void goTab(int step);

  std::unique_ptr<platform::Window> mWindow;
  std::shared_ptr<platform::Toolbar> mToolbar;
  std::vector<PreferencesPane> mPanes;
  QMap<QString, QRectF> mMinimumViewRects;
  QString mTitle;
  PreferencesPane mSelected;
  std::unique_ptr<QObject> mFrameWatcher;
  std::uint64_t mFrameChanges = 0;
  std::shared_ptr<int> mAlive = std::make_shared<int>(0);
};

// Makes the window answer Close Window (Ctrl+W) as the main windows do, and Escape.
void closesByKey(platform::Window& window);

namespace placement {
// A stored top left made usable for a window of `size`: a point off every screen, not finite,
// or leaving the window past the area's edges is fitted into the available area of the screen
// holding it, else the first (primary) area.
QPointF fittedTopLeft(const QPointF& stored, const QSizeF& size, const QList<QRectF>& availableAreas);
// A pane's size: the saved value in a resizable dimension when finite and not below the
// minimum, else the minimum's; a saved value past `largest` (the screen's area, when not empty)
// is brought down to it, never below the minimum.
QSizeF paneSize(const QSizeF& saved, const QSizeF& minimum, bool resizableWidth, bool resizableHeight,
                const QSizeF& largest = QSizeF());
}  // namespace placement

}  // namespace orrery
