#include "fake_remote.h"

#include "platform/core/dispatch.h"

#include <QFile>
#include <QSaveFile>

namespace testsupport {

using platform::RemoteAnswer;
using platform::RemoteListResult;
using platform::RemoteMetadata;
using platform::RemoteNetworkError;
using platform::RemoteRouteError;

namespace {

RemoteRouteError notFound(RemoteRouteError::Kind kind = RemoteRouteError::Kind::Path) {
  return {kind, RemoteRouteError::kNotFoundTag, QStringLiteral("not_found")};
}

RemoteRouteError conflict(RemoteRouteError::Kind kind = RemoteRouteError::Kind::Path) {
  return {kind, RemoteRouteError::kConflictTag, QStringLiteral("conflict")};
}

}  // namespace

QString FakeRemote::peerWrite(const QString& path, const QByteArray& content) {
  File& file = mFiles[path.toLower()];
  file = File{path, content, nextRev(), false};
  return file.rev;
}

void FakeRemote::peerDelete(const QString& path) {
  auto it = mFiles.find(path.toLower());
  if (it != mFiles.end()) it->second.deleted = true;
}

void FakeRemote::peerMove(const QString& from, const QString& to) {
  const File* source = file(from);
  if (!source) return;
  const QByteArray content = source->content;
  peerDelete(from);
  peerWrite(to, content);
}

QString FakeRemote::peerRestore(const QString& path) {
  auto it = mFiles.find(path.toLower());
  if (it == mFiles.end() || !it->second.deleted) return {};
  it->second.deleted = false;
  it->second.rev = nextRev();
  return it->second.rev;
}

const FakeRemote::File* FakeRemote::file(const QString& path) const {
  auto it = mFiles.find(path.toLower());
  return it == mFiles.end() || it->second.deleted ? nullptr : &it->second;
}

QByteArray FakeRemote::contentOf(const QString& path) const {
  const File* f = file(path);
  return f ? f->content : QByteArray();
}

QString FakeRemote::revOf(const QString& path) const {
  const File* f = file(path);
  return f ? f->rev : QString();
}

QStringList FakeRemote::livePaths() const {
  QStringList paths;
  for (const auto& [lower, f] : mFiles)
    if (!f.deleted) paths << lower;
  return paths;
}

void FakeRemote::failNext(Route route, Fault fault, int times) {
  for (int i = 0; i < times; ++i) mFaults[route].push_back(fault);
}

int FakeRemote::calls(Route route) const {
  auto it = mCalls.find(route);
  return it == mCalls.end() ? 0 : it->second;
}

template <class Result>
void FakeRemote::answer(Route route, std::function<RemoteAnswer<Result>()> compute,
                        platform::RemoteResponse<Result> response) {
  ++mCalls[route];
  std::optional<Fault> fault;
  if (auto& faults = mFaults[route]; !faults.empty()) {
    fault = faults.front();
    faults.erase(faults.begin());
  }
  const double delay = fault == Fault::Silence ? mTimeout : mLatency;
  auto deliver = [weak = weak_from_this(), route, fault, compute = std::move(compute), response = std::move(response)] {
    auto self = weak.lock();
    if (!self) return;
    if (auto before = std::move(self->mBefore[route])) {
      self->mBefore.erase(route);
      before();
    }
    RemoteAnswer<Result> answer;
    if (!fault) {
      answer = compute();
    } else {
      switch (*fault) {
        case Fault::NotFound:
          answer.routeError =
              notFound(route == Route::Delete ? RemoteRouteError::Kind::PathLookup : RemoteRouteError::Kind::Path);
          break;
        case Fault::Conflict:
          answer.routeError =
              conflict(route == Route::Delete ? RemoteRouteError::Kind::PathWrite : RemoteRouteError::Kind::Path);
          break;
        case Fault::Auth:
          answer.networkError = RemoteNetworkError{RemoteNetworkError::Kind::Auth, 401, "expired_access_token"};
          break;
        case Fault::Network:
          answer.networkError = RemoteNetworkError{RemoteNetworkError::Kind::NoConnection, 0, "offline"};
          break;
        case Fault::RateLimited:
          answer.networkError = RemoteNetworkError{RemoteNetworkError::Kind::RateLimited, 429, "too_many_requests"};
          break;
        case Fault::ServerError:
          answer.networkError = RemoteNetworkError{RemoteNetworkError::Kind::ServerError, 503, "unavailable"};
          break;
        case Fault::Silence:
          answer.networkError = RemoteNetworkError{RemoteNetworkError::Kind::TimedOut, 0, "timed out"};
          break;
      }
    }
    response(answer);
  };
  if (delay > 0)
    platform::mainQueue().afterSeconds(delay, std::move(deliver));
  else
    platform::mainQueue().async(std::move(deliver));
}

std::vector<RemoteMetadata> FakeRemote::snapshot(const QString& folder) const {
  const QString prefix = folder.toLower() + QLatin1Char('/');
  auto inFolder = [&](const QString& lower) {
    return lower.startsWith(prefix) && !lower.mid(prefix.size()).contains(QLatin1Char('/'));
  };
  std::vector<RemoteMetadata> entries;
  for (const auto& [lower, path] : mFolders)
    if (inFolder(lower)) entries.push_back({RemoteMetadata::Kind::Folder, lower, {}});
  for (const auto& [lower, f] : mFiles)
    if (inFolder(lower))
      entries.push_back({f.deleted ? RemoteMetadata::Kind::Deleted : RemoteMetadata::Kind::File, lower,
                         f.deleted ? QString() : f.rev});
  return entries;
}

RemoteAnswer<RemoteListResult> FakeRemote::page(std::size_t snapshotId, std::size_t offset) const {
  const auto& entries = mSnapshots.at(snapshotId);
  RemoteListResult result;
  const std::size_t end = std::min(entries.size(), offset + mPageSize);
  result.entries.assign(entries.begin() + std::ptrdiff_t(std::min(offset, entries.size())),
                        entries.begin() + std::ptrdiff_t(end));
  result.hasMore = end < entries.size();
  result.cursor = QStringLiteral("cursor-%1-%2").arg(snapshotId).arg(end);
  RemoteAnswer<RemoteListResult> answer;
  answer.result = std::move(result);
  return answer;
}

void FakeRemote::listFolder(const QString& path, platform::RemoteResponse<RemoteListResult> response) {
  answer<RemoteListResult>(
      Route::List,
      [this, path]() -> RemoteAnswer<RemoteListResult> {
        if (!path.isEmpty() && !mFolders.count(path.toLower())) return {std::nullopt, notFound(), std::nullopt};
        mSnapshots.push_back(snapshot(path));
        return page(mSnapshots.size() - 1, 0);
      },
      std::move(response));
}

void FakeRemote::listFolderContinue(const QString& cursor, platform::RemoteResponse<RemoteListResult> response) {
  answer<RemoteListResult>(
      Route::ListContinue,
      [this, cursor]() -> RemoteAnswer<RemoteListResult> {
        const QStringList parts = cursor.split(QLatin1Char('-'));
        bool okId = false, okOffset = false;
        const std::size_t id = parts.size() == 3 ? parts[1].toULongLong(&okId) : 0;
        const std::size_t offset = parts.size() == 3 ? parts[2].toULongLong(&okOffset) : 0;
        if (!okId || !okOffset || id >= mSnapshots.size())
          return {std::nullopt, RemoteRouteError{RemoteRouteError::Kind::Other, 0, "reset"}, std::nullopt};
        return page(id, offset);
      },
      std::move(response));
}

void FakeRemote::uploadUrl(const QString& path, const platform::RemoteWriteMode& mode, bool /*autorename*/,
                           const QDateTime& /*clientModified*/, bool /*mute*/, const QString& inputPath,
                           platform::RemoteResponse<RemoteMetadata> response) {
  answer<RemoteMetadata>(
      Route::Upload,
      [this, path, mode, inputPath]() -> RemoteAnswer<RemoteMetadata> {
        const File* existing = file(path);
        const bool refused = mode.isAdd() ? existing != nullptr : (!existing || existing->rev != mode.updateRev);
        if (refused) return {std::nullopt, conflict(), std::nullopt};
        QFile input(inputPath);
        if (!input.open(QIODevice::ReadOnly))
          return {std::nullopt, std::nullopt,
                  RemoteNetworkError{RemoteNetworkError::Kind::NoConnection, 0, "no input"}};
        const QString rev = peerWrite(path, input.readAll());
        return {RemoteMetadata{RemoteMetadata::Kind::File, path.toLower(), rev}, std::nullopt, std::nullopt};
      },
      std::move(response));
}

void FakeRemote::downloadUrl(const QString& path, bool /*overwrite*/, const QString& destination,
                             platform::RemoteResponse<RemoteMetadata> response) {
  answer<RemoteMetadata>(
      Route::Download,
      [this, path, destination]() -> RemoteAnswer<RemoteMetadata> {
        const File* f = file(path);
        if (!f) return {std::nullopt, notFound(), std::nullopt};
        QSaveFile out(destination);
        if (!out.open(QIODevice::WriteOnly) || out.write(f->content) != f->content.size() || !out.commit())
          return {std::nullopt, std::nullopt,
                  RemoteNetworkError{RemoteNetworkError::Kind::NoConnection, 0, "cannot write"}};
        return {RemoteMetadata{RemoteMetadata::Kind::File, path.toLower(), f->rev}, std::nullopt, std::nullopt};
      },
      std::move(response));
}

void FakeRemote::getMetadata(const QString& path, platform::RemoteResponse<RemoteMetadata> response) {
  answer<RemoteMetadata>(
      Route::Metadata,
      [this, path]() -> RemoteAnswer<RemoteMetadata> {
        if (mFolders.count(path.toLower()))
          return {RemoteMetadata{RemoteMetadata::Kind::Folder, path.toLower(), {}}, std::nullopt, std::nullopt};
        const File* f = file(path);
        if (!f) return {std::nullopt, notFound(), std::nullopt};
        return {RemoteMetadata{RemoteMetadata::Kind::File, path.toLower(), f->rev}, std::nullopt, std::nullopt};
      },
      std::move(response));
}

void FakeRemote::delete_(const QString& path, const QString& parentRev,
                         platform::RemoteResponse<RemoteMetadata> response) {
  mDeleteParentRevs.push_back(parentRev);
  answer<RemoteMetadata>(
      Route::Delete,
      [this, path, parentRev]() -> RemoteAnswer<RemoteMetadata> {
        const File* f = file(path);
        if (!f) return {std::nullopt, notFound(RemoteRouteError::Kind::PathLookup), std::nullopt};
        if (!parentRev.isEmpty() && f->rev != parentRev)
          return {std::nullopt, conflict(RemoteRouteError::Kind::PathWrite), std::nullopt};
        const RemoteMetadata gone{RemoteMetadata::Kind::Deleted, path.toLower(), {}};
        peerDelete(path);
        return {gone, std::nullopt, std::nullopt};
      },
      std::move(response));
}

}  // namespace testsupport
