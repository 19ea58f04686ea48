#include "model/persistence_state.h"

#include "foundation/logging.h"

namespace orrery {

void PersistenceState::closeDocument(const std::shared_ptr<IdeaDocument>&, DocumentToken, BoolCompletion) {
  softAssertionFailed(__LINE__, "-[PersistenceState closeDocument:withToken:onCompletion:]");
}

void PersistenceState::createDocument(const std::shared_ptr<IdeaDocument>&, TokenCompletion) {
  softAssertionFailed(__LINE__, "-[PersistenceState createDocument:onCompletion:]");
}

void PersistenceState::updateDocument(const std::shared_ptr<IdeaDocument>&, DocumentToken, BoolCompletion) {
  softAssertionFailed(__LINE__, "-[PersistenceState updateDocument:withToken:onCompletion:]");
}

void PersistenceState::openDocument(const std::shared_ptr<IdeaDocument>&, TokenCompletion) {
  softAssertionFailed(__LINE__, "-[PersistenceState openDocument:onCompletion:]");
}

void PersistenceState::deleteDocument(const QString&, BoolCompletion) {
  softAssertionFailed(__LINE__, "-[PersistenceState deleteDocument:onCompletion:]");
}

void PersistenceState::fetchDocument(const QString&, DocumentCompletion) {
  softAssertionFailed(__LINE__, "-[PersistenceState fetchDocument:onCompletion:]");
}

void PersistenceState::saveProxyList(const ProxyList&) {
  softAssertionFailed(__LINE__, "-[PersistenceState saveProxyList:]");
}

QString PersistenceState::description() const {
  return QStringLiteral("PersistenceState(0x%1)").arg(reinterpret_cast<quintptr>(this), 0, 16);
}

}  // namespace orrery
