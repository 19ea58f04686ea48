#pragma once
// An in-memory app folder behind the remote routes, for tests and benchmarks: files with hex
// revisions, listings in pages with cursors, answers on the main queue after a latency on
// whatever clock the main queue runs (a virtual one in tests), faults scripted per route, and
// a peer that changes the folder between our requests.

#include "platform/cloud/remote_routes.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace testsupport {

class FakeRemote final : public platform::RemoteRoutes, public std::enable_shared_from_this<FakeRemote> {
 public:
  enum class Route { List, ListContinue, Upload, Download, Metadata, Delete };
  enum class Fault {
    NotFound,     // the path's lookup fails
    Conflict,     // the write is refused (revision changed)
    Auth,         // the token is refused
    Network,      // no connection
    RateLimited,  // 429
    ServerError,  // 5xx
    Silence,      // no answer until the request times out
  };

  struct File {
    QString path;  // as first written, not lower-cased
    QByteArray content;
    QString rev;
    bool deleted = false;
  };

  static std::shared_ptr<FakeRemote> create() { return std::make_shared<FakeRemote>(); }
  // A library client over this folder, for DropboxClientsManager::setAuthorizedClient.
  std::shared_ptr<platform::DropboxClient> client() {
    return std::make_shared<platform::DropboxClient>(shared_from_this());
  }

  // ---- the folder, outside any request
  void setPageSize(std::size_t entries) { mPageSize = entries ? entries : 1; }
  void setLatency(double seconds) { mLatency = seconds; }
  void setTimeout(double seconds) { mTimeout = seconds; }
  void addFolder(const QString& path) { mFolders.insert({path.toLower(), path}); }
  // The peer: changes made by another device, at once.
  QString peerWrite(const QString& path, const QByteArray& content);
  void peerDelete(const QString& path);
  void peerMove(const QString& from, const QString& to);
  QString peerRestore(const QString& path);
  const File* file(const QString& path) const;
  QByteArray contentOf(const QString& path) const;
  QString revOf(const QString& path) const;
  // The lower-cased paths of the files not deleted, in order.
  QStringList livePaths() const;

  // ---- scripting
  void failNext(Route route, Fault fault, int times = 1);
  // Runs just before the next request of `route` is answered (the peer acting in between).
  void beforeAnswer(Route route, std::function<void()> action) { mBefore[route] = std::move(action); }
  int calls(Route route) const;
  // The parent revisions sent with deletes, in order.
  const std::vector<QString>& deleteParentRevs() const { return mDeleteParentRevs; }

  // ---- RemoteRoutes
  void listFolder(const QString& path, platform::RemoteResponse<platform::RemoteListResult> response) override;
  void listFolderContinue(const QString& cursor,
                          platform::RemoteResponse<platform::RemoteListResult> response) override;
  void uploadUrl(const QString& path, const platform::RemoteWriteMode& mode, bool autorename,
                 const QDateTime& clientModified, bool mute, const QString& inputPath,
                 platform::RemoteResponse<platform::RemoteMetadata> response) override;
  void downloadUrl(const QString& path, bool overwrite, const QString& destination,
                   platform::RemoteResponse<platform::RemoteMetadata> response) override;
  void getMetadata(const QString& path, platform::RemoteResponse<platform::RemoteMetadata> response) override;
  void delete_(const QString& path, const QString& parentRev,
               platform::RemoteResponse<platform::RemoteMetadata> response) override;

 private:
  template <class Result>
  void answer(Route route, std::function<platform::RemoteAnswer<Result>()> compute,
              platform::RemoteResponse<Result> response);
  QString nextRev() { return QString::asprintf("%09llx", static_cast<unsigned long long>(++mRevCounter)); }
  std::vector<platform::RemoteMetadata> snapshot(const QString& folder) const;
  platform::RemoteAnswer<platform::RemoteListResult> page(std::size_t snapshotId, std::size_t offset) const;

  std::map<QString, File> mFiles;  // by lower-cased path
  std::map<QString, QString> mFolders;
  std::map<Route, std::vector<Fault>> mFaults;
  std::map<Route, std::function<void()>> mBefore;
  std::map<Route, int> mCalls;
  std::vector<std::vector<platform::RemoteMetadata>> mSnapshots;
  std::vector<QString> mDeleteParentRevs;
  std::size_t mPageSize = 500;
  double mLatency = 0;
  double mTimeout = 30;
  unsigned long long mRevCounter = 0x1000;
};

}  // namespace testsupport
