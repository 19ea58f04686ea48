#pragma once
// The 40-point bar across the top of every screen: the search field in the middle, an
// optional home button at the left edge, and at the right edge an optional overview-graph
// toggle and an optional content button. Left of the search field it shows the storage status
// of its window's cloud location, when there is one, as a glyph with a tooltip. It only
// presents: button presses and search-text changes go to its delegate, the window's screen
// controller. Main thread only; reports of typing and Escape are deferred by one main-queue
// turn.

#include "foundation/views/base_image_view.h"
#include "foundation/views/base_view.h"
#include "foundation/views/button_view.h"
#include "platform/ui/event.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

class QObject;

namespace orrery {

class SearchTextField;

// The first argument of topBarAction.
using TopBarActionKind = std::uint64_t;
inline constexpr TopBarActionKind kTopBarActionHome = 1;
inline constexpr TopBarActionKind kTopBarActionMindmapToggle = 2;
inline constexpr TopBarActionKind kTopBarActionContent = 3;

class TopBarViewDelegate : public virtual platform::Trackable {
 public:
  // True when the search text differs from the text reported before.
  virtual void topBarSearchStatusDidChange(bool changed) = 0;
  // The pressed button's frame in the bar's coordinates.
  virtual void topBarAction(TopBarActionKind kind, const QRectF& fromRect) = 0;
};

class TopBarView : public BaseView, public ButtonViewDelegate {
 public:
  static double preferredHeight() { return 40; }

  TopBarView();
  ~TopBarView() override;

  TopBarViewDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(TopBarViewDelegate* delegate) { mDelegate.reset(delegate); }
  const std::optional<platform::Event>& lastEvent() const { return mLastEvent; }

  void setHomeAction(bool on);
  void setContentAction(bool on);
  void setMindmapToggleAction(bool on, bool toggled);

  // Puts the text (null as empty) into the field and counts it as reported: no delegate call.
  void setCurrentSearchText(const QString& text);
  QString currentSearchText() const;
  bool hasSearchContent() const { return !currentSearchText().isEmpty(); }
  bool isEditingSearchText() const;
  // Selects the field with the caret at the end of its text and makes it first responder.
  void startEditingSearchText();
  void stopEditing();
  void notifyDelegate();

  // The field's notices (called by the field's signals; tests may call them directly).
  void controlTextDidBeginEditing();
  void controlTextDidChange();
  void controlTextDidEndEditing();
  void cancelOperation();

  // The glyph of the named image (16 points) and its tooltip; an empty name shows none (the
  // view goes). A bar that enters a main window takes that window's status.
  void setStorageStatus(const QString& imageName, const QString& toolTip);
  const std::shared_ptr<BaseImageView>& storageStatusView() const { return mStorageStatusView; }
  void viewDidMoveToWindow() override;

  const std::shared_ptr<SearchTextField>& searchTextField() const { return mSearchTextField; }
  const std::shared_ptr<ButtonView>& homeButton() const { return mHomeButton; }
  const std::shared_ptr<ButtonView>& mindmapToggleButton() const { return mMindmapToggleButton; }
  const std::shared_ptr<ButtonView>& contentButton() const { return mContentButton; }

  void buttonPressed(ButtonView& button) override;
  void applyLayout() override;
  void drawRect(QPainter& painter, const QRectF& dirtyRect) override;
  // The bottom edge in the superview.
  double bottomFrameLine() const { return frame().bottom(); }

 private:
  std::shared_ptr<ButtonView> makeButton(const char* image, const char* activeImage);
  void switchButton(std::shared_ptr<ButtonView>& button, bool on, const char* image, const char* activeImage);
  void hideToggleWhileSearching();

  bool mIsEditing = false;
  std::shared_ptr<ButtonView> mHomeButton;
  std::shared_ptr<ButtonView> mMindmapToggleButton;
  std::shared_ptr<ButtonView> mContentButton;
  std::shared_ptr<SearchTextField> mSearchTextField;
  std::shared_ptr<BaseImageView> mStorageStatusView;
  QString mPrevCommunicatedSearchText;
  platform::WeakRef<TopBarViewDelegate> mDelegate;
  std::optional<platform::Event> mLastEvent;
  QObject* mFieldWatcher = nullptr;  // owned by the field's line edit
};

}  // namespace orrery
