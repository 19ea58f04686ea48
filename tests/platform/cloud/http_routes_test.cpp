#include "platform/cloud/http_routes.h"

#include "fake_remote_server.h"
#include "https_test_server.h"
#include "route_wait.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace platform;
using testsupport::FakeRemote;
using testsupport::FakeRemoteServer;
using Route = FakeRemote::Route;
using Fault = FakeRemote::Fault;

namespace {

class HttpRoutesTest : public ::testing::Test {
 protected:
  std::shared_ptr<HttpRoutes> routesWith(DropboxEndpoints endpoints, QString refreshToken, QString accessToken) {
    return HttpRoutes::create(std::move(endpoints), {"testappkey12345", std::move(refreshToken), std::move(accessToken)});
  }
  template <class Result>
  RemoteAnswer<Result> wait(std::optional<RemoteAnswer<Result>>& slot) {
    EXPECT_TRUE(testsupport::waitFor(main, [&] { return slot.has_value(); }));
    return slot.value_or(RemoteAnswer<Result>{});
  }
  RemoteAnswer<RemoteMetadata> metadata(const QString& path) {
    std::optional<RemoteAnswer<RemoteMetadata>> got;
    routes->getMetadata(path, [&](const auto& a) { got = a; });
    return wait(got);
  }
  QString writeLocal(const QByteArray& content) {
    const QString path = dir.filePath(QString("local%1").arg(++mFiles));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(content);
    return path;
  }

  orrery::testing::VirtualMainQueue main;
  std::shared_ptr<FakeRemote> remote = FakeRemote::create();
  FakeRemoteServer server{remote};
  std::shared_ptr<HttpRoutes> routes = routesWith(server.endpoints(), server.refreshToken(), server.accessToken());
  QTemporaryDir dir;

 private:
  int mFiles = 0;
};

}  // namespace

TEST_F(HttpRoutesTest, ListingFollowsCursorsAcrossPagesAndReadsEveryKindOfEntry) {
  remote->setPageSize(2);
  QStringList expected;
  for (const char* name : {"/a.orrx", "/b.orrx", "/c.orrx", "/d.orrx", "/orrery.index"})
    expected << QString(name) + "@" + remote->peerWrite(name, "x");
  remote->addFolder("/sub");
  remote->peerWrite("/gone.orrx", "x");
  remote->peerDelete("/gone.orrx");

  QStringList seen;
  int pages = 0;
  std::optional<RemoteAnswer<RemoteListResult>> got;
  routes->listFolder("", [&](const auto& a) { got = a; });
  for (;;) {
    const auto answer = wait(got);
    ASSERT_TRUE(answer.result);
    ++pages;
    for (const auto& e : answer.result->entries)
      if (e.kind == RemoteMetadata::Kind::File) seen << e.pathLower + "@" + e.rev;
    if (!answer.result->hasMore) break;
    got.reset();
    routes->listFolderContinue(answer.result->cursor, [&](const auto& a) { got = a; });
  }
  EXPECT_EQ(pages, 4);
  seen.sort();
  expected.sort();
  EXPECT_EQ(seen, expected);

  got.reset();
  routes->listFolderContinue("cursor-bogus", [&](const auto& a) { got = a; });
  const auto bad = wait(got);
  ASSERT_TRUE(bad.routeError) << "an unknown cursor is the server's word, not a network failure";
}

