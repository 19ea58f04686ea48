#include "shell/document_screen.h"

#include "foundation/globals.h"
#include "foundation/views/colored_view.h"
#include "model/idea_document.h"
#include "model/persistence_controller.h"
#include "platform/ui/label_view.h"
#include "shell/my_window.h"

namespace orrery {
namespace {

constexpr char kDocIdentifierKey[] = "docIdentifier";

DocumentScreenFactory standInFactory() {
  DocumentScreenFactory f;
  f.makeEditor = [](const std::shared_ptr<IdeaDocument>& doc, DocumentToken token, const QString&) {
    return std::make_shared<DocumentPlaceholderController>(doc, token);
  };
  f.makeEditorForRestoration = [] { return std::make_shared<DocumentPlaceholderController>(); };
  f.onEditIdea = [](BaseViewController& editor, const QString& ideaIdentifier) {
    if (auto* p = dynamic_cast<DocumentPlaceholderController*>(&editor)) p->noteEditRequest(ideaIdentifier);
  };
  return f;
}

DocumentScreenFactory& installed() {
  static DocumentScreenFactory factory = standInFactory();
  return factory;
}

}  // namespace

DocumentScreenFactory setDocumentScreenFactory(DocumentScreenFactory factory) {
  DocumentScreenFactory previous = std::move(installed());
  installed() = factory.makeEditor ? std::move(factory) : standInFactory();
  return previous;
}

const DocumentScreenFactory& documentScreenFactory() { return installed(); }

DocumentPlaceholderController::DocumentPlaceholderController(std::shared_ptr<IdeaDocument> doc, DocumentToken token)
    : mDocument(std::move(doc)), mToken(token) {}

DocumentPlaceholderController::~DocumentPlaceholderController() { release(); }

void DocumentPlaceholderController::release() {
  if (mDocument && mToken >= 1) PersistenceController::singleton().releaseDocument(mDocument, mToken, nullptr);
  mToken = 0;
}

void DocumentPlaceholderController::loadView() {
  auto view = std::make_shared<ColoredView>(QBrush(Globals::colorWhite()));
  auto label = std::make_shared<platform::LabelView>();
  label->setAlignment(platform::TextAlignment::Center);
  view->addHostedView(label, [](platform::View& v, const QRectF& host) {
    v.setFrame(QRectF(20, host.height() / 2 - 30, std::max(0.0, host.width() - 40), 60));
  });
  setView(view);
  showDocument();
}

void DocumentPlaceholderController::showDocument() {
  if (!isViewLoaded()) return;
  auto* host = dynamic_cast<BaseView*>(view().get());
  if (!host || host->hostedParts().empty()) return;
  auto* label = dynamic_cast<platform::LabelView*>(host->hostedParts().front().view.get());
  if (!label) return;
  const QString name = mDocument ? mDocument->documentWindowName() : QString();
  label->setStringValue(mDocument ? QStringLiteral("“%1” is open. The map editor is not part of this build.").arg(name)
                           : QStringLiteral("No document."));
  if (auto* w = dynamic_cast<MyWindow*>(myWindow())) {
    w->setTitle(name.isEmpty() ? QStringLiteral("Orrery") : name);
    if (mDocument && mDocument->location() == DocumentLocationLocalFile) w->setDocURL(mDocument->representativeURL());
  }
}

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

}  // namespace orrery
