#pragma once
// The screen controller of a window that shows one open document as the radial editor. It owns
// the document and the open token it got for it, builds the window content (the radial view of
// the shown idea below a strip for the top bar, the delete area) and is the only one that edits
// the idea tree: the radial view reports gestures, the controller changes the tree, tells the
// radial view what changed and saves the whole document through the persistence facade.
//
// The token is returned exactly once, whatever road ends the window (close, forced close, Save
// As, going home): mDocToken is cleared before every release, and no save starts after it.
// Saves are counted while in flight, so a change reported by another instance during an own
// save is applied once the last own save has completed, and an own save never reloads the view.
// Main thread only; every completion used here arrives on the main queue.

#include "editor/dock_area_view.h"
#include "editor/solar_system.h"
#include "editor/solar_system_delegate.h"
#include "export/sharing_view_controller.h"
#include "foundation/my_result.h"
#include "foundation/views/base_view_controller.h"
#include "foundation/views/visual_object.h"
#include "graph/graph_scroll_view.h"
#include "model/document_location.h"
#include "model/idea.h"
#include "model/persistence_controller_listener.h"
#include "panels/edit_idea_view_controller.h"
#include "panels/html_page_view_controller.h"
#include "panels/picture_view_controller.h"
#include "platform/core/notification_center.h"
#include "shell/drag_support.h"
#include "shell/top_bar_view.h"

#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace orrery {

class ColoredView;
class DeleteAreaView;
class DragSupportWindow;
struct IdeaArrival;
class IdeaDocument;
class ModalChoiceController;
class MyWindow;

// What the window shows.
using SolarSystemState = std::uint64_t;
inline constexpr SolarSystemState kSolarSystemStateNothing = 0;
inline constexpr SolarSystemState kSolarSystemStateRadial = 1;
inline constexpr SolarSystemState kSolarSystemStateGraph = 2;
// The graph with search results, entered from the graph (3) or from the radial view (4).
inline constexpr SolarSystemState kSolarSystemStateGraphSearch = 3;
inline constexpr SolarSystemState kSolarSystemStateRadialSearch = 4;

