#include "cloud/remote_folder_client.h"

#include "fake_remote.h"
#include "model/support/virtual_main_queue.h"
#include "platform/core/notification_center.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace orrery;
using testsupport::FakeRemote;
using Route = FakeRemote::Route;
using Fault = FakeRemote::Fault;

namespace {

// A remote folder installed as the authorised client, the virtual main queue, and every
// notification of the client recorded.
class RemoteClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    remote->setLatency(0.2);
    mPrevious = platform::DropboxClientsManager::setAuthorizedClient(remote->client());
    for (const char* name :
         {DropboxGotSomeDataNotification, DropboxNoConnectionNotification, DropboxInvalidAccessTokenNotification})
      observers.observe(name, nullptr,
                        [this](const platform::Notification& n) { posted << QString::fromStdString(n.name); });
    client = RemoteFolderClient::create();
  }
  void TearDown() override { platform::DropboxClientsManager::setAuthorizedClient(mPrevious); }

  void settle() { main.advance(60); }

  orrery::testing::VirtualMainQueue main;
  std::shared_ptr<FakeRemote> remote = FakeRemote::create();
  std::shared_ptr<RemoteFolderClient> client;
  platform::ObserverScope observers;
  QStringList posted;
  QTemporaryDir dir;

 private:
  std::shared_ptr<platform::DropboxClient> mPrevious;
};

QStringList pathsOf(const ListFolderResponse& response) {
  QStringList out;
  if (response.entries())
    for (const auto& entry : *response.entries()) out << entry->path() + "@" + entry->rev();
  return out;
}

}  // namespace

TEST_F(RemoteClientTest, ListingOfThreePagesAnswersOnceWithEveryFileInOrder) {
  remote->setPageSize(2);
  const QString a = remote->peerWrite("/A.orrx", "a");
  const QString b = remote->peerWrite("/b.orrx", "b");
  const QString c = remote->peerWrite("/c.orrx", "c");
  remote->peerWrite("/d.orrx", "d");
  remote->peerDelete("/d.orrx");
  remote->addFolder("/sub");
  std::vector<ListFolderResponse> answers;
  client->listFolderContents("", [&](const ListFolderResponse& r) { answers.push_back(r); });
  settle();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].result(), DropboxResultSuccess);
  EXPECT_EQ(pathsOf(answers[0]), QStringList({"/a.orrx@" + a, "/b.orrx@" + b, "/c.orrx@" + c}))
      << "lower-cased paths; folders and deleted entries left out";
  EXPECT_EQ(remote->calls(Route::ListContinue), 2);
  EXPECT_EQ(posted, QStringList({DropboxGotSomeDataNotification}));
}

TEST_F(RemoteClientTest, FailedListingPagesAnswerTheirCodeAndTellTheEngine) {
  std::vector<DropboxResult> results;
  auto record = [&](const ListFolderResponse& r) {
    results.push_back(r.result());
    EXPECT_FALSE(r.entries());
  };
  remote->failNext(Route::List, Fault::NotFound);
  client->listFolderContents("", record);
  settle();
  EXPECT_EQ(results, std::vector<DropboxResult>({DropboxResultNotFound}));
  EXPECT_TRUE(posted.isEmpty()) << "a missing folder is no connection problem";

  // An expired token on the first page is told, so the engine stops listing.
  remote->failNext(Route::List, Fault::Auth);
  client->listFolderContents("", record);
  settle();
  EXPECT_EQ(posted, QStringList({DropboxInvalidAccessTokenNotification}));

  remote->setPageSize(1);
  remote->peerWrite("/a.orrx", "a");
  remote->peerWrite("/b.orrx", "b");
  for (Fault fault : {Fault::Network, Fault::RateLimited, Fault::ServerError, Fault::Silence}) {
    posted.clear();
    remote->failNext(Route::ListContinue, fault);
    client->listFolderContents("", record);
    settle();
    EXPECT_EQ(results.back(), DropboxResultFailed);
    EXPECT_EQ(posted, QStringList({DropboxNoConnectionNotification})) << int(fault);
  }
  EXPECT_EQ(results.size(), 6u) << "every request answered exactly once";
}

