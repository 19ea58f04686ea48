#include "shell/screen_factory.h"

#include "foundation/globals.h"
#include "foundation/views/colored_view.h"
#include "model/idea_document.h"
#include "model/persistence_controller.h"
#include "platform/ui/label_view.h"
#include "shell/my_window.h"

namespace orrery {
namespace {

constexpr char kDocIdentifierKey[] = "docIdentifier";
constexpr char kLocationKey[] = "location";

// A white screen with one centred line of text.
std::shared_ptr<BaseView> messageView() {
  auto view = std::make_shared<ColoredView>(QBrush(Globals::colorWhite()));
  auto label = std::make_shared<platform::LabelView>();
  label->setAlignment(platform::TextAlignment::Center);
  view->addHostedView(label, [](platform::View& v, const QRectF& host) {
    v.setFrame(QRectF(20, host.height() / 2 - 30, std::max(0.0, host.width() - 40), 60));
  });
  return view;
}

platform::LabelView* messageLabel(platform::ViewController& controller) {
  if (!controller.isViewLoaded()) return nullptr;
  auto* host = dynamic_cast<BaseView*>(controller.view().get());
  if (!host || host->hostedParts().empty()) return nullptr;
  return dynamic_cast<platform::LabelView*>(host->hostedParts().front().view.get());
}

ScreenFactory standInFactory() {
  ScreenFactory f;
  f.makeEditor = [](const std::shared_ptr<IdeaDocument>& doc, DocumentToken token, const QString&) {
    return std::make_shared<DocumentPlaceholderController>(doc, token);
  };
  f.makeEditorForRestoration = [] { return std::make_shared<DocumentPlaceholderController>(); };
  f.onEditIdea = [](BaseViewController& editor, const QString& ideaIdentifier) {
    if (auto* p = dynamic_cast<DocumentPlaceholderController*>(&editor)) p->noteEditRequest(ideaIdentifier);
  };
  f.askBeforeLeavingLocation = [](BaseViewController& /*screen*/, DocumentLocation /*location*/,
                                  std::function<void(bool mayGo)> answer) { answer(true); };
  f.makeHome = [](DocumentLocation location, const QString& /*searchText*/) {
    return std::make_shared<HomePlaceholderController>(location);
  };
  f.makeHomeForRestoration = [] { return std::make_shared<HomePlaceholderController>(); };
  return f;
}

ScreenFactory& installed() {
  static ScreenFactory factory = standInFactory();
  return factory;
}

}  // namespace

ScreenFactory setScreenFactory(ScreenFactory factory) {
  ScreenFactory previous = std::move(installed());
  const ScreenFactory standIn = standInFactory();
  if (!factory.makeEditor) factory.makeEditor = standIn.makeEditor;
  if (!factory.makeEditorForRestoration) factory.makeEditorForRestoration = standIn.makeEditorForRestoration;
  if (!factory.onEditIdea) factory.onEditIdea = standIn.onEditIdea;
  if (!factory.askBeforeLeavingLocation) factory.askBeforeLeavingLocation = standIn.askBeforeLeavingLocation;
  if (!factory.makeHome) factory.makeHome = standIn.makeHome;
  if (!factory.makeHomeForRestoration) factory.makeHomeForRestoration = standIn.makeHomeForRestoration;
  installed() = std::move(factory);
  return previous;
}

const ScreenFactory& screenFactory() { return installed(); }

DocumentPlaceholderController::DocumentPlaceholderController(std::shared_ptr<IdeaDocument> doc, DocumentToken token)
    : mDocument(std::move(doc)), mToken(token) {}

DocumentPlaceholderController::~DocumentPlaceholderController() { release(); }

void DocumentPlaceholderController::release() {
  if (mDocument && mToken >= 1) PersistenceController::singleton().releaseDocument(mDocument, mToken, nullptr);
  mToken = 0;
}

void DocumentPlaceholderController::loadView() {
  setView(messageView());
  showDocument();
}

void DocumentPlaceholderController::showDocument() {
  platform::LabelView* label = messageLabel(*this);
  if (!label) return;
  const QString name = mDocument ? mDocument->documentWindowName() : QString();
  label->setStringValue(mDocument ? QStringLiteral("“%1” is open. The map editor is not part of this build.").arg(name)
                                  : QStringLiteral("No document."));
  if (auto* w = dynamic_cast<MyWindow*>(myWindow())) {
    w->setTitle(name.isEmpty() ? QStringLiteral("Orrery") : name);
    if (mDocument && mDocument->location() == DocumentLocationLocalFile) w->setDocURL(mDocument->representativeURL());
  }
}

void DocumentPlaceholderController::becameTopLevelController() { showDocument(); }

QVariantMap DocumentPlaceholderController::createState() {
  if (!mDocument) return {};
  return {{QString::fromLatin1(kDocIdentifierKey), mDocument->docIdentifier()}};
}

bool DocumentPlaceholderController::restoreFromState(const QVariantMap& state) {
  const QString identifier = state.value(QString::fromLatin1(kDocIdentifierKey)).toString();
  if (identifier.isEmpty()) return false;
  auto doc = PersistenceController::singleton().documentForIdentifier(identifier);
  if (!doc) return false;
  std::weak_ptr<ViewController> weakSelf = weak_from_this();
  PersistenceController::singleton().openDocument(doc, [weakSelf, doc](DocumentToken token) {
    auto self = std::dynamic_pointer_cast<DocumentPlaceholderController>(weakSelf.lock());
    if (!self) {
      if (token >= 1) PersistenceController::singleton().releaseDocument(doc, token, nullptr);
      return;
    }
    if (token < 1) return;
    self->release();
    self->mDocument = doc;
    self->mToken = token;
    self->showDocument();
    Globals::markPersistentAppStateDirty();
  });
  return true;
}

bool DocumentPlaceholderController::startClosingCanCloseNow() {
  release();
  return true;
}

void HomePlaceholderController::loadView() {
  setView(messageView());
  showLocation();
}

void HomePlaceholderController::showLocation() {
  if (platform::LabelView* label = messageLabel(*this))
    label->setStringValue(mLocation == DocumentLocationDropbox ? QStringLiteral("Dropbox documents")
                                                               : QStringLiteral("iCloud documents"));
}

QVariantMap HomePlaceholderController::createState() {
  return {{QString::fromLatin1(kLocationKey), QVariant::fromValue<qulonglong>(mLocation)}};
}

bool HomePlaceholderController::restoreFromState(const QVariantMap& state) {
  const qulonglong location = state.value(QString::fromLatin1(kLocationKey)).toULongLong();
  if (location != DocumentLocationICloud && location != DocumentLocationDropbox) return false;
  mLocation = location;
  showLocation();
  return true;
}

}  // namespace orrery
