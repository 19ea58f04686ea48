#pragma once
// Proxies and proxy lists as the model's list tests build and read them.

#include <QString>
#include <QStringList>

#include <memory>

#include "model/idea_proxy.h"

namespace testsupport {

inline orrery::IdeaProxyPtr proxyFor(const QString& docIdentifier, const QString& text = "t") {
  auto proxy = std::make_shared<orrery::IdeaProxy>();
  proxy->setDocIdentifier(docIdentifier);
  proxy->setText(text);
  return proxy;
}

// The documents' identifiers in the list's order.
inline QStringList identifiersOf(const orrery::ProxyList& list) {
  QStringList identifiers;
  for (const auto& proxy : list) identifiers << proxy->docIdentifier();
  return identifiers;
}

}  // namespace testsupport
