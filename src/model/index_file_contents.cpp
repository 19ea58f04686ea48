#include "model/index_file_contents.h"

#include "foundation/globals.h"
#include "foundation/logging.h"

namespace orrery {

IndexFileContents::IndexFileContents(QString listKey, ProxyList proxies)
    : mListKey(std::move(listKey)), mAppInstance(Globals::appInstance()), mProxies(std::move(proxies)) {}

void IndexFileContents::encodeWithCoder(KeyedEncoder& coder) const {
  coder.encodeInt(kFileFormatVersion, kVersionKey);
  coder.encodeString(mAppInstance, kAppInstanceKey);
  coder.encodeObjects(mProxies, mListKey);
}

bool IndexFileContents::decode(KeyedDecoder& coder, const QString& listKey, DocumentLocation location,
                               ProxyList& proxies, QString* appInstance, DocumentError* error) {
  const int version = coder.decodeIntForKey(kVersionKey);
  if (version != kFileFormatVersion) {
    if (error) {
      *error = version < kFileFormatVersion
                   ? DocumentError{QString::fromLatin1(kDocumentErrorDomain), kDocumentErrorInvalidFormat,
                                   QStringLiteral("Invalid index format")}
                   : DocumentError{QString::fromLatin1(kDocumentErrorDomain), kDocumentErrorNewerVersion,
                                   QStringLiteral("Newer Orrery version is needed")};
    }
    return false;
  }
  if (appInstance) *appInstance = coder.decodeStringForKey(kAppInstanceKey);
  proxies.clear();
  for (auto& proxy : coder.decodeObjectsOfClassForKey<IdeaProxy>(listKey)) {
    if (proxy->docIdentifier().isEmpty()) {
      softAssertionFailed(__LINE__, "-[IndexFileContents decode]");
      continue;
    }
    proxy->changeLocation(location);
    proxies.push_back(std::move(proxy));
  }
  return true;
}

}  // namespace orrery
