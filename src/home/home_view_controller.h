#pragma once
// The screen a main window hosts while it shows one cloud location's documents (iCloud 2,
// Dropbox 3): the top bar over the document grid. The grid is filled from the location's proxy
// list, so no document is opened to show it, and follows every list change the persistence
// facade reports. A search typed into the top bar replaces the grid's content by its results
// (read-only) until the text is cleared. A click opens a document in this window's editor,
// the add button creates one. Main thread only.
//
// Tokens: a document token this screen receives goes either to the editor it switches to or
// straight back to the facade; no path keeps one. The screen tokens "OpenDocument" and
// "OpenSolarSystem" keep user operations from overlapping.

#include "foundation/views/base_view_controller.h"
#include "home/idea_list_view.h"
#include "model/document_location.h"
#include "model/persistence_controller_listener.h"
#include "platform/core/notification_center.h"
#include "shell/top_bar_view.h"

#include <QString>

#include <cstdint>
#include <memory>

namespace orrery {

class IdeaDocument;
class MainLayoutView;
class MyWindow;

// What the grid shows.
using HomeScreenState = std::uint64_t;
inline constexpr HomeScreenState kHomeScreenStateList = 0;
inline constexpr HomeScreenState kHomeScreenStateListNotReady = 1;
inline constexpr HomeScreenState kHomeScreenStateSearching = 3;
inline constexpr HomeScreenState kHomeScreenStateResults = 4;

class HomeViewController : public BaseViewController,
                           public IdeaListViewDelegate,
                           public TopBarViewDelegate,
                           public PersistenceControllerListener {
 public:
  static constexpr char kOpenDocumentToken[] = "OpenDocument";
  static constexpr char kOpenSolarSystemToken[] = "OpenSolarSystem";

  // A non-empty search text loads the view at once and starts that search.
  static std::shared_ptr<HomeViewController> create(DocumentLocation location, const QString& searchText);
  // Location 0 until restoreFromState.
  static std::shared_ptr<HomeViewController> createForRestoration();
  explicit HomeViewController(DocumentLocation location);
  ~HomeViewController() override;

  DocumentLocation location() const { return mLocation; }
  HomeScreenState state() const { return mState; }
  bool isSearching() const { return mState == kHomeScreenStateSearching || mState == kHomeScreenStateResults; }
  std::int64_t currentSearchRequestID() const { return mCurrentSearchRequestID; }
  // Null before the view is loaded.
  IdeaListView* ideaListView() const { return mIdeaListView.get(); }
  TopBarView* topBar() const { return mTopBar.get(); }

  // Window hooks.
  void loadView() override;
  void viewDidLoad() override;
  void viewWillAppear() override;
  void viewDidAppear() override;
  void viewWillLayout() override { performLayout(); }
  void becameTopLevelController() override;
  QString storedClassName() const override;
  QVariantMap createState() override;
  bool restoreFromState(const QVariantMap& state) override;
  void keyDown(const platform::Event& event) override;
  void occupyScreen(const QString& operation) override;
  void liberateScreen(const QString& operation) override;

  // The grid.
  void reloadTable();
  void updateView();
  void updateState(HomeScreenState state);
  IdeaViewForIPadListItem* visibleIdeaViewForDocument(const QString& docIdentifier) const;
  platform::View* currentDragTarget() const;
  // Shows the window's parked idea in the grid's dock well, hidden when nothing is parked.
  void updateStatusDueToPossibleDockingUpdate();
  void ensureCorrectTitle();

  // Documents.
  void openSolarSystemForIdeaDocument(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token,
                                      bool startEditing);
  void onAddNewIdea();

  // IdeaListViewDelegate.
  void onDrillDownTo(const QString& docIdentifier, bool startEditing) override;
  void pleaseCreateNewIdea() override { onAddNewIdea(); }
  bool hasShadowModeForDocument(const QString& docIdentifier) override;

  // TopBarViewDelegate.
  void topBarSearchStatusDidChange(bool final) override;
  void topBarAction(TopBarActionKind /*kind*/, const QRectF& /*fromRect*/) override {}

  // PersistenceControllerListener.
  void pleaseStopUsingLocation(DocumentLocation location) override;
  void batchUpdateStartingInLocation(DocumentLocation location) override;
  void batchUpdateDoneInLocation(DocumentLocation location) override;
  void documentAppended(const std::shared_ptr<IdeaProxy>& proxy) override;
  void documentAdded(const std::shared_ptr<IdeaProxy>& proxy, std::size_t index) override;
  void documentMoved(const std::shared_ptr<IdeaProxy>& proxy, std::size_t index) override;
  void documentUpdated(const std::shared_ptr<IdeaProxy>& proxy) override;
  void documentDeleted(const QString& docIdentifier) override;
  void searchIsReady(const std::vector<std::shared_ptr<IdeaProxy>>& results, DocumentLocation location,
                     std::int64_t requestIdentifier) override;

 private:
  std::shared_ptr<HomeViewController> self();
  MyWindow* shellWindow() const;
  // True while this screen is its window's current screen.
  bool isHostedInItsWindow() const;
  void performLayout() {}
  void focusGrid();
  void startSearch(const QString& text);
  void showOpenFailure(const std::shared_ptr<IdeaDocument>& doc);
  static void giveBack(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token);

  std::int64_t mCurrentSearchRequestID = 0;
  HomeScreenState mState = kHomeScreenStateList;
  std::shared_ptr<IdeaListView> mIdeaListView;
  std::shared_ptr<TopBarView> mTopBar;
  std::shared_ptr<MainLayoutView> mLayoutView;
  DocumentLocation mLocation;
  platform::ObserverScope mStateObserver;
};

}  // namespace orrery