TEST_F(RemoteClientTest, UploadDownloadAndPeekAnswerWhatTheFolderHolds) {
  const QString local = dir.filePath("up.orrx");
  QFile out(local);
  ASSERT_TRUE(out.open(QIODevice::WriteOnly));
  out.write("mine");
  out.close();

  QString rev;
  client->uploadFile(local, QString(), "/x.orrx", [&](const UploadResponse& r) {
    EXPECT_EQ(r.result(), DropboxResultSuccess);
    rev = r.rev();
  });
  settle();
  ASSERT_FALSE(rev.isEmpty());
  EXPECT_EQ(remote->contentOf("/x.orrx"), "mine");

  // Adding over an existing file and updating a stale rev are refused without a notification.
  posted.clear();
  std::vector<DropboxResult> codes;
  client->uploadFile(local, QString(), "/x.orrx", [&](const UploadResponse& r) { codes.push_back(r.result()); });
  remote->peerWrite("/x.orrx", "theirs");
  client->uploadFile(local, rev, "/x.orrx", [&](const UploadResponse& r) { codes.push_back(r.result()); });
  settle();
  EXPECT_EQ(codes, std::vector<DropboxResult>({DropboxResultRevisionChanged, DropboxResultRevisionChanged}));
  EXPECT_TRUE(posted.isEmpty());

  const QString target = dir.filePath("down.orrx");
  client->downloadFile("/x.orrx", target, [&](const DownloadResponse& r) {
    EXPECT_EQ(r.result(), DropboxResultSuccess);
    EXPECT_EQ(r.rev(), remote->revOf("/x.orrx"));
  });
  client->downloadFile("/none.orrx", target, [&](const DownloadResponse& r) { codes.push_back(r.result()); });
  settle();
  QFile in(target);
  ASSERT_TRUE(in.open(QIODevice::ReadOnly));
  EXPECT_EQ(in.readAll(), "theirs");
  EXPECT_EQ(codes.back(), DropboxResultNotFound);

  remote->addFolder("/sub");
  posted.clear();
  QStringList peeks;
  for (const char* path : {"/x.orrx", "/none.orrx", "/sub"})
    client->peekFile(path, [&](const PeekFileResponse& r) { peeks << QString("%1:%2").arg(r.success()).arg(r.rev()); });
  settle();
  EXPECT_EQ(peeks, QStringList({"1:" + remote->revOf("/x.orrx"), "1:", "0:"}));
  EXPECT_EQ(posted, QStringList({DropboxGotSomeDataNotification, DropboxGotSomeDataNotification}))
      << "the file and the folder were answered; the missing file posts nothing";
}

TEST_F(RemoteClientTest, FailuresAnswerThreeAndNameTheirKind) {
  const QString local = dir.filePath("up.orrx");
  QFile(local).open(QIODevice::WriteOnly);
  const std::pair<Fault, const char*> kinds[] = {{Fault::Auth, DropboxInvalidAccessTokenNotification},
                                                 {Fault::Network, DropboxNoConnectionNotification},
                                                 {Fault::RateLimited, DropboxNoConnectionNotification},
                                                 {Fault::ServerError, DropboxNoConnectionNotification},
                                                 {Fault::Silence, DropboxNoConnectionNotification}};
  for (const auto& [fault, notification] : kinds) {
    posted.clear();
    std::vector<DropboxResult> codes;
    remote->failNext(Route::Upload, fault);
    remote->failNext(Route::Download, fault);
    remote->failNext(Route::Metadata, fault);
    client->uploadFile(local, QString(), "/x.orrx", [&](const UploadResponse& r) { codes.push_back(r.result()); });
    client->downloadFile("/x.orrx", dir.filePath("d"), [&](const DownloadResponse& r) { codes.push_back(r.result()); });
    client->peekFile("/x.orrx", [&](const PeekFileResponse& r) { codes.push_back(r.success() ? 0 : 3); });
    settle();
    EXPECT_EQ(codes, std::vector<DropboxResult>(3, DropboxResultFailed));
    EXPECT_EQ(posted, QStringList(3, notification));
  }
}

