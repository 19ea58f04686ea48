#pragma once
// The scrolling grid of the home screen: an add button, then one tile per document of the
// list it is fed, in rows of square cells. Only the cells in view have views: a layout pass
// (run by every resize and scroll) recycles the views of cells that left the visible rows into
// per-class pools and reuses them for cells that entered, so the number of live views follows
// the window size, not the number of documents. While an idea is dragged over the screen the
// grid is in docking mode: drop markers before every tile and after the last, and a drop focus
// that the home screen reads. Main thread only.

#include "editor/dock_area_view.h"
#include "foundation/repeated_action_timer.h"
#include "foundation/views/base_scroll_view.h"
#include "foundation/views/base_view.h"
#include "foundation/views/delete_area_view.h"
#include "foundation/views/long_tap_and_drag_detector.h"
#include "foundation/views/text_label.h"
#include "foundation/views/user_interaction_protocol.h"
#include "home/home_list_items.h"
#include "platform/core/notification_center.h"

#include <QHash>
#include <QString>

#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <memory>
#include <string>
#include <vector>

namespace orrery {

class IdeaListViewDelegate : public virtual platform::Trackable {
 public:
  virtual void onDrillDownTo(const QString& docIdentifier, bool startEditing) = 0;
  virtual void pleaseCreateNewIdea() = 0;
  virtual bool hasShadowModeForDocument(const QString& /*docIdentifier*/) { return false; }
  virtual void startDragForIdea(const QString& /*ideaIdentifier*/, const QString& /*docIdentifier*/,
                                const QRectF& /*rect*/, const platform::Event& /*event*/) {}
  virtual std::shared_ptr<platform::Menu> onRightClickAtDocument(const QString& /*docIdentifier*/) { return nullptr; }
};

class IdeaListView : public BaseScrollView,
                     public BigAdderForIPadDelegate,
                     public LongTapAndDragGestureDetectorDelegate,
                     public UserInteractionProtocol {
 public:
  static constexpr std::uint64_t kNotFound = std::numeric_limits<std::uint64_t>::max();
  static constexpr double kLeftMargin = 32;
  static constexpr float kColWidth = 218;
  static constexpr float kRowHeight = 218;
  static constexpr std::int64_t kAdderSlot = -1;
  static constexpr std::int64_t kDockSlot = -2;

  IdeaListView();
  ~IdeaListView() override;

  IdeaListViewDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(IdeaListViewDelegate* delegate) { mDelegate.reset(delegate); }

  // List operations.
  void appendProxy(IdeaProxyPtr proxy, bool silently);
  void prependProxySilently(IdeaProxyPtr proxy);
  // An index past the end appends.
  void insertProxy(IdeaProxyPtr proxy, std::uint64_t index);
  void updateProxy(const IdeaProxyPtr& proxy);
  void removeProxyWithDocIdentifer(const QString& docIdentifier);
  // Bad indices are ignored.
  void removeProxyAtIndex(std::uint64_t index);
  void moveProxyAtIndex(std::uint64_t from, std::uint64_t to);
  void removeAllContent();
  IdeaProxyPtr findProxy(const QString& docIdentifier) const;
  std::int64_t indexOfProxy(const QString& docIdentifier) const;
  IdeaViewForIPadListItem* visibleIdeaViewForDocument(const QString& docIdentifier) const;
  const std::vector<IdeaProxyPtr>& proxies() const { return mIdeaProxies; }

  bool readOnly() const { return mReadOnly; }
  void setReadOnlyMode(bool readOnly);
  DockAreaView& dockAreaView() const { return *mDockAreaView; }
  DeleteAreaView& deleteAreaView() const { return *mDeleteAreaView; }
  BaseView& hugeView() const { return *mHugeView; }
  TextLabel* placeHolderView() const { return mPlaceHolderView.get(); }

  // Geometry.
  static std::int64_t itemsPerRow(double width);
  std::int64_t itemsPerRow() const { return itemsPerRow(contentWidth()); }
  double contentWidth() const { return contentSize().width(); }
  std::int64_t countSlots() const;
  double contentHeightForWidth(double width) const;
  std::int64_t interpretedIndexFromVisualSlot(std::int64_t slot) const;
  std::int64_t slotForElement(std::int64_t index) const;
  std::int64_t rowFromSlot(std::int64_t slot) const { return slot / itemsPerRow(); }
  std::int64_t colFromSlot(std::int64_t slot) const { return slot - itemsPerRow() * rowFromSlot(slot); }
  QPointF slotCentre(std::int64_t slot, bool xAdjusted, bool yAdjusted) const;
  void calculateFirstNeededSlot(std::int64_t* first, std::int64_t* last) const;

  // Layout.
  void updateView();
  void reloadView();
  void layout() override;
  void reflectScrolledClipView() override;
  void addAnyMissingItems();
  void updateItemPositionsAndRemoveLeftOvers();
  void ensurePlaceHolderView();
  // Live item views (placed ones and pooled ones), for watching the recycling.
  std::size_t visibleItemCount() const { return mVisibleItemsByKey.size(); }
  std::size_t pooledItemCount() const;
  platform::View* visibleItemForKey(const QString& key) const;
  static QString adderKey();
  static QString dockKey();

  void appearanceSettingsChanged();
  void pleaseCreateNewIdea() override;

  // Interaction.
  bool userInteractionEnabled() const override { return mUserInteractionEnabled; }
  void setUserInteractionEnabled(bool enabled) override;
  bool dockingMode() const { return mDockingMode; }
  void doToggleDockMode();
  std::uint64_t indexOfIdeaAtFocus() const { return mIdeaViewAtFocus; }
  std::uint64_t indexOfIdeaAdderAtFocus() const { return mIdeaAdderAtFocus; }
  platform::View* viewAtFocus() const { return mViewAtFocus.get(); }
  float focusStrength() const { return mFocusStrength; }

  bool acceptsFirstResponder() const override { return true; }
  void mouseDown(const platform::Event& event) override;
  void mouseDragged(const platform::Event& event) override;
  void mouseUp(const platform::Event& event) override;
  void keyDown(const platform::Event& event) override;
  void mouseMoved(const platform::Event& event) override;
  void cursorUpdate(const platform::Event& event) override;
  std::shared_ptr<platform::Menu> menuForEvent(const platform::Event& event) override;
  void updateTrackingAreas() override;
  // Points in the document view.
  IdeaViewForIPadListItem* ideaViewAtPoint(const QPointF& point) const;
  platform::View* viewAtPoint(const QPointF& point) const;

  // Detector callbacks, points in window coordinates.
  void singleTap(const QPointF& point) override;
  void doubleTap(const QPointF& point) override;
  void startDragGestureIfPossible(const QPointF& point) override;
  void handleTapOnIdeaView(IdeaViewForIPadListItem& disc);
  void handleDoubleTapOnIdeaView(IdeaViewForIPadListItem& disc);
  static constexpr double kSingleClickDelay = 0.3;

  // Drop focus; a null view means window coordinates.
  void startTrackingFocusAt(const QPointF& point, const platform::View* view);
  void trackFocusAt(const QPointF& point, const platform::View* view);
  void stopTrackingFocus();
  // A point in the grid's own coordinates.
  void updateFocusAtPoint(const QPointF& point);
  static float calculateStrenghtAt(const QPointF& point, const QPointF& centre, float halfWidth, float halfHeight);

  // Automatic scrolling during drags.
  static constexpr float kAutoScrollInterval = 0.0075f;
  static constexpr double kAutoScrollStep = 0.05;
  void trackMouseAt(const QPointF& point, const platform::View* view);
  void stopTrackingMouse();
  void onAutoScrollTimerUpdate();
  std::int64_t autoScrollPixelSpeed() const { return mAutoScrollPixelSpeed; }
  bool autoScrollTimerRunning() const { return mAutoScrollTimer.has_value(); }

 private:
  std::int64_t slotOfKey(const QString& key) const;
  bool addSlotIfMissing(std::int64_t slot);
  std::shared_ptr<NormalIdeaListItemForIPad> createItemForProxy(const IdeaProxyPtr& proxy);
  template <class T>
  std::shared_ptr<T> dequeueReusableItemForClass();
  void removeAndMakeReusableBasedOnKey(const QString& key);
  void updateItemPosition(platform::View& view, std::int64_t slot, bool xAdjusted, bool yAdjusted);
  void endDockingModeForListChange();

  std::map<QString, std::shared_ptr<platform::View>> mVisibleItemsByKey;
  std::map<std::string, std::vector<std::shared_ptr<platform::View>>> mReusableItemViewsByType;
  std::vector<IdeaProxyPtr> mIdeaProxies;
  std::shared_ptr<BaseView> mHugeView;
  std::shared_ptr<DockAreaView> mDockAreaView;
  std::shared_ptr<DeleteAreaView> mDeleteAreaView;
  bool mDockingMode = false;
  std::uint64_t mIdeaAdderAtFocus = kNotFound;
  std::uint64_t mIdeaViewAtFocus = kNotFound;
  float mFocusStrength = 0;
  std::shared_ptr<platform::View> mViewAtFocus;
  LongTapAndDragDetector mLongTapAndDragDetector;
  bool mDoubleTapDetected = false;
  bool mSingleTapPending = false;
  std::shared_ptr<TextLabel> mPlaceHolderView;
  bool mReadOnly = false;
  bool mUserInteractionEnabled = true;
  platform::WeakRef<IdeaListViewDelegate> mDelegate;
  platform::ObserverScope mAppearanceObserver;
  bool mInLayoutPass = false;
  std::shared_ptr<platform::TrackingArea> mTrackingArea;
  std::optional<RepeatedActionTimer> mAutoScrollTimer;
  std::uint64_t mAutoScrollGeneration = 0;
  double mLastAutoScrollStartTime = 0;
  std::int64_t mAutoScrollPixelSpeed = 0;

  void ensureAutoScrollTimer();
  void scheduleAutoScrollTick(std::uint64_t generation);
  void resetAutoScroll();
};

}  // namespace orrery
