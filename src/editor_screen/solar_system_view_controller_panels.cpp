// Editing through panels (the edit popover for a new or an existing text idea, new pictures
// into the dock) and the window commands around them: import, the context menu, Ctrl+F and
// Escape, the search handed over by the home screen.

#include "editor_screen/solar_system_view_controller.h"
#include "editor/planet_drawer.h"
#include "foundation/application_delegate.h"
#include "foundation/globals.h"
#include "foundation/kit_image.h"
#include "foundation/logging.h"
#include "foundation/views/custom_alert_view.h"
#include "foundation/views/modal_choice_controller.h"
#include "model/color_theme.h"
#include "model/idea_arrival.h"
#include "model/idea_document.h"
#include "platform/core/dispatch.h"
#include "platform/services/url_opener.h"
#include "platform/ui/menu.h"
#include "platform/ui/modal_presenter.h"
#include "platform/ui/window.h"
#include "shell/my_window.h"

#include <algorithm>

namespace orrery {

namespace {
constexpr char kShowingIdeaEditor[] = "ShowingIdeaEditor";
constexpr char kOpenAction[] = "onOpenItem";
constexpr char kOpenInNewWindowAction[] = "onOpenItemInNewWindow";
constexpr char kEditAction[] = "onEditItem";
constexpr char kDeleteAction[] = "onDeleteItem";
constexpr char kOpenInBrowserAction[] = "onOpenItemInBrowser";
constexpr char kImportAction[] = "cmdImport";
constexpr PlanetType kCentralPlanet = 1;

QString identifierOf(const platform::ActionSender& sender) {
  if (!sender.menuItem) return {};
  const std::any& object = sender.menuItem->representedObject();
  const QString* identifier = std::any_cast<QString>(&object);
  return identifier ? *identifier : QString();
}
}  // namespace

void SolarSystemViewController::registerEditorCommands() {
  auto on = [this](const char* action, void (SolarSystemViewController::*method)(const QString&)) {
    setActionHandler(QString::fromLatin1(action),
                     [this, method](const platform::ActionSender& sender) { (this->*method)(identifierOf(sender)); });
  };
  on(kOpenAction, &SolarSystemViewController::onOpenItem);
  on(kOpenInNewWindowAction, &SolarSystemViewController::onOpenItemInNewWindow);
  on(kEditAction, &SolarSystemViewController::onEditItem);
  on(kDeleteAction, &SolarSystemViewController::onDeleteItem);
  on(kOpenInBrowserAction, &SolarSystemViewController::onOpenItemInBrowser);
  setActionHandler(QString::fromLatin1(kImportAction), [this](const platform::ActionSender&) { cmdImport(); });
}

void SolarSystemViewController::showNotice(const QString& message) {
  if (MyWindow* window = shellWindow()) window->showShortNotificationToUser(message);
}

// The edit popover.

ColorPtr SolarSystemViewController::presetColorForNewChild() const {
  const std::size_t n = mRealIdea ? mRealIdea->ideas().size() : 0;
  if (mRealIdea && mRealIdea->color()) {
    // A colour of no theme has no colours to count on: the standard rule below stands in.
    const ColorThemePtr theme = mRealIdea->colorTheme();
    if (theme && !theme->colors().empty()) return theme->colors()[(n + 1) % theme->colors().size()];
  }
  const auto& standard = ColorTheme::standardThemes();
  if (standard.empty()) return nullptr;
  const ColorThemePtr& theme = standard[(n + 1) % standard.size()];
  return theme->colors().empty() ? nullptr : theme->colors().front();
}

std::shared_ptr<EditIdeaViewController> SolarSystemViewController::makeEditPanel() {
  auto popover = platform::Popover::create();
  popover->setBehavior(platform::Popover::Semitransient);
  auto panel = EditIdeaViewController::createForPopover(popover);
  panel->setDelegate(this);
  // Kept here until it closes; the popover keeps the panel.
  mEditPopover = popover;
  return panel;
}

void SolarSystemViewController::showEditPanel(const std::shared_ptr<EditIdeaViewController>& /*panel*/,
                                              const QRectF& anchor, std::function<void()> afterDismissal) {
  mAfterEditorDismissal = std::move(afterDismissal);
  const QRectF inView = view()->convertRect(radialRectInWindow(anchor), nullptr);
  occupyScreen(QString::fromLatin1(kShowingIdeaEditor));
  mEditPopover->showRelativeToRect(inView, view().get(), platform::RectEdge::MaxY);
  // Without a window to point into nothing shows, and nothing would ever close it.
  if (!mEditPopover->isShown()) editIdeaViewDidClose();
}

void SolarSystemViewController::onAddNewIdeaAfterIndex(std::int64_t adder, const QRectF& rect) {
  if (!mSolarSystem || !mSolarSystem->userInteractionEnabled() || !mRealIdea) return;
  auto panel = makeEditPanel();
  panel->setSelectedColor(presetColorForNewChild());
  panel->setSelectedColorThemeType(ColorThemeTypeLighterColor);
  panel->setSelectedTitleText(QString());
  panel->setSelectedNoteText(QString());
  panel->setSelectedIconImage(nullptr);
  setUserInteractionEnabled(false);
  std::weak_ptr<SolarSystemViewController> weak = self();
  // The panel outlives its popover only through this block.
  showEditPanel(panel, rect, [weak, panel, adder] {
    auto me = weak.lock();
    if (!me) return;
    me->liberateScreen(QString::fromLatin1(kShowingIdeaEditor));
    if (!panel->didChange()) return;
    me->addNewIdeaAfterIndex(adder, ideaOfPanel(*panel), nullptr);
  });
}

void SolarSystemViewController::onEditIdea(const QString& ideaIdentifier) {
  if (!mSolarSystem || !mSolarSystem->userInteractionEnabled()) return;
  const IdeaPtr idea = ideaForIdea(ideaIdentifier);
  if (!idea) return;
  // Picture and web-link ideas get their own panels; links are not edited.
  if (idea->ideaType() == IdeaTypeText) doEditTextualIdea(idea);
  else if (idea->ideaType() == IdeaTypeImage) doEditImageIdea(idea);
  else if (idea->ideaType() == IdeaTypeURL) doEditURLIdea(idea);
}

void SolarSystemViewController::doEditTextualIdea(const IdeaPtr& idea) {
  if (!idea || !mSolarSystem || !mRealIdea) return;
  QRectF anchor;
  if (idea->identifier() == mRealIdea->identifier()) {
    const double side = 2.0 * PlanetDrawer::radiusForPlanetType(kCentralPlanet);
    const QPointF c = mSolarSystem->centralView() ? mSolarSystem->centralView()->frame().center()
                                                  : mSolarSystem->bounds().center();
    anchor = QRectF(c.x() - side / 2, c.y() - side / 2, side, side);
  } else {
    const std::int64_t index = indexOfIdeaWithIdentifier(idea->identifier());
    ORRERY_SOFT_ASSERT(index != kNotFound, "-[SolarSystemViewController doEditTextualIdea:]");
    if (index == kNotFound) return;
    anchor = mSolarSystem->popoverRectForIdeaAtIndex(index);
  }
  auto panel = makeEditPanel();
  auto room = std::make_shared<IdeaEditRoom>(mDoc, idea);
  panel->setEditRoom(room);
  panel->setSelectedTitleText(idea->text());
  panel->setSelectedNoteText(idea->note());
  panel->setSelectedColor(idea->color());
  panel->setSelectedColorThemeType(idea->colorThemeType());
  panel->setSelectedIconImage(idea->iconImage());
  setUserInteractionEnabled(false);
  std::weak_ptr<SolarSystemViewController> weak = self();
  const QString identifier = idea->identifier();
  const IdeaPlace place = placeOf(*idea);
  // What the panel showed: a value that differs from it at the close came from elsewhere.
  const IdeaPtr shown = ideaValuesOf(*idea);
  showEditPanel(panel, anchor, [weak, panel, room, identifier, place, shown] {
    auto me = weak.lock();
    if (!me) return;
    me->liberateScreen(QString::fromLatin1(kShowingIdeaEditor));
    me->setUserInteractionEnabled(true);
    if (!panel->didChange()) return room->giveBack();
    // The tree may have been reloaded meanwhile: the edit goes to the idea as it is now.
    const IdeaPtr target = me->mRootIdea ? me->mRootIdea->findIdeaInSubTreeWithIdentifier(identifier) : nullptr;
    if (!target) {
      room->giveBack();
      return me->keepEditOfDeletedIdea(ideaOfPanel(*panel), place, identifier, *shown);
    }
    const IdeaPtr replaced = ideaValuesOf(*target);
    const auto store = [&](Idea& idea) { panel->storeChangesInto(idea); };
    if (!room->applyTo(*target, store, panel->didRecolor())) return me->keepEditWithoutRoom(ideaOfPanel(*panel));
    if (me->mDoc) me->mDoc->noteReplacedOutsideValues(identifier, *shown, *replaced);
    me->updateSolarSystemAndSaveDocument();
  });
}

IdeaPtr SolarSystemViewController::ideaOfPanel(const EditIdeaViewController& panel) {
  IdeaPtr idea = Idea::createWithText(panel.selectedTitleText());
  idea->setNote(panel.selectedNoteText());
  idea->setColor(panel.selectedColor());
  idea->setColorThemeType(panel.selectedColorThemeType());
  idea->setIconImage(panel.selectedIconImage());
  return idea;
}

SolarSystemViewController::IdeaPlace SolarSystemViewController::placeOf(const Idea& idea) {
  const IdeaPtr parent = idea.parent();
  return {parent ? parent->identifier() : QString(), parent ? parent->indexOfIdeaWithIdentifier(idea.identifier()) : 0};
}

void SolarSystemViewController::keepEditOfDeletedIdea(const IdeaPtr& kept, const IdeaPlace& place,
                                                      const QString& identifier, const Idea& shown) {
  if (!mRootIdea || !mRealIdea || !kept) return;
  if (mDoc) mDoc->noteKeptDeletedIdea(identifier, shown, kept->identifier());
  // Where the idea stood when its parent is still there, else among the shown idea's children.
  IdeaPtr parent =
      place.parentIdentifier.isEmpty() ? nullptr : mRootIdea->findIdeaInSubTreeWithIdentifier(place.parentIdentifier);
  // Nor under a link, nor where it would go deeper than a map holds.
  if (parent && (parent->isLink() ||
                 DocumentSize::levelsOf(*kept, DocumentSize::levelOf(*parent) + 1).deepest > DocumentLimits::kMaxDepth))
    parent = nullptr;
  if (!parent || parent == mRealIdea) {
    const auto count = static_cast<std::int64_t>(mRealIdea->ideas().size());
    const std::int64_t index = parent && place.index >= 0 ? std::min(place.index, count) : count;
    addNewIdeaAfterIndex(index - 1, kept, nullptr);
  } else if (!roomFor(IdeaArrival::of(kept, *parent))) {
    keepInDock(kept);
  } else {
    const auto count = static_cast<std::int64_t>(parent->ideas().size());
    parent->insertIdea(kept, place.index >= 0 ? std::min(place.index, count) : count);
    updateSolarSystemAndSaveDocument();
  }
  // Told only when the new idea is in the map or waits in the dock.
  DragSupportWindow* window = dragWindow();
  if (!kept->parent() && !(window && window->currentDockedIdea() == kept)) return;
  showNotice(Globals::normalLocalizedStringForKey(
      QString(), QStringLiteral("The idea was deleted elsewhere: your changes are kept in a new idea")));
}

void SolarSystemViewController::keepEditWithoutRoom(const IdeaPtr& kept) {
  showNonblockingAlertViewWithTitle(QString(), DocumentLimits::documentFullMessage());
  keepInDock(kept);
}

void SolarSystemViewController::editIdeaViewDidClose() {
  // The close may come from a key the panel's own field is handling: the popover and its
  // panel go on a later turn.
  platform::mainQueue().async([popover = std::move(mEditPopover)] {});
  mEditPopover = nullptr;
  auto block = std::move(mAfterEditorDismissal);
  mAfterEditorDismissal = nullptr;
  if (block) block();
  if (platform::Window* window = myWindow(); window && mSolarSystem) window->makeFirstResponder(mSolarSystem.get());
}

void SolarSystemViewController::pleaseDismissEditor(const std::shared_ptr<platform::ViewController>& presented) {
  if (!mAfterEditorDismissal) return;
  if (presented) dismissViewController(presented);
  auto block = std::move(mAfterEditorDismissal);
  mAfterEditorDismissal = nullptr;
  block();
  if (platform::Window* window = myWindow(); window && mSolarSystem) window->makeFirstResponder(mSolarSystem.get());
}

void SolarSystemViewController::closeEditPopoverNow() {
  // Its block saves the typed change; it must run while the token is still held.
  if (mEditPopover && mEditPopover->isShown()) mEditPopover->performClose();
}

// New pictures and imports go into the dock.

void SolarSystemViewController::pleaseStartImageAddition() {
  platform::FilePanelRequest request;
  request.kind = platform::FilePanelRequest::Kind::Open;
  request.directory = desktopFolder();
  request.allowedFileTypes = PictureViewController::allowedFileTypes();
  std::weak_ptr<SolarSystemViewController> weak = self();
  platform::beginFilePanel(request, myWindow(), [weak](const platform::FilePanelResult& answer) {
    auto me = weak.lock();
    if (!me || answer.response != platform::kModalResponseOK || answer.paths.isEmpty()) return;
    const KitImage image = PictureViewController::readChosenPicture(answer.paths.front());
    if (image.isNull()) return;
    if (DragSupportWindow* window = me->dragWindow())
      window->setDockedIdea(Idea::createWithOriginalImage(image), QString());
    me->updateStatusDueToPossibleDockingUpdate();
  });
}

void SolarSystemViewController::cmdImport() {
  std::weak_ptr<SolarSystemViewController> weak = self();
  startImportingLocalFileOnCompletion([weak](const std::shared_ptr<IdeaDocument>& document) {
    auto me = weak.lock();
    if (!me || !document || !document->idea()) return;
    if (DragSupportWindow* window = me->dragWindow()) window->setDockedIdea(document->idea(), QString());
    me->updateStatusDueToPossibleDockingUpdate();
  });
}

// The context menu.

std::shared_ptr<platform::MenuItem> SolarSystemViewController::menuItemForIdea(const QString& ideaIdentifier,
                                                                               const QString& title,
                                                                               const QString& action,
                                                                               const QString& keyEquivalent) {
  auto item = std::make_shared<platform::MenuItem>(title, action, keyEquivalent);
  item->setRepresentedObject(ideaIdentifier);
  item->setTarget(this);
  return item;
}

std::shared_ptr<platform::Menu> SolarSystemViewController::onRightClickAtIdea(const QString& ideaIdentifier) {
  if (!mRealIdea) return nullptr;
  const QString d = ideaIdentifier.isEmpty() ? mRealIdea->identifier() : ideaIdentifier;
  const bool central = isOurCentralIdea(d);
  const bool parent = isOurParentIdea(d);
  auto menu = std::make_shared<platform::Menu>(QString());
  auto add = [&](const char* title, const char* action) {
    menu->addItem(menuItemForIdea(d, QString::fromLatin1(title), QString::fromLatin1(action), QString()));
  };
  if (!central) {
    add("Open", kOpenAction);
    add("Open in New Window", kOpenInNewWindowAction);
    menu->addItem(platform::MenuItem::separator());
  }
  if (!parent) {
    add("Edit", kEditAction);
    menu->addItem(platform::MenuItem::separator());
  }
  if (!central && !parent) {
    add("Delete", kDeleteAction);
    menu->addItem(platform::MenuItem::separator());
  }
  const IdeaPtr idea = central ? mRealIdea : childIdeaWithIdentifier(d);
  if (idea && idea->ideaType() == IdeaTypeURL) add("Open in Browser", kOpenInBrowserAction);
  return menu;
}

void SolarSystemViewController::onOpenItem(const QString& ideaIdentifier) {
  if (isOurParentIdea(ideaIdentifier))
    onDrillUp();
  else if (isOurChildIdea(ideaIdentifier))
    onDrillDownTo(ideaIdentifier);
}

void SolarSystemViewController::onOpenItemInNewWindow(const QString& ideaIdentifier) {
  if (ApplicationDelegate* app = Globals::app(); app && mDoc)
    app->openDocumentInNewWindow(mDoc->docIdentifier(), ideaIdentifier);
}

void SolarSystemViewController::onOpenItemInBrowser(const QString& ideaIdentifier) {
  const IdeaPtr idea = ideaForIdea(ideaIdentifier);
  if (!idea) return;
  const QUrl url(idea->URL(), QUrl::StrictMode);
  const QString scheme = url.scheme().toLower();
  // A stored link may name any scheme (local files, custom handlers): only web pages open.
  if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
    showNotice(Globals::normalLocalizedStringForKey(QString(), QStringLiteral("Cannot open this link")));
    return;
  }
  platform::openURL(url);
}

void SolarSystemViewController::onEditItem(const QString& ideaIdentifier) { onEditIdea(ideaIdentifier); }

// Keys.

void SolarSystemViewController::keyDown(const platform::Event& event) {
  if ((event.modifierFlags & platform::ModifierFlag::Command) &&
      event.charactersIgnoringModifiers.compare(QLatin1String("f"), Qt::CaseInsensitive) == 0) {
    // Search starts from the radial view and the graph alike; a shown search keeps its focus.
    const bool browsing = mSolarSystemState == kSolarSystemStateRadial || mSolarSystemState == kSolarSystemStateGraph;
    if (browsing && mTopBar) mTopBar->startEditingSearchText();
    return;
  }
  BaseViewController::keyDown(event);
}

}  // namespace orrery
