#include "model/index_document.h"
#include "model/index_file_contents.h"
#include "model/index_json_document.h"
#include "model/index_keyed_archiver.h"

#include "model/document_file_writer.h"
#include "model/idea_document.h"
#include "model/persistence_controller.h"

#include "foundation/globals.h"
#include "platform/core/notification_center.h"
#include "platform/services/file_coordinator.h"

#include "support/proxy_lists.h"
#include "support/virtual_main_queue.h"

#include <QCborArray>
#include <QCborMap>
#include <QCborValue>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "../foundation/qt_printers.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace orrery;
using orrery::testing::VirtualMainQueue;

namespace {

using testsupport::identifiersOf;

IdeaProxyPtr proxyNamed(const QString& docIdentifier, const QString& text) {
  auto proxy = std::make_shared<IdeaProxy>();
  proxy->setDocIdentifier(docIdentifier);
  proxy->setText(text);
  proxy->setIdeaType(IdeaTypeText);
  proxy->setItemCount(3);
  proxy->setDateModified(QDateTime::fromSecsSinceEpoch(1'650'000'000, Qt::UTC));
  return proxy;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// A title that begins with what looks like a byte-order mark.
const QString kMarkedTitle = QStringLiteral("\uFEFF\uFEFFTwo");

class IndexFiles : public ::testing::Test {
 protected:
  QString path(const QString& name) const { return folder.path() + "/" + name; }
  QUrl url(const QString& name) const { return QUrl::fromLocalFile(path(name)); }

  // Reads the JSON index at `name`; the result, or nullopt when the read reported failure.
  std::optional<ProxyList> readJSONIndex(const QString& name, DocumentError* error = nullptr) {
    auto index = IndexJSONDocument::createWithFileURL(url(name), PersistenceController::singleton().workQueue());
    index->setIdeaProxyList({proxyNamed("dropbox:/untouched.orrx", "kept")});
    std::optional<bool> result;
    index->readJSONWithCompletionHandler([&](bool ok, const DocumentError& e) {
      result = ok;
      if (error) *error = e;
    });
    EXPECT_TRUE(main.runUntil([&] { return result.has_value(); }));
    if (!result.value_or(false)) {
      EXPECT_EQ(identifiersOf(index->ideaProxyList()), QStringList{"dropbox:/untouched.orrx"});
      return std::nullopt;
    }
    return index->ideaProxyList();
  }

  VirtualMainQueue main;
  QTemporaryDir folder;
};

}  // namespace

TEST_F(IndexFiles, JSONIndexIsWrittenAndReadBackIntoDropbox) {
  auto index = IndexJSONDocument::createWithFileURL(url("orrery.index"), PersistenceController::singleton().workQueue());
  index->setIdeaProxyList({proxyNamed("dropbox:/one.orrx", "One"), proxyNamed("iCloud:/sub/two.orrx", kMarkedTitle)});
  std::optional<bool> written;
  index->saveJSONToURL(url("orrery.index"), [&](bool ok) { written = ok; });
  // The data was taken when the write was asked for.
  index->setIdeaProxyList({});
  ASSERT_TRUE(main.runUntil([&] { return written.has_value(); }));
  EXPECT_TRUE(*written);

  QFile file(path("orrery.index"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QJsonObject top = QJsonDocument::fromJson(file.readAll()).object();
  EXPECT_EQ(top.value("fileFormatVersion").toInt(), 1);
  EXPECT_EQ(top.value("appInstance").toString(), Globals::appInstance());
  ASSERT_EQ(top.value("proxies").toArray().size(), 2);
  EXPECT_EQ(top.value("proxies").toArray()[1].toObject().value("filename").toString(), "two.orrx");

  const auto read = readJSONIndex("orrery.index");
  ASSERT_TRUE(read);
  EXPECT_EQ(identifiersOf(*read), (QStringList{"dropbox:/one.orrx", "dropbox:/two.orrx"}));
  EXPECT_EQ((*read)[0]->text(), "One");
  EXPECT_EQ((*read)[0]->itemCount(), 3);
  EXPECT_EQ((*read)[1]->text(), kMarkedTitle);
}

TEST_F(IndexFiles, JSONIndexWriteIntoAMissingFolderFails) {
  auto index = IndexJSONDocument::createWithFileURL(url("none/orrery.index"), PersistenceController::singleton().workQueue());
  std::optional<bool> written;
  index->writeToLocalFileAt(url("none/orrery.index"), [&](bool ok) { written = ok; });
  ASSERT_TRUE(main.runUntil([&] { return written.has_value(); }));
  EXPECT_FALSE(*written);
}

TEST_F(IndexFiles, HostileOrForeignJSONIndexesLoadNothing) {
  const QJsonObject good{{"fileFormatVersion", 1},
                         {"appInstance", "MAC_1.0"},
                         {"proxies", QJsonArray{QJsonObject{{"filename", "fine.orrx"}, {"ideaType", 1}},
                                                QJsonObject{{"filename", "../../escape.orrx"}, {"ideaType", 1}},
                                                QJsonObject{{"filename", "/etc/passwd"}, {"ideaType", 1}},
                                                QJsonObject{{"ideaType", 1}}}}};
  ASSERT_TRUE(writeFile(path("good"), QJsonDocument(good).toJson()));
  const auto read = readJSONIndex("good");
  ASSERT_TRUE(read);
  EXPECT_EQ(identifiersOf(*read), QStringList{"dropbox:/fine.orrx"});

  DocumentError error;
  QJsonObject newer = good;
  newer["fileFormatVersion"] = 2;
  ASSERT_TRUE(writeFile(path("newer"), QJsonDocument(newer).toJson()));
  EXPECT_FALSE(readJSONIndex("newer", &error));
  EXPECT_EQ(error.code, kDocumentErrorNewerVersion);

  QJsonObject unversioned = good;
  unversioned.remove("fileFormatVersion");
  ASSERT_TRUE(writeFile(path("unversioned"), QJsonDocument(unversioned).toJson()));
  EXPECT_FALSE(readJSONIndex("unversioned", &error));
  EXPECT_EQ(error.code, kDocumentErrorInvalidFormat);
  EXPECT_EQ(error.domain, "document");

  ASSERT_TRUE(writeFile(path("garbage"), QByteArray("{\"fileFormatVersion\": 1, \"proxies\": [")));
  EXPECT_FALSE(readJSONIndex("garbage"));
  EXPECT_FALSE(readJSONIndex("missing"));

  // An index larger than the memory there is (sparse: no disk taken) is neither index, and is
  // not read.
  QFile huge(path("huge"));
  ASSERT_TRUE(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(1) << 40));
  huge.close();
  EXPECT_FALSE(readJSONIndex("huge"));
  ProxyList list;
  EXPECT_FALSE(IndexDocument::readListFromFile(path("huge"), nullptr, list, /*onlyIfChanged=*/false));
}

TEST_F(IndexFiles, KeyedIndexIsWrittenAndReadBackIntoICloud) {
  IndexDocument writer(url(IndexDocument::standardFileName()));
  writer.setIdeaProxyList({proxyNamed("dropbox:/a.orrx", "A"), proxyNamed("iCloud:/b.orrx", kMarkedTitle)});
  std::optional<bool> saved;
  writer.saveBinaryToURL(writer.presentedItemURL(), [&](bool ok) { saved = ok; });
  ASSERT_EQ(saved, true);

  IndexDocument reader(url("orrery.index"));
  std::optional<bool> loaded;
  reader.readBinaryWithCompletionHandler([&](bool ok) { loaded = ok; });
  ASSERT_EQ(loaded, true);
  EXPECT_EQ(identifiersOf(reader.ideaProxyList()), (QStringList{"iCloud:/a.orrx", "iCloud:/b.orrx"}));
  EXPECT_EQ(reader.ideaProxyList()[1]->text(), kMarkedTitle);

  // This process's own write is nothing new.
  reader.readBinaryWithCompletionHandler([&](bool ok) { loaded = ok; }, true);
  EXPECT_EQ(loaded, false);
  EXPECT_TRUE(IndexDocument::fileNamingSchemeMatches("orrery.index"));
  EXPECT_FALSE(IndexDocument::fileNamingSchemeMatches("orrery.index.orrx"));
}

TEST_F(IndexFiles, KeyedIndexRefusesForeignVersionsAndHostileArchives) {
  IndexDocument index(url("orrery.index"));
  index.setIdeaProxyList({proxyNamed("iCloud:/kept.orrx", "kept")});
  const QByteArray good = index.contentsAsBinaryData();
  QCborMap archive = QCborValue::fromCbor(good).toMap();
  DocumentError error;

  auto withTop = [&](const std::function<void(QCborMap&)>& change) {
    QCborMap copy = archive;
    QCborMap top = copy.value(QStringLiteral("$top")).toMap();
    change(top);
    copy.insert(QStringLiteral("$top"), top);
    return QCborValue(copy).toCbor();
  };
  EXPECT_FALSE(index.loadFromContents(withTop([](QCborMap& top) { top.insert(QStringLiteral("fileFormatVersion"), 2); }),
                                      &error, false));
  EXPECT_EQ(error.code, kDocumentErrorNewerVersion);
  EXPECT_FALSE(index.loadFromContents(withTop([](QCborMap& top) { top.remove(QStringLiteral("fileFormatVersion")); }),
                                      &error, false));
  EXPECT_EQ(error.code, kDocumentErrorInvalidFormat);
  EXPECT_FALSE(index.loadFromContents("not an archive", &error, false));
  EXPECT_FALSE(index.loadFromContents(good.left(good.size() / 2), nullptr, false));

  // Entries naming paths, or of classes the index does not hold, are left out.
  const QByteArray hostile = withTop([](QCborMap& top) {
    QCborArray list = top.value(QStringLiteral("proxyList")).toArray();
    QCborMap escape = list[0].toMap();
    escape.insert(QStringLiteral("filename"), QStringLiteral("../../escape.orrx"));
    QCborMap foreign = list[0].toMap();
    foreign.insert(QStringLiteral("$class"), QStringLiteral("Idea"));
    list.append(escape);
    list.append(foreign);
    top.insert(QStringLiteral("proxyList"), list);
  });
  ASSERT_TRUE(index.loadFromContents(hostile, nullptr, false));
  EXPECT_EQ(identifiersOf(index.ideaProxyList()), QStringList{"iCloud:/kept.orrx"});

  // Nesting without end is refused whole.
  QCborMap deep;
  for (int i = 0; i < kMaxKeyedNestingDepth + 10; ++i) {
    QCborMap outer;
    outer.insert(QStringLiteral("$class"), QStringLiteral("IdeaProxy"));
    outer.insert(QStringLiteral("filename"), QStringLiteral("deep.orrx"));
    outer.insert(QStringLiteral("ideaType"), 1);
    outer.insert(QStringLiteral("image2"), deep);
    deep = outer;
  }
  const QByteArray tooDeep = withTop([&](QCborMap& top) { top.insert(QStringLiteral("proxyList"), QCborArray{deep}); });
  EXPECT_FALSE(index.loadFromContents(tooDeep, nullptr, false));
}

TEST_F(IndexFiles, AChangeByAnotherInstanceIsAnnouncedAndOwnWritesAreNot) {
  const QString file = path("orrery.index");
  IndexDocument mine(QUrl::fromLocalFile(file));
  IndexDocument watcher(QUrl::fromLocalFile(file));
  int announced = 0;
  const void* announcedObject = nullptr;
  platform::ObserverScope observer;
  observer.observe(IndexDocumentChangedNotification, nullptr, [&](const platform::Notification& n) {
    ++announced;
    announcedObject = n.object;
  });

  mine.setIdeaProxyList({proxyNamed("iCloud:/x.orrx", "X")});
  mine.saveBinaryToURL(mine.presentedItemURL(), nullptr);
  // The watcher reads our write on the work queue; let that read finish before the other
  // instance writes, or it would read the other's file and leave nothing new for the next read.
  main.runPending();  // the change reaches the presenters, which queue their reads
  std::atomic<bool> readsDone{false};
  PersistenceController::singleton().workQueue().async([&] { readsDone = true; });
  ASSERT_TRUE(main.runUntil([&] { return readsDone.load(); }));
  main.runPending();
  EXPECT_EQ(announced, 0);

  // Another instance replaces the file with its own mark.
  QCborMap archive = QCborValue::fromCbor(mine.contentsAsBinaryData()).toMap();
  QCborMap top = archive.value(QStringLiteral("$top")).toMap();
  top.insert(QStringLiteral("appInstance"), QStringLiteral("MAC_12345.000000"));
  archive.insert(QStringLiteral("$top"), top);
  platform::FileCoordinator other;
  other.coordinateWriting(file, [&](const QString& p) {
    EXPECT_EQ(writeFileReplacing(p, QCborValue(archive).toCbor()), FileWriteResult::Written);
  });
  // Read on the work queue, announced on the main queue.
  ASSERT_TRUE(main.runUntil([&] { return announced == 2; }));
  EXPECT_TRUE(announcedObject == &mine || announcedObject == &watcher);
  EXPECT_EQ(identifiersOf(watcher.ideaProxyList()), QStringList{"iCloud:/x.orrx"});
}
