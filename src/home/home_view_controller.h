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

#include "editor/dock_area_view.h"
#include "foundation/views/base_view_controller.h"
#include "home/idea_list_view.h"
#include "panels/edit_idea_view_controller.h"
#include "panels/html_page_view_controller.h"
#include "panels/picture_view_controller.h"
#include "platform/ui/popover.h"
#include "shell/drag_support.h"
#include "model/document_location.h"
#include "model/kept_conflict_version.h"
#include "model/persistence_controller_listener.h"
#include "platform/core/notification_center.h"
#include "shell/top_bar_view.h"

#include <QString>

#include <cstdint>
#include <memory>

namespace orrery {

class BaseView;
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
                           public PersistenceControllerListener,
                           public DragSupportDelegate,
                           public DockAreaViewDelegate,
                           public EditIdeaViewControllerDelegate,
                           public PictureViewControllerDelegate,
                           public HTMLPageViewControllerDelegate {
 public:
  static constexpr char kOpenDocumentToken[] = "OpenDocument";
  static constexpr char kOpenSolarSystemToken[] = "OpenSolarSystem";
  static constexpr char kIdeaEditingToken[] = "IdeaEditing";
  static constexpr char kDeleteConfirmationToken[] = "DeleteConfirmationForContextMenu";
  static constexpr char kConflictDialogToken[] = "ConflictDialog";

  // A non-empty search text loads the view at once and starts that search.
  static std::shared_ptr<HomeViewController> create(DocumentLocation location, const QString& searchText);
  // Location 0 until restoreFromState.
  static std::shared_ptr<HomeViewController> createForRestoration();
  explicit HomeViewController(DocumentLocation location);
  ~HomeViewController() override;

  DocumentLocation location() const { return mLocation; }
  HomeScreenState state() const { return mState; }
  // Says that the location's folder cannot be reached and where it was looked for; null
  // while it can be. It takes a band across the top of the content and the grid starts below
  // it, so it never lies over a tile.
  class TextView* unreachableNotice() const {
    return mUnreachableFolder.isEmpty() ? nullptr : mUnreachableNotice.get();
  }
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

  // Drags (home_view_controller_drops.cpp).
  void startDragForIdea(const QString& ideaIdentifier, const QString& docIdentifier, const QRectF& rect,
                        const platform::Event& event) override;
  void dragFromDockAreaWithIdeaView(const std::shared_ptr<SimpleIdeaView>& ideaView,
                                    const platform::Event& event) override;
  bool dragOperationStarted(const DragInfo& info) override;
  DragReturnTarget dragOperationUpdate(const DragInfo& info) override;
  void dragOperationExited() override;
  void dragOperationEnded(const DragInfo& info, const IdeaPtr& idea, const QString& docIdentifier,
                          ResultCompletion completion) override;
  void dragOperationEndedWithResult(const DragInfo* info, DragResult result) override;
  // The slot under the drag: an add-button slot (isAdder) or a tile, else IdeaListView::kNotFound.
  std::uint64_t indexOfDragFocusPoint(bool* isAdder) const;
  bool isDocumentNearAdditionPoint(const QString& docIdentifier, std::uint64_t index) const;
  void copyPasteActionWithTitle(const QString& title);

  // The tile menu, deletion, import and the in-place edit (home_view_controller_actions.cpp).
  std::shared_ptr<platform::Menu> onRightClickAtDocument(const QString& docIdentifier) override;
  void onOpenItem(const QString& docIdentifier);
  void onOpenItemInNewWindow(const QString& docIdentifier);
  void onEditItem(const QString& docIdentifier);
  void onDeleteItem(const QString& docIdentifier);
  void deleteDocument(const QString& docIdentifier, std::function<void(bool)> completion);
  void deleteIdea(const QString& ideaIdentifier, const QString& docIdentifier, std::function<void(bool)> completion);
  void cmdImport();
  // Edits an opened document's central idea in place; the token is given back on every path.
  void editOpenedProxy(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token);
  void editIdeaViewDidClose() override;
  void pleaseDismissPictureView(PictureViewController& panel) override;
  void pleaseDismissHTMLPageView(HTMLPageViewController& panel) override;
  // Only while an in-place edit waits for its panel: dismisses it and runs the closing step.
  void pleaseDismissEditor(platform::ViewController& panel);
  const std::shared_ptr<platform::Popover>& editPopover() const { return mEditPopover; }

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
  // Looks whether the location's folder can be reached when the location reports itself
  // unavailable, and shows or hides the notice saying so.
  void checkFolderReachable();
  void showUnreachableFolder(const QString& folder);
  // Puts what showUnreachableFolder last learnt into the notice and lays the content out again.
  void updateUnreachableNotice();
  // Shows, on a later turn, what the iCloud engine left for the user that no screen showed yet,
  // when this is an iCloud screen shown in its window.
  void tellCloudNotices();
  void focusGrid();
  void startSearch(const QString& text);
  void showOpenFailure(const std::shared_ptr<IdeaDocument>& doc);
  static void giveBack(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token);
  class DragSupportWindow* dragWindow() const;
  void acceptDraggedIdeaIntoIdeaList();
  void addActionTo(class ModalChoiceController& menu, const char* key);
  void handleDragEndWithResult(DragResult result);
  void openDocumentFor(const QString& docIdentifier, std::function<void(std::shared_ptr<IdeaDocument>, DocumentToken)> then);
  // A tile menu's item: the action for the document, with this controller as target.
  std::shared_ptr<platform::MenuItem> menuItemForDoc(const QString& docIdentifier, const QString& title,
                                                     const QString& action, const QString& keyEquivalent);
  // Tells the user that the newest version of the opened document is shown and names the new
  // document each other version became; `then` runs once the user has read it.
  // The alert's text: one line for each version kept.
  static QString conflictResolvedMessage(const std::vector<KeptConflictVersion>& kept);
  void showConflictResolved(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token,
                            const std::vector<KeptConflictVersion>& kept,
                            std::function<void(std::shared_ptr<IdeaDocument>, DocumentToken)> then);
  void editOpenedTextualIdeaProxy(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token);
  void editOpenedImageIdeaProxy(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token);
  void editOpenedURLIdeaProxy(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token);
  void presentEditingPanel(const std::shared_ptr<platform::ViewController>& panel);
  // Holds "IdeaEditing" until the panel closes; then `applyChanges` gives the root the changes
  // (answering whether there were any; `recolors`: and its children are recoloured) through
  // `room`, the edit's room in the map, which the panel was given, and they are saved, or the
  // document goes straight back when there are none.
  void afterEditing(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token,
                    const std::shared_ptr<IdeaEditRoom>& room, std::function<bool(Idea&)> applyChanges,
                    std::function<bool()> recolors = {});
  // Stores the edited root and saves it; the document goes back whatever the outcome.
  void saveEditedRootAndRelease(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token);
  void registerHomeCommands();

  std::int64_t mCurrentSearchRequestID = 0;
  HomeScreenState mState = kHomeScreenStateList;
  std::shared_ptr<IdeaListView> mIdeaListView;
  std::shared_ptr<TopBarView> mTopBar;
  std::shared_ptr<MainLayoutView> mLayoutView;
  DocumentLocation mLocation;
  platform::ObserverScope mStateObserver;
  // Where the location's folder was looked for, while it cannot be reached; else empty.
  QString mUnreachableFolder;
  std::shared_ptr<class TextView> mUnreachableNotice;
  // The layout's content: the notice over the grid.
  std::shared_ptr<BaseView> mContentView;
  std::uint64_t mReachabilityCheck = 0;

  IdeaPtr mIdeaBeingAccepted;
  QString mIdeaBeingAcceptedDocIdentifier;
  ResultCompletion mAfterAcceptance;
  std::function<void()> mActionAfterEditing;
  std::shared_ptr<platform::Popover> mEditPopover;
  std::shared_ptr<platform::ViewController> mPresentedPanel;
};

}  // namespace orrery
