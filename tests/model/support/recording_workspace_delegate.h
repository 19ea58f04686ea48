#pragma once
// Records what a workspace tells its delegate, one line per report.

#include "model/idea_proxy.h"
#include "model/workspace_interface.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <utility>
#include <vector>

namespace orrery::testing {

class RecordingWorkspaceDelegate final : public WorkspaceDelegate {
 public:
  void batchUpdateDoneInWorkspace(WorkspaceInterface*) override { events << "batchDone"; }
  void statusChange(WorkspaceStatus status, WorkspaceInterface*) override {
    events << QString("status %1").arg(status);
  }
  void documentAppended(const std::shared_ptr<IdeaProxy>& proxy, WorkspaceInterface*) override {
    events << "appended " + proxy->docIdentifier();
    lastProxy = proxy;
  }
  void documentAdded(const std::shared_ptr<IdeaProxy>& proxy, std::size_t index, WorkspaceInterface*) override {
    events << QString("added %1 at %2").arg(proxy->docIdentifier()).arg(index);
    lastProxy = proxy;
  }
  void documentUpdated(const std::shared_ptr<IdeaProxy>& proxy, WorkspaceInterface*) override {
    events << "updated " + proxy->docIdentifier();
    lastProxy = proxy;
  }
  void documentDeleted(const QString& docIdentifier, WorkspaceInterface*) override {
    events << "deleted " + docIdentifier;
  }
  void searchIsReady(const ProxyList& results, std::int64_t requestIdentifier, WorkspaceInterface*) override {
    events << QString("search %1").arg(requestIdentifier);
    searches.emplace_back(requestIdentifier, results);
  }

  // The first report of that request, or nothing.
  const ProxyList* reportOf(std::int64_t requestIdentifier) const {
    for (const auto& [identifier, results] : searches)
      if (identifier == requestIdentifier) return &results;
    return nullptr;
  }
  bool reported(std::int64_t requestIdentifier) const { return reportOf(requestIdentifier) != nullptr; }
  // The results of a reported search, as "identifier:itemCount" in order.
  QStringList resultsOf(std::int64_t requestIdentifier) const {
    QStringList out;
    if (const ProxyList* results = reportOf(requestIdentifier))
      for (const auto& proxy : *results) out << QString("%1:%2").arg(proxy->docIdentifier()).arg(proxy->itemCount());
    return out;
  }

  QStringList events;
  IdeaProxyPtr lastProxy;
  // Every search report in order: request identifier and results.
  std::vector<std::pair<std::int64_t, ProxyList>> searches;
};

}  // namespace orrery::testing