TEST_F(RemoteClientTest, DeleteFollowsThePeekAndSendsThePeekedRev) {
  std::vector<DropboxResult> codes;
  auto record = [&](const DeleteResponse& r) { codes.push_back(r.result()); };
  const QString rev = remote->peerWrite("/x.orrx", "x");
  // Gone already: 0 and no delete call; a stale or missing expected rev: 2 and no delete call.
  client->deleteFile("/none.orrx", "abc", record);
  client->deleteFile("/x.orrx", "0000stale", record);
  client->deleteFile("/x.orrx", QString(), record);
  settle();
  EXPECT_EQ(codes, std::vector<DropboxResult>({0, 2, 2}));
  EXPECT_EQ(remote->calls(Route::Delete), 0);

  client->deleteFile("/x.orrx", rev, record);
  settle();
  EXPECT_EQ(codes.back(), DropboxResultSuccess);
  EXPECT_FALSE(remote->file("/x.orrx"));
  EXPECT_EQ(remote->deleteParentRevs(), std::vector<QString>({rev}));

  // A peek that cannot be answered: 3.
  remote->failNext(Route::Metadata, Fault::Network);
  client->deleteFile("/x.orrx", rev, record);
  settle();
  EXPECT_EQ(codes.back(), DropboxResultFailed);
}

TEST_F(RemoteClientTest, AVersionUploadedBetweenPeekAndDeleteSurvives) {
  const QString rev = remote->peerWrite("/x.orrx", "old");
  remote->beforeAnswer(Route::Delete, [&] { remote->peerWrite("/x.orrx", "new from the other machine"); });
  DropboxResult result = 99;
  posted.clear();
  client->deleteFile("/x.orrx", rev, [&](const DeleteResponse& r) { result = r.result(); });
  settle();
  EXPECT_EQ(result, DropboxResultRevisionChanged);
  EXPECT_EQ(remote->contentOf("/x.orrx"), "new from the other machine");
  EXPECT_EQ(posted, QStringList({DropboxGotSomeDataNotification})) << "only the peek's";
}

TEST_F(RemoteClientTest, WithoutAnAuthorisedClientEveryRequestStillCompletes) {
  platform::DropboxClientsManager::setAuthorizedClient(nullptr);
  auto lonely = RemoteFolderClient::create();
  main.runPending();
  EXPECT_EQ(posted, QStringList({DropboxInvalidAccessTokenNotification})) << "on a later turn, after creation";
  posted.clear();
  std::vector<DropboxResult> codes;
  lonely->listFolderContents("", [&](const ListFolderResponse& r) { codes.push_back(r.result()); });
  lonely->uploadFile(dir.filePath("u"), QString(), "/x", [&](const UploadResponse& r) { codes.push_back(r.result()); });
  lonely->downloadFile("/x", dir.filePath("d"), [&](const DownloadResponse& r) { codes.push_back(r.result()); });
  lonely->deleteFile("/x", "1", [&](const DeleteResponse& r) { codes.push_back(r.result()); });
  EXPECT_TRUE(codes.empty()) << "never inside the call";
  settle();
  EXPECT_EQ(codes, std::vector<DropboxResult>(4, DropboxResultFailed));
  EXPECT_EQ(posted, QStringList(4, DropboxInvalidAccessTokenNotification));
}

TEST_F(RemoteClientTest, APeersMovesAndRestoresShowInTheNextListing) {
  remote->peerWrite("/a.orrx", "a");
  const QString gone = remote->peerWrite("/b.orrx", "b");
  remote->peerMove("/a.orrx", "/moved.orrx");
  remote->peerDelete("/b.orrx");
  const QString back = remote->peerRestore("/b.orrx");
  EXPECT_NE(back, gone) << "a restore is a new revision";
  std::vector<ListFolderResponse> answers;
  client->listFolderContents("", [&](const ListFolderResponse& r) { answers.push_back(r); });
  settle();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(pathsOf(answers[0]), QStringList({"/b.orrx@" + back, "/moved.orrx@" + remote->revOf("/moved.orrx")}));
  EXPECT_EQ(remote->contentOf("/moved.orrx"), "a");
}