TEST_F(HttpRoutesTest, UploadAndDownloadRoundTripNonAsciiNamesAndAnswerRouteErrors) {
  const QString name = QString::fromUtf8("/Ünïcødé 文 😀.orrx");
  const QByteArray content = "content of the document";
  std::optional<RemoteAnswer<RemoteMetadata>> up;
  routes->uploadUrl(name, RemoteWriteMode::add(), false, QDateTime::currentDateTimeUtc(), true, writeLocal(content),
                    [&](const auto& a) { up = a; });
  const auto uploaded = wait(up);
  ASSERT_TRUE(uploaded.result);
  EXPECT_EQ(server.lastUploadPath, name);
  EXPECT_EQ(remote->contentOf(name), content);
  const auto requests = server.https().requests();
  const std::string arg = requests.back().header("Dropbox-API-Arg").value_or("");
  EXPECT_TRUE(std::all_of(arg.begin(), arg.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) << arg;
  EXPECT_NE(arg.find("\\u00dc"), std::string::npos) << arg;

  const QString target = dir.filePath("down.orrx");
  std::optional<RemoteAnswer<RemoteMetadata>> down;
  routes->downloadUrl(name, true, target, [&](const auto& a) { down = a; });
  const auto downloaded = wait(down);
  ASSERT_TRUE(downloaded.result);
  EXPECT_EQ(downloaded.result->rev, uploaded.result->rev);
  QFile in(target);
  ASSERT_TRUE(in.open(QIODevice::ReadOnly));
  EXPECT_EQ(in.readAll(), content);

  // Adding over the file and updating a stale rev: a write conflict at the path.
  up.reset();
  routes->uploadUrl(name, RemoteWriteMode::update("0000000001"), false, {}, true, writeLocal("x"),
                    [&](const auto& a) { up = a; });
  auto conflict = wait(up);
  ASSERT_TRUE(conflict.routeError);
  EXPECT_TRUE(conflict.routeError->isPath());
  EXPECT_EQ(conflict.routeError->tag, RemoteRouteError::kConflictTag);

  // A missing file: not found, and the destination keeps what it had.
  down.reset();
  routes->downloadUrl("/none.orrx", true, target, [&](const auto& a) { down = a; });
  const auto missing = wait(down);
  ASSERT_TRUE(missing.routeError);
  EXPECT_EQ(missing.routeError->tag, RemoteRouteError::kNotFoundTag);
  in.seek(0);
  EXPECT_EQ(in.readAll(), content);
  EXPECT_EQ(QDir(dir.path()).entryList({".download-*"}, QDir::Hidden | QDir::Files).size(), 0);

  // Deletes: a stale parent rev is refused, a missing path is not found, the right rev deletes.
  std::optional<RemoteAnswer<RemoteMetadata>> del;
  routes->delete_(name, "0000000001", [&](const auto& a) { del = a; });
  auto refused = wait(del);
  ASSERT_TRUE(refused.routeError);
  EXPECT_TRUE(refused.routeError->isPathWrite());
  del.reset();
  routes->delete_("/none.orrx", {}, [&](const auto& a) { del = a; });
  auto none = wait(del);
  ASSERT_TRUE(none.routeError);
  EXPECT_TRUE(none.routeError->isPathLookup());
  EXPECT_EQ(none.routeError->tag, RemoteRouteError::kNotFoundTag);
  del.reset();
  routes->delete_(name, uploaded.result->rev, [&](const auto& a) { del = a; });
  EXPECT_TRUE(wait(del).result);
  EXPECT_FALSE(remote->file(name));
}

TEST_F(HttpRoutesTest, ALargeDownloadArrivesWholeAndACutOneLeavesTheOldFileAndNoTemporary) {
  testsupport::TestCertificateAuthority authority("downloads");
  testsupport::HttpsTestServer scripted(authority);
  DropboxEndpoints endpoints;
  endpoints.apiBase = endpoints.contentBase = QString::fromStdString(scripted.origin());
  const auto der = authority.rootDER();
  endpoints.anchorsDER = {QByteArray(reinterpret_cast<const char*>(der.data()), qsizetype(der.size()))};
  routes = routesWith(endpoints, {}, "access");

  // Larger than what the receiver may hold back for the disk, and no multiple of any piece.
  std::string body(12 * 1024 * 1024 + 4321, '\0');
  std::uint32_t seed = 3;
  for (char& c : body) c = char((seed = seed * 1664525u + 1013904223u) >> 24);
  auto whole = testsupport::HttpsTestResponse::ok(body, "application/octet-stream");
  whole.headers.push_back({"Dropbox-API-Result", R"({".tag":"file","path_lower":"/big.orrx","rev":"0123456789"})"});
  auto cut = whole;
  cut.cutAfter = body.size() / 2;
  scripted.script("/2/files/download", {cut, whole});

  const QString target = dir.filePath("big.orrx");
  {
    QFile old(target);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old");
  }
  auto contentOfTarget = [&] {
    QFile in(target);
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
  };
  std::optional<RemoteAnswer<RemoteMetadata>> down;
  routes->downloadUrl("/big.orrx", true, target, [&](const auto& a) { down = a; });
  const auto interrupted = wait(down);
  ASSERT_TRUE(interrupted.networkError);
  EXPECT_EQ(contentOfTarget(), "old");
  EXPECT_EQ(QDir(dir.path()).entryList({".download-*"}, QDir::Hidden | QDir::Files).size(), 0);

  down.reset();
  routes->downloadUrl("/big.orrx", true, target, [&](const auto& a) { down = a; });
  const auto downloaded = wait(down);
  ASSERT_TRUE(downloaded.result);
  EXPECT_EQ(downloaded.result->rev, "0123456789");
  EXPECT_TRUE(contentOfTarget() == QByteArray::fromStdString(body));
  EXPECT_EQ(QDir(dir.path()).entryList({".download-*"}, QDir::Hidden | QDir::Files).size(), 0);
}

TEST_F(HttpRoutesTest, ThrottlingAndServerFailuresAreTriedThreeTimesThenAreNetworkErrors) {
  remote->peerWrite("/a.orrx", "x");
  remote->failNext(Route::Metadata, Fault::RateLimited, 2);
  EXPECT_TRUE(metadata("/a.orrx").result) << "the third try succeeds";
  EXPECT_EQ(remote->calls(Route::Metadata), 3);

  remote->failNext(Route::Metadata, Fault::ServerError, 3);
  auto failed = metadata("/a.orrx");
  ASSERT_TRUE(failed.networkError);
  EXPECT_EQ(failed.networkError->kind, RemoteNetworkError::Kind::ServerError);
  EXPECT_EQ(failed.networkError->statusCode, 503);
  EXPECT_EQ(remote->calls(Route::Metadata), 6);

  // A long Retry-After is held to 60 s.
  server.setRetryAfter("3600");
  remote->failNext(Route::Metadata, Fault::RateLimited, 1);
  std::optional<RemoteAnswer<RemoteMetadata>> got;
  routes->getMetadata("/a.orrx", [&](const auto& a) { got = a; });
  ASSERT_TRUE(testsupport::waitFor(main, [&] { return remote->calls(Route::Metadata) == 7; }));
  ASSERT_TRUE(main.loop->runUntil([&] { return main.loop->pendingTimers() > 0; })) << "the retry is scheduled";
  main.advance(59);
  EXPECT_EQ(remote->calls(Route::Metadata), 7) << "still waiting";
  main.advance(2);
  EXPECT_TRUE(wait(got).result);
  EXPECT_EQ(remote->calls(Route::Metadata), 8);
}

TEST_F(HttpRoutesTest, DroppedConnectionsAndUntrustedServersAreNetworkErrors) {
  remote->failNext(Route::List, Fault::Network);
  std::optional<RemoteAnswer<RemoteListResult>> got;
  routes->listFolder("", [&](const auto& a) { got = a; });
  auto dropped = wait(got);
  ASSERT_TRUE(dropped.networkError);
  EXPECT_EQ(dropped.networkError->kind, RemoteNetworkError::Kind::NoConnection);
  EXPECT_EQ(remote->calls(Route::List), 1) << "a drop is not retried";

  // A server whose certificate another authority issued is refused before any request.
  testsupport::TestCertificateAuthority stranger("Someone else");
  DropboxEndpoints wrong = server.endpoints();
  const auto der = stranger.rootDER();
  wrong.anchorsDER = {QByteArray(reinterpret_cast<const char*>(der.data()), qsizetype(der.size()))};
  routes = routesWith(wrong, server.refreshToken(), server.accessToken());
  const auto before = server.https().requestCount();
  auto refused = metadata("/a.orrx");
  ASSERT_TRUE(refused.networkError);
  EXPECT_EQ(refused.networkError->kind, RemoteNetworkError::Kind::NoConnection);
  EXPECT_EQ(server.https().requestCount(), before);
}

TEST_F(HttpRoutesTest, AnExpiredTokenIsRefreshedOnceAndARefusedRefreshIsAnAuthError) {
  remote->peerWrite("/a.orrx", "x");
  server.expireAccessToken();
  EXPECT_TRUE(metadata("/a.orrx").result);
  EXPECT_EQ(server.refreshes(), 1);
  EXPECT_EQ(routes->credentials().accessToken, server.accessToken());
  EXPECT_TRUE(metadata("/a.orrx").result);
  EXPECT_EQ(server.refreshes(), 1) << "the new token is kept";

  routes = routesWith(server.endpoints(), "revoked", "stale");
  auto refused = metadata("/a.orrx");
  ASSERT_TRUE(refused.networkError);
  EXPECT_TRUE(refused.networkError->isAuthError());
  EXPECT_EQ(server.refreshes(), 1);
}

TEST_F(HttpRoutesTest, ARequestAnswersOnceEvenWhenItsRoutesAreGone) {
  remote->peerWrite("/a.orrx", "x");
  int answers = 0;
  routes->getMetadata("/a.orrx", [&](const auto&) { ++answers; });
  routes.reset();
  EXPECT_TRUE(testsupport::waitFor(main, [&] { return answers > 0; }));
  main.loop->runUntil([] { return false; }, platform::Millis(50));
  EXPECT_EQ(answers, 1);
}
