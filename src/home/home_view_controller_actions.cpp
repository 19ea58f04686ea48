// What the user does to documents on the home screen besides opening them: the tile's menu,
// deleting with its confirmations and the question to every window, importing a file into the
// dock, and editing a document's central idea in place. A document token taken here goes to a
// panel, an editor or back to the facade on every path.

#include "home/home_view_controller.h"

#include "editor_screen/solar_system_view_controller.h"
#include "foundation/application_delegate.h"
#include "foundation/globals.h"
#include "foundation/logging.h"
#include "foundation/views/custom_alert_view.h"
#include "foundation/views/presentation_transitions.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "model/idea_merge.h"
#include "model/idea_proxy.h"
#include "model/persistence_controller.h"
#include "platform/core/dispatch.h"
#include "platform/ui/menu.h"
#include "shell/my_window.h"

#include <any>

namespace orrery {

namespace {

constexpr char kOpenAction[] = "onOpenItem:";
constexpr char kOpenInNewWindowAction[] = "onOpenItemInNewWindow:";
constexpr char kEditAction[] = "onEditItem:";
constexpr char kDeleteAction[] = "onDeleteItem:";
constexpr char kImportAction[] = "cmdImport";

PersistenceController& facade() { return PersistenceController::singleton(); }

QString text(const char* defaultText) {
  return Globals::normalLocalizedStringForKey(QString(), QString::fromLatin1(defaultText));
}

QString localized(const char* key) { return Globals::normalLocalizedStringForKey(QString::fromLatin1(key), QString()); }

QString identifierOf(const platform::ActionSender& sender) {
  if (!sender.menuItem) return {};
  const QString* identifier = std::any_cast<QString>(&sender.menuItem->representedObject());
  return identifier ? *identifier : QString();
}

}  // namespace

void HomeViewController::registerHomeCommands() {
  auto on = [this](const char* action, void (HomeViewController::*method)(const QString&)) {
    setActionHandler(QString::fromLatin1(action),
                     [this, method](const platform::ActionSender& sender) { (this->*method)(identifierOf(sender)); });
  };
  on(kOpenAction, &HomeViewController::onOpenItem);
  on(kOpenInNewWindowAction, &HomeViewController::onOpenItemInNewWindow);
  on(kEditAction, &HomeViewController::onEditItem);
  on(kDeleteAction, &HomeViewController::onDeleteItem);
  setActionHandler(QString::fromLatin1(kImportAction), [this](const platform::ActionSender&) { cmdImport(); });
}

// The tile's menu.

std::shared_ptr<platform::Menu> HomeViewController::onRightClickAtDocument(const QString& docIdentifier) {
  auto menu = std::make_shared<platform::Menu>(QString());
  auto add = [&](const char* title, const char* action) {
    menu->addItem(menuItemForDoc(docIdentifier, QString::fromLatin1(title), QString::fromLatin1(action), QString()));
  };
  add("Open", kOpenAction);
  add("Open in New Window", kOpenInNewWindowAction);
  menu->addItem(platform::MenuItem::separator());
  add("Edit", kEditAction);
  menu->addItem(platform::MenuItem::separator());
  add("Delete", kDeleteAction);
  menu->addItem(platform::MenuItem::separator());
  return menu;
}

std::shared_ptr<platform::MenuItem> HomeViewController::menuItemForDoc(const QString& docIdentifier,
                                                                      const QString& title, const QString& action,
                                                                      const QString& keyEquivalent) {
  auto item = std::make_shared<platform::MenuItem>(title, action, keyEquivalent);
  item->setRepresentedObject(docIdentifier);
  item->setTarget(this);
  return item;
}

void HomeViewController::openDocumentFor(const QString& docIdentifier,
                                         std::function<void(std::shared_ptr<IdeaDocument>, DocumentToken)> then) {
  // Nothing starts while another step holds the screen.
  if (screenOccupied() || !mIdeaListView) return;
  IdeaProxyPtr proxy = mIdeaListView->findProxy(docIdentifier);
  std::shared_ptr<IdeaDocument> doc = proxy ? proxy->doc() : nullptr;
  if (!doc) return;
  occupyScreen(QString::fromLatin1(kOpenDocumentToken));
  std::weak_ptr<ViewController> weak = weak_from_this();
  auto open = [weak, doc, then](bool conflictResolved, const std::vector<KeptConflictVersion>& kept) {
    facade().openDocument(doc, [weak, doc, then, conflictResolved, kept](DocumentToken token) {
      auto me = std::static_pointer_cast<HomeViewController>(weak.lock());
      if (!me) {
        giveBack(doc, token);
        return;
      }
      me->liberateScreen(QString::fromLatin1(kOpenDocumentToken));
      if (token < 1) {
        me->showOpenFailure(doc);
        return;
      }
      if (conflictResolved)
        me->showConflictResolved(doc, token, kept, then);
      else
        then(doc, token);
    });
  };
  // A sync tool found the file changed on several machines: the newest version takes the file
  // and every other one lives on as a new document, before the document is shown.
  if (facade().findConflictingVersion(proxy)) {
    facade().handleConflictForProxy(
        proxy, [weak, doc, open](bool resolved, const std::vector<KeptConflictVersion>& kept) {
          if (!resolved)
            logLine(QStringLiteral("Home: the conflict of %1 stays for a later open").arg(doc->docIdentifier()));
          if (weak.lock())
            open(resolved, kept);
          else
            logLine(QStringLiteral("Home: the screen left before %1 opened").arg(doc->docIdentifier()));
        });
    return;
  }
  open(false, {});
}

QString HomeViewController::conflictResolvedMessage(const std::vector<KeptConflictVersion>& kept) {
  QStringList lines{localized("ConflictDialog:Message")};
  for (const KeptConflictVersion& version : kept) {
    if (!version.problem.isEmpty()) continue;
    lines << (version.source.isEmpty()
                  ? localized("ConflictDialog:KeptFromThisDevice").arg(version.documentName)
                  : localized("ConflictDialog:KeptFromElsewhere").arg(version.documentName, version.source));
  }
  // Versions that could not be read are no documents: named apart, with the reason.
  for (const KeptConflictVersion& version : kept)
    if (!version.problem.isEmpty())
      lines << localized("ConflictDialog:KeptUnreadable")
                   .arg(version.source.isEmpty() ? localized("ConflictVersion:ThisDevice") : version.source,
                        version.problem, version.documentName);
  return lines.join(QLatin1Char('\n'));
}

void HomeViewController::showConflictResolved(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token,
                                              const std::vector<KeptConflictVersion>& kept,
                                              std::function<void(std::shared_ptr<IdeaDocument>, DocumentToken)> then) {
  CustomAlertView alert(localized("ConflictDialog:Title"), conflictResolvedMessage(kept));
  std::weak_ptr<ViewController> weak = weak_from_this();
  alert.addButton(localized("ConflictDialog:AcceptCopying"), CAVButton::kOrdinary, [weak, doc, token, then] {
    auto me = std::static_pointer_cast<HomeViewController>(weak.lock());
    if (!me) {
      giveBack(doc, token);
      return;
    }
    me->liberateScreen(QString::fromLatin1(kConflictDialogToken));
    then(doc, token);
  });
  occupyScreen(QString::fromLatin1(kConflictDialogToken));
  alert.showFromWindow(myWindow());
}

void HomeViewController::onOpenItem(const QString& docIdentifier) {
  std::weak_ptr<ViewController> weak = weak_from_this();
  openDocumentFor(docIdentifier, [weak](std::shared_ptr<IdeaDocument> doc, DocumentToken token) {
    auto me = std::static_pointer_cast<HomeViewController>(weak.lock());
    if (me)
      me->openSolarSystemForIdeaDocument(doc, token, /*startEditing=*/false);
    else
      giveBack(doc, token);
  });
}

void HomeViewController::onEditItem(const QString& docIdentifier) {
  std::weak_ptr<ViewController> weak = weak_from_this();
  openDocumentFor(docIdentifier, [weak](std::shared_ptr<IdeaDocument> doc, DocumentToken token) {
    auto me = std::static_pointer_cast<HomeViewController>(weak.lock());
    if (me)
      me->editOpenedProxy(doc, token);
    else
      giveBack(doc, token);
  });
}

void HomeViewController::onOpenItemInNewWindow(const QString& docIdentifier) {
  if (screenOccupied()) return;
  if (ApplicationDelegate* app = Globals::app()) app->openDocumentInNewWindow(docIdentifier, QString());
}

void HomeViewController::onDeleteItem(const QString& docIdentifier) {
  if (screenOccupied() || !mIdeaListView || !mIdeaListView->findProxy(docIdentifier)) return;
  occupyScreen(QString::fromLatin1(kOpenDocumentToken));
  std::weak_ptr<ViewController> weak = weak_from_this();
  facade().fetchDocument(docIdentifier, [weak, docIdentifier](IdeaPtr root) {
    auto me = std::static_pointer_cast<HomeViewController>(weak.lock());
    if (!me) return;
    me->liberateScreen(QString::fromLatin1(kOpenDocumentToken));
    if (!root) return;
    QString question;
    if (!root->isLink()) {
      if (!root->ideas().empty())
        question = text("Element contains %d sub-elements. Are you sure?")
                       .replace(QStringLiteral("%d"), QString::number(root->calculateWholeTreeSize() - 1));
      else if (root->ideaType() == IdeaTypeImage)
        question = text("Element contains an image. Are you sure?");
      else if (!root->note().isEmpty())
        question = text("Element contains a note. Are you sure?");
    }
    if (question.isEmpty()) {
      me->deleteDocument(docIdentifier, nullptr);
      return;
    }
    CustomAlertView alert(text("Delete"), question);
    const QString token = QString::fromLatin1(kDeleteConfirmationToken);
    alert.addButton(Globals::normalLocalizedStringForKey(QStringLiteral("Choice.Delete"), QString()),
                    CAVButton::kDestructive, [weak, docIdentifier, token] {
                      auto home = std::static_pointer_cast<HomeViewController>(weak.lock());
                      if (!home) return;
                      home->liberateScreen(token);
                      home->deleteDocument(docIdentifier, nullptr);
                    });
    alert.addButton(Globals::normalLocalizedStringForKey(QStringLiteral("Choice.Cancel"), QString()),
                    CAVButton::kCancel, [weak, token] {
                      if (auto home = std::static_pointer_cast<HomeViewController>(weak.lock()))
                        home->liberateScreen(token);
                    });
    me->occupyScreen(token);
    alert.showFromWindow(me->myWindow());
  });
}

// Deleting.

void HomeViewController::deleteDocument(const QString& docIdentifier, std::function<void(bool)> completion) {
  deleteIdea(QString(), docIdentifier, std::move(completion));
}

void HomeViewController::deleteIdea(const QString& ideaIdentifier, const QString& docIdentifier,
                                    std::function<void(bool)> completion) {
  if (ideaIdentifier.isEmpty() && facade().findDocument(docIdentifier)) {
    ApplicationDelegate* app = Globals::app();
    if (app && !app->canWeSafelyDeleteIdea(QString(), docIdentifier)) {
      showSimpleAlertViewWithTitle(
          QString(), text("Document is open in other window. Please close the window before deleting document."));
      if (completion) completion(false);
      return;
    }
  }
  facade().deleteIdea(ideaIdentifier, docIdentifier, std::move(completion));
}

// Import into the dock.

void HomeViewController::cmdImport() {
  std::weak_ptr<ViewController> weak = weak_from_this();
  startImportingLocalFileOnCompletion([weak](const std::shared_ptr<IdeaDocument>& document) {
    auto me = std::static_pointer_cast<HomeViewController>(weak.lock());
    if (!me || !document || !document->idea()) return;
    if (DragSupportWindow* window = me->dragWindow()) window->setDockedIdea(document->idea(), QString());
    me->updateStatusDueToPossibleDockingUpdate();
  });
}

// Editing a document's central idea in place.

void HomeViewController::editOpenedProxy(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token) {
  const IdeaPtr root = doc ? doc->idea() : nullptr;
  // Nothing takes the document while the screen is busy or its root has no panel here.
  if (screenOccupied() || !root) {
    giveBack(doc, token);
    return;
  }
  switch (root->ideaType()) {
    case IdeaTypeText: return editOpenedTextualIdeaProxy(doc, token);
    case IdeaTypeImage: return editOpenedImageIdeaProxy(doc, token);
    case IdeaTypeURL: return editOpenedURLIdeaProxy(doc, token);
    default: giveBack(doc, token);
  }
}

void HomeViewController::editOpenedTextualIdeaProxy(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token) {
  const IdeaPtr root = doc->idea();
  auto popover = platform::Popover::create();
  popover->setBehavior(platform::Popover::Semitransient);
  auto panel = EditIdeaViewController::createForPopover(popover);
  panel->setDelegate(this);
  auto room = std::make_shared<IdeaEditRoom>(doc, root);
  panel->setEditRoom(room);
  panel->setSelectedTitleText(root->text());
  panel->setSelectedNoteText(root->note());
  panel->setSelectedColor(root->color());
  panel->setSelectedColorThemeType(root->colorThemeType());
  panel->setSelectedIconImage(root->iconImage());
  mEditPopover = popover;
  // Only what the user changed: a value another instance changed meanwhile stays.
  afterEditing(
      doc, token, room,
      [panel](Idea& root) {
        panel->storeChangesInto(root);
        return panel->didChange();
      },
      [panel] { return panel->didRecolor(); });
  QRectF anchor;
  if (IdeaViewForIPadListItem* tile = visibleIdeaViewForDocument(doc->docIdentifier()))
    anchor = view()->convertRect(tile->frame(), tile->superview());
  popover->showRelativeToRect(anchor, view().get(), platform::RectEdge::MaxY);
  // Without a window to point into nothing shows, and nothing would ever close it.
  if (!popover->isShown()) editIdeaViewDidClose();
}

void HomeViewController::afterEditing(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token,
                                      const std::shared_ptr<IdeaEditRoom>& room,
                                      std::function<bool(Idea&)> applyChanges, std::function<bool()> recolors) {
  occupyScreen(QString::fromLatin1(kIdeaEditingToken));
  std::weak_ptr<ViewController> weak = weak_from_this();
  mActionAfterEditing = [weak, doc, token, room, applyChanges = std::move(applyChanges),
                         recolors = std::move(recolors)] {
    auto me = std::static_pointer_cast<HomeViewController>(weak.lock());
    if (me) me->liberateScreen(QString::fromLatin1(kIdeaEditingToken));
    const IdeaPtr root = doc->idea();
    bool changed = false;
    const auto apply = [&](Idea& idea) { changed = applyChanges(idea); };
    if (me && root && !room->applyTo(*root, apply, recolors && recolors())) {
      // Another instance's version grew the map meanwhile: the edit waits in the dock.
      const IdeaPtr kept = ideaValuesOf(*root)->deepCopyWithNewIdentifiersNoExternalLinks();
      apply(*kept);
      me->showNonblockingAlertViewWithTitle(QString(), DocumentLimits::documentFullMessage());
      DragSupportWindow* window = me->dragWindow();
      if (window && !window->currentDockedIdea()) window->setDockedIdea(kept, QString());
      me->updateStatusDueToPossibleDockingUpdate();
    }
    room->giveBack();
    if (!me || !root || !changed) {
      giveBack(doc, token);
      return;
    }
    me->saveEditedRootAndRelease(doc, token);
  };
}

void HomeViewController::saveEditedRootAndRelease(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token) {
  doc->setIdea(doc->idea());
  std::weak_ptr<ViewController> weak = weak_from_this();
  facade().saveDocument(doc, token, [weak, doc, token](bool saved) {
    if (!saved)
      if (auto home = std::static_pointer_cast<HomeViewController>(weak.lock()))
        if (MyWindow* window = home->shellWindow()) window->showShortNotificationToUser(text("Failed to update document"));
    giveBack(doc, token);
  });
}

void HomeViewController::editOpenedImageIdeaProxy(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token) {
  auto panel = std::make_shared<PictureViewController>();
  panel->setImage(doc->idea()->bigImage().nsImage());
  panel->setDelegate(this);
  auto room = std::make_shared<IdeaEditRoom>(doc, doc->idea());
  panel->setEditRoom(room);
  afterEditing(doc, token, room, [panel](Idea& root) {
    if (!panel->didChangeImage()) return false;
    root.replaceWithOriginalImage(KitImage(panel->image()));
    return true;
  });
  presentEditingPanel(panel);
}

void HomeViewController::editOpenedURLIdeaProxy(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token) {
  // Without the web engine the user is told why and the document goes straight back.
  auto panel = HTMLPageViewController::createShowingPages(this, doc->idea()->URL());
  if (!panel) {
    giveBack(doc, token);
    return;
  }
  auto room = std::make_shared<IdeaEditRoom>(doc, doc->idea());
  panel->setEditRoom(room);
  afterEditing(doc, token, room, [panel](Idea& root) { return panel->storeResultInto(root); });
  presentEditingPanel(panel);
}

void HomeViewController::presentEditingPanel(const std::shared_ptr<platform::ViewController>& panel) {
  mPresentedPanel = panel;
  presentViewController(panel, std::make_shared<SlideUpViewTransitionAnimation>());
}

void HomeViewController::pleaseDismissPictureView(PictureViewController& panel) { pleaseDismissEditor(panel); }

void HomeViewController::pleaseDismissHTMLPageView(HTMLPageViewController& panel) {
  // The request may come from a key the panel's field or page is handling: the panel and its
  // widgets go on a later turn.
  if (mPresentedPanel.get() == &panel) platform::mainQueue().async([keep = mPresentedPanel] {});
  pleaseDismissEditor(panel);
}

void HomeViewController::pleaseDismissEditor(platform::ViewController& panel) {
  if (!mActionAfterEditing || mPresentedPanel.get() != &panel) return;
  auto presented = std::move(mPresentedPanel);
  mPresentedPanel = nullptr;
  dismissViewController(presented);
  auto step = std::move(mActionAfterEditing);
  mActionAfterEditing = nullptr;
  step();
}

void HomeViewController::editIdeaViewDidClose() {
  // The close may come from a key the panel's own field handles: the popover goes later.
  platform::mainQueue().async([popover = std::move(mEditPopover)] {});
  mEditPopover = nullptr;
  auto step = std::move(mActionAfterEditing);
  mActionAfterEditing = nullptr;
  if (step) step();
}

}  // namespace orrery