class SolarSystemViewController : public BaseViewController,
                                  public SolarSystemDelegate,
                                  public PersistenceControllerListener,
                                  public TopBarViewDelegate,
                                  public GraphScrollViewDelegate,
                                  public DragSupportDelegate,
                                  public DockAreaViewDelegate,
                                  public EditIdeaViewControllerDelegate,
                                  public SharingViewControllerDelegate,
                                  public PictureViewControllerDelegate,
                                  public HTMLPageViewControllerDelegate,
                                  public Layouter {
 public:
  using BoolCompletion = std::function<void(bool)>;
  using ResultCompletion = std::function<void(const MyResultPtr&)>;
  using DragResultCompletion = DragSupportDelegate::ResultCompletion;
  static constexpr std::int64_t kNotFound = Idea::kNotFound;
  // Strip at the top of the root view kept for the top bar.
  static double topBarHeight();

  // An opened document with its token, showing the identified idea (the root when none or
  // not found).
  static std::shared_ptr<SolarSystemViewController> create(const std::shared_ptr<IdeaDocument>& doc,
                                                           DocumentToken token, const QString& ideaIdentifier);
  // No document yet: the window then calls restoreFromState.
  static std::shared_ptr<SolarSystemViewController> createForRestoration();
  SolarSystemViewController(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token,
                            const QString& ideaIdentifier);
  SolarSystemViewController();
  ~SolarSystemViewController() override;

  // State.
  const std::shared_ptr<IdeaDocument>& document() const { return mDoc; }
  DocumentToken docToken() const { return mDocToken; }
  SolarSystemState solarSystemState() const { return mSolarSystemState; }
  const IdeaPtr& ownIdea() const { return mOwnIdea; }
  const IdeaPtr& realIdea() const { return mRealIdea; }
  const IdeaPtr& rootIdea() const { return mRootIdea; }
  void setOwnIdea(const IdeaPtr& idea);
  const std::shared_ptr<SolarSystem>& solarSystem() const { return mSolarSystem; }
  bool isUpdatingDocument() const { return mSavesInFlight > 0; }
  bool isDrillingUpOrDown() const { return mDrillingUpOrDown; }
  DeleteAreaView* deleteAreaView() const { return mDeleteAreaView.get(); }
  DockAreaView* dockAreaView() const { return mDockAreaView.get(); }
  // The edit popover while one is shown.
  const std::shared_ptr<platform::Popover>& editPopover() const { return mEditPopover; }
  TopBarView* topBar() const { return mTopBar.get(); }
  // The window this controller is hosted in, when it is one of the program's main windows.
  MyWindow* shellWindow() const;
  // The same window when it has a dock slot.
  DragSupportWindow* dragWindow() const;

  // Window hooks.
  void loadView() override;
  void viewWillAppear() override;
  void viewDidAppear() override;
  void viewWillDisappear() override;
  void viewDidDisappear() override;
  void viewWillLayout() override;
  void becameTopLevelController() override;
  QString storedClassName() const override { return QStringLiteral("SolarSystemViewController"); }
  QVariantMap createState() override;
  bool restoreFromState(const QVariantMap& state) override;
  void occupyScreen(const QString& operation) override;
  void liberateScreen(const QString& operation) override;
  void applyLayout() override;

  // Document.
  void setCurrentDoc(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token, const QString& ideaIdentifier);
  void updateWindowFromDocument(const std::shared_ptr<IdeaDocument>& doc);
  void updateSolarSystemAndSaveDocument();
  void modelDidChangeWithNewRootIdea(const IdeaPtr& newRoot);
  // Another instance saved its own values over changes of this one: they are kept as a new
  // document beside this one and the user is told which ideas changed under them.
  void tellAboutReplacedChanges();
  void tellAboutReplacedChangesSoon();
  // The document or its location went without the user being asked: an edit that is not in
  // the file is kept as a copy the next start offers, and the user is told so.
  void performForcedClose();
  // Leaves for the home screen: the token goes back and the window shows the home screen.
  void pleaseSwitchToHomeView();
  void tryLoadingDocumentForRestoration();

  // Idea switching.
  void switchToIdea(const IdeaPtr& idea, bool animated);
  // Draws the new view's discs on this turn and its other views on the next, while the window
  // still shows the old view at rest, and starts the drill on the turn after, so the drill's
  // first frame only composes.
  void startDrillWhenDrawn(const std::shared_ptr<SolarSystem>& newSolarSystem, std::function<void()> start);
  void startAnimatedDrillDownToIdea(const IdeaPtr& idea, const std::shared_ptr<SolarSystem>& newSolarSystem);
  void startAnimatedDrillUpWithSolarSystem(const std::shared_ptr<SolarSystem>& newSolarSystem);
  void switchDirectlyToIdea(const IdeaPtr& idea, const std::shared_ptr<SolarSystem>& newSolarSystem);
  IdeaPtr ideaForIdea(const QString& ideaIdentifier) const;
  void updateShadowStatusForIdea(const QString& ideaIdentifier, const QString& docIdentifier);

  // Positions and lookups.
  std::int64_t indexAfter(std::int64_t adder) const;
  std::int64_t safeInsertionIndexFromFocusIndex(std::int64_t focusIndex) const;
  IdeaPtr childIdeaAtFocusIndex(std::int64_t focusIndex) const;
  static bool isInsertionIndexAttachedToIndex(std::int64_t insertion, std::int64_t index, std::int64_t count);
  std::int64_t indexOfIdeaWithIdentifier(const QString& ideaIdentifier) const;
  IdeaPtr childIdeaWithIdentifier(const QString& ideaIdentifier) const;
  std::int64_t indexForIdea(const QString& ideaIdentifier, const QString& docIdentifier) const;
  bool isOurCentralIdea(const QString& ideaIdentifier) const;
  bool isOurParentIdea(const QString& ideaIdentifier) const;
  bool isOurChildIdea(const QString& ideaIdentifier) const;

  // Tree edits. Completions may be null and run at most once, on the main thread.
  void addNewIdeaAfterIndex(std::int64_t adder, const IdeaPtr& idea, const BoolCompletion& completion);
  void moveIdeaAfter(const IdeaPtr& idea, const QString& docIdentifier, std::int64_t adder,
                     const BoolCompletion& completion);
  void moveIdeaInside(const IdeaPtr& idea, const QString& docIdentifier, std::int64_t planet,
                      const BoolCompletion& completion);
  void moveToParentTheIdea(const IdeaPtr& idea, const QString& docIdentifier, const BoolCompletion& completion);
  void copyIdeaAfter(const IdeaPtr& idea, std::int64_t adder, const BoolCompletion& completion);
  void copyIdeaInside(const IdeaPtr& idea, std::int64_t planet, const BoolCompletion& completion);
  void copyToParentTheIdea(const IdeaPtr& idea, const BoolCompletion& completion);
  void createLinkToIdea(const IdeaPtr& idea, std::int64_t adder, const BoolCompletion& completion);
  void removeExternalIdea(const IdeaPtr& idea, const QString& docIdentifier, const BoolCompletion& completion);
  bool deleteIdeaWithIdentifier(const QString& ideaIdentifier);
  // The context menu's delete, with its confirmation.
  void onDeleteItem(const QString& ideaIdentifier);
  bool canWeSafelyDeleteIdea(const QString& ideaIdentifier, const QString& docIdentifier) override;

  // Window commands.
  bool startClosingCanCloseNow() override;
  // An edit that could not be saved is asked about, as at a close; a save in flight is waited for.
  void askBeforeQuitting(std::function<void(bool mayQuit)> answer) override;
  // Before the document's cloud location is dropped the same question; an editor of another
  // location answers yes at once.
  void askBeforeLeavingLocation(DocumentLocation location, std::function<void(bool mayGo)> answer);
  bool hasUnsavedEdit() const { return mLastSaveFailed; }
  void commitPendingEdits() override;
  void saveOnceMoreBeforeQuit() override;
  void keepEditNotOnDisk() override;
  void cmdSaveLocalFile();
  void cmdSaveLocalFileAs();
  // Prints the map page and note pages through the print panel; nothing while the screen is
  // occupied; a failed print shows an alert.
  void cmdPrintIdea();
  void performSaveLocalFileWithCompletion(ResultCompletion completion);
  void doSaveLocalFile();
  bool validateUserInterfaceItem(const platform::MenuItem& item) override;

  // Keyboard and menu commands.
  void cmdImport();
  // Puts the text into the top bar and shows the matches in the overview graph.
  void makeSearch(const QString& text);
  void keyDown(const platform::Event& event) override;
  // Escape, by state.
  void cancelOperation();

  // Context menu.
  std::shared_ptr<platform::MenuItem> menuItemForIdea(const QString& ideaIdentifier, const QString& title,
                                                      const QString& action, const QString& keyEquivalent);
  void onOpenItem(const QString& ideaIdentifier);
  void onOpenItemInNewWindow(const QString& ideaIdentifier);
  void onOpenItemInBrowser(const QString& ideaIdentifier);
  void onEditItem(const QString& ideaIdentifier);

  // Editing through panels.
  void doEditTextualIdea(const IdeaPtr& idea);
  void editIdeaViewDidClose() override;
  void pleaseDismissEditor(const std::shared_ptr<platform::ViewController>& presented);
  // Export…: the share sheet on the pane of `type`; nothing while the screen is occupied.
  void cmdExport();
  void launchExportForType(ShareType type);
  void pleaseDismissSharingView(SharingViewController& sheet) override;
  // A picture idea's panel; the new picture, if any, is stored when it closes.
  void doEditImageIdea(const IdeaPtr& idea);
  void pleaseDismissPictureView(PictureViewController& panel) override;
  // The web-link panel: on a URL idea (its confirmed address and page picture are stored when
  // it closes) or for a new link, which lands in the dock.
  void doEditURLIdea(const IdeaPtr& idea);
  void pleaseStartWebLinkAddition();
  void pleaseDismissHTMLPageView(HTMLPageViewController& panel) override;
  // Presents a panel over the editor, interaction off; when it closes, `apply` gets the idea with
  // `identifier` as it is then (deleted meanwhile: a new idea of the values shown, kept where it
  // stood), through `room`, the edit's room in the map, which the panel was given; the document
  // is saved when it answers true.
  void presentIdeaPanel(const std::shared_ptr<platform::ViewController>& panel, const QString& identifier,
                        const std::shared_ptr<IdeaEditRoom>& room, std::function<bool(Idea&)> apply);
  // Dismisses `asking` only when it is what this editor presented, then runs its block once.
  void dismissPresentedPanel(platform::ViewController& asking);
  void pleaseStartImageAddition();
  // The colour a new child of the shown idea starts with.
  ColorPtr presetColorForNewChild() const;

  // SolarSystemDelegate.
  void onDrillDownTo(const QString& ideaIdentifier) override;
  void onDrillUp() override;
  void onAddNewIdeaAfterIndex(std::int64_t adder, const QRectF& rect) override;
  void onEditIdea(const QString& ideaIdentifier) override;
  void startDragForIdea(const QString& ideaIdentifier, const QRectF& rect,
                        const std::optional<platform::Event>& event) override;
  std::shared_ptr<platform::Menu> onRightClickAtIdea(const QString& ideaIdentifier) override;

  // Drag and drop.
  bool dragOperationStarted(const DragInfo& info) override;
  DragReturnTarget dragOperationUpdate(const DragInfo& info) override;
  void dragOperationExited() override;
  void dragOperationEnded(const DragInfo& info, const IdeaPtr& idea, const QString& docIdentifier,
                          DragResultCompletion completion) override;
  void dragOperationEndedWithResult(const DragInfo* info, DragResult result) override;
  void dragFromDockAreaWithIdeaView(const std::shared_ptr<SimpleIdeaView>& ideaView,
                                    const platform::Event& event) override;
  void handleDragEndWithResult(DragResult result);
  void iffHandleDragEndWithResult(bool ok, DragResult result) {
    handleDragEndWithResult(ok ? result : kDragResultRefused);
  }
  void updateStatusDueToPossibleDockingUpdate();
  void acceptDraggedIdeaToSolarSystem();
  void copyPasteActionWithTitle(const QString& title);

  // TopBarViewDelegate.
  void topBarAction(TopBarActionKind kind, const QRectF& fromRect) override;
  void topBarSearchStatusDidChange(bool changed) override;
  void ensureTopBarState();

  // PersistenceControllerListener.
  void pleaseStopUsingLocation(DocumentLocation location) override;
  void documentUpdated(const std::shared_ptr<IdeaProxy>& proxy) override;
  void documentDeleted(const QString& docIdentifier) override;

  // The overview graph (made on first use and kept) and the switches between the states.
  const std::shared_ptr<GraphScrollView>& graphScrollView() const { return mGraphScrollView; }
  void pleaseSwitchToMindmapOrSearch(bool animated);
  void pleaseSwitchToSolarView();
  void updateGraphSearch();
  // What a search text keeps in the graph: text ideas (links by their target) whose lower-cased
  // title or icon symbol contains it; everything for an empty text.
  static GraphFilter graphFilterForSearch(const QString& lowerCaseText);
  void cmdToggleMindmap();
  // GraphScrollViewDelegate.
  void onIdeaSelected(const IdeaPtr& idea) override;
  void openIdeaInNewWindow(const IdeaPtr& idea) override;

  // The root view's bounds without the top bar's strip: where every radial view goes.
  QRectF solarSystemFrame() const;
  // Whether the editor takes input: that of its current radial view.
  void setUserInteractionEnabled(bool enabled);

 private:
  std::shared_ptr<SolarSystemViewController> self();
  void observeDocument(const std::shared_ptr<IdeaDocument>& doc);
  void observePersistenceState();
  void saveWhenLocationIsBack();
  void addViewsIfPossible();
  // Radial views lie below the delete area (and the dock well).
  void insertBelowOverlays(const std::shared_ptr<SolarSystem>& radialView);
  // The end of every transition: the new view becomes the current one, showing `idea`.
  void adoptRadialView(const std::shared_ptr<SolarSystem>& radialView, const IdeaPtr& idea);
  // Starts the save of the tree as it is now, unless the token has been returned.
  void startSave();
  // Starts a save now, counted among the saves in flight.
  void saveCounted();
  void saveFinished(bool ok, bool wrote);
  void runWhatWaitsForSaves();
  // Returns the token exactly once; later calls only complete with false.
  void releaseDocumentOnce(BoolCompletion completion, bool discardScratchFile);
  static void deleteScratchFileWhenIdle(const std::shared_ptr<IdeaDocument>& doc, const QString& path);
  void closeWindow();
  void closeWindowLater();
  // The forced close once the own saves under way have ended.
  void finishForcedClose();
  // A copy of the tree as it is now among the recovery copies: its path, or empty with why.
  QString keepCopyOfEdit(QString* reason);
  void registerCommands();
  void registerGraphCommands();
  // Cross-fades from one view to the other over 0.4 s, holding "AnimatingSwitch".
  void animateSwitch(const std::shared_ptr<platform::View>& from, const std::shared_ptr<platform::View>& to);
  void makeFirstResponder(platform::View* view);
  void askAboutClosingNewDocument();
  void saveAsPath(const QString& path, const ResultCompletion& done);
  void applyPendingOutsideChange();
  // Shows the idea of the same identifier (else the root) in `newRoot`'s tree, in the radial
  // view and, when it is in front, the graph.
  void showTree(const IdeaPtr& newRoot);
  // After Save As the window edits the new document's own copy of the tree.
  void showTreeOfSavedAsDocument();
  // Runs `then` once the saves in flight are done; with none, a failed save is retried first.
  void whenSavesAreDone(std::function<void()> then);
  void tellAboutFailedSave();
  // After a forced close: the edit of the map `name` that was not in its file is kept in `copy`
  // (empty: it could not be, for `reason`).
  static void tellAboutEditKept(const QString& name, const QString& copy, const QString& reason);
  QString failedSaveDescription() const;
  // `then` hears true once every edit is written (or given up), else after the question below.
  void settleUnsavedEdit(std::function<void(bool mayGo)> then);
  // The last save failed: the file and the reason, and "Save As…", "Do Not Save" or "Cancel";
  // `then` hears whether the window may go (saved elsewhere, or the edit given up).
  void askAboutUnsavedEdit(std::function<void(bool mayGo)> then);
  bool insertIntoRealIdea(const IdeaPtr& idea, std::int64_t index);
  void registerEditorCommands();
  void registerExportCommands();
  // Where open and save panels start: the Desktop, else the home folder.
  static QString desktopFolder();
  void addDockAreaIfPossible();
  void layoutDockArea();
  // Shows the edit panel for `anchor` (radial-view coordinates) with the block for its close.
  std::shared_ptr<EditIdeaViewController> makeEditPanel();
  void showEditPanel(const std::shared_ptr<EditIdeaViewController>& panel, const QRectF& anchor,
                     std::function<void()> afterDismissal);
  void closeEditPopoverNow();
  // Where an edited idea stood when its panel opened: its parent and its index there.
  struct IdeaPlace {
    QString parentIdentifier;
    std::int64_t index = 0;
  };
  static IdeaPlace placeOf(const Idea& idea);
  // The idea `identifier` of a closing panel, which held the values of `shown` when it opened,
  // is gone from the tree: `kept`, the idea with the panel's edit, goes where it stood, with a
  // notice, and another instance that deleted it hears so.
  void keepEditOfDeletedIdea(const IdeaPtr& kept, const IdeaPlace& place, const QString& identifier, const Idea& shown);
  // A new idea holding what the panel holds now.
  static IdeaPtr ideaOfPanel(const EditIdeaViewController& panel);
  void addActionTo(ModalChoiceController& menu, const QString& key);
  void showNotice(const QString& message);
  QRectF radialRectInWindow(const QRectF& rect) const;
  // A copy of `idea` to go under `parent`, an idea of the shown tree.
  IdeaArrival copyOf(const IdeaPtr& idea, const Idea& parent) const;
  // A window of the stored state goes without having shown its document; `why` tells the user
  // which and why, when there is a reason to tell.
  void closeRestoredWindowUnshown(const MyResultPtr& why, bool later);
  // Whether the map has room for `arrival` beside what it holds (DocumentLimits), as what goes
  // in takes it where it goes. When it has not, the user is told and the caller changes nothing.
  bool roomFor(const IdeaArrival& arrival);
  // An idea the map had no room for waits in the dock, when the dock is empty.
  void keepInDock(const IdeaPtr& idea);
  // An edit the map has no room for at the panel's close (another instance's version grew the
  // idea meanwhile): the user is told, and `kept`, a new idea holding it, waits in the dock.
  void keepEditWithoutRoom(const IdeaPtr& kept);

  std::shared_ptr<IdeaDocument> mDoc;
  std::shared_ptr<TopBarView> mTopBar;
  std::shared_ptr<SolarSystem> mSolarSystem;
  std::shared_ptr<DeleteAreaView> mDeleteAreaView;
  std::shared_ptr<GraphScrollView> mGraphScrollView;
  std::shared_ptr<Animator> mSwitchAnimator;
  std::shared_ptr<DockAreaView> mDockAreaView;
  // The idea of a drop being decided, its document (empty for none) and what runs at its end.
  IdeaPtr mIdeaBeingAccepted;
  QString mIdeaBeingAcceptedDocIdentifier;
  std::function<void(DragResult)> mAfterAcceptance;
  // Runs once when the shown panel or popover closes.
  std::function<void()> mAfterEditorDismissal;
  std::shared_ptr<platform::Popover> mEditPopover;
  SolarSystemState mSolarSystemState = kSolarSystemStateNothing;
  bool mDrillingUpOrDown = false;
  // The view of a drill that starts on the next turn; a later switch replaces or drops it.
  std::shared_ptr<SolarSystem> mPreparedDrillView;
  // Own saves started and not yet completed (two may overlap).
  int mSavesInFlight = 0;
  DocumentToken mDocToken = 0;
  bool mCanCloseTempFileIfAsked = false;
  std::optional<QVariantMap> mRestorationDictionary;
  IdeaPtr mOwnIdea;
  IdeaPtr mRealIdea;
  IdeaPtr mRootIdea;
  // The sheet or panel this editor presented, and what runs once it is dismissed.
  std::shared_ptr<platform::ViewController> mPresentedPanel;
  std::function<void()> mAfterPanelDismissal;
  // The tree another instance wrote, reported during an own save: shown once the saves are
  // done, and written again when an own write landed after it.
  IdeaPtr mPendingRoot;
  bool mOverwroteOutsideChange = false;
  bool mLastSaveFailed = false;
  // A forced close cancelled saves not yet started: the shown tree is not on disk.
  bool mEditLeftUnwritten = false;
  // What waits for the saves in flight (a retried save after a failure): a close, a quit.
  std::vector<std::function<void()>> mAfterSaves;
  bool mCloseAfterSaves = false;
  // A forced close released the token: the close that follows neither asks nor releases.
  bool mForcedClosing = false;
  // An edit that could not be saved needs nothing more: the user chose to lose it, or a copy
  // of it is kept.
  bool mDropUnsavedEdit = false;
  // The quit runs: nobody is there to be told about a failed save.
  bool mQuitting = false;
  platform::ObserverScope mDocumentObserver;
  platform::ObserverScope mStateObserver;
  bool mListening = false;
};

}  // namespace orrery
