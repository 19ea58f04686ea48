#pragma once
// What both index files of a cloud location hold: the format version, the mark of the
// application instance that wrote the file, and the document list. The keyed index names the
// list "proxyList", the JSON index "proxies". The reading rules (versions, stored names,
// re-homing into the location) live here once for both.

#include "model/document_location.h"
#include "model/idea_proxy.h"
#include "model/keyed_coding.h"

#include <QString>

namespace orrery {

class IndexFileContents final : public KeyedCodable {
 public:
  static constexpr int kFileFormatVersion = 1;
  static constexpr char kVersionKey[] = "fileFormatVersion";
  static constexpr char kAppInstanceKey[] = "appInstance";

  // Contents to write, marked with this process's application instance.
  IndexFileContents(QString listKey, ProxyList proxies);

  // Reads the top object of an index. A version other than 1 loads nothing and answers false
  // (error "document" 100 below 1, 150 above). Entries without an acceptable file name are
  // skipped with a soft assertion; the others are re-homed into `location`.
  static bool decode(KeyedDecoder& coder, const QString& listKey, DocumentLocation location, ProxyList& proxies,
                     QString* appInstance, DocumentError* error);

  QString className() const override { return QStringLiteral("IndexFileContents"); }
  void encodeWithCoder(KeyedEncoder& coder) const override;

 private:
  QString mListKey;
  QString mAppInstance;
  ProxyList mProxies;
};

}  // namespace orrery
