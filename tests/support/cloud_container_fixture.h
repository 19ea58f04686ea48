#pragma once
// A stand-in iCloud container for tests and benchmarks: a fresh root folder made the
// container's root through ORRERY_CLOUD_CONTAINER for the fixture's life (or the program's own
// default folder, with no root chosen) and connected as the preferences connect it, with helpers
// that put documents and an index into its Documents folder as another machine would have synced
// them, and that move the folder away and back, or put an empty one in its place. Needs the
// model library.

#include "model/idea.h"
#include "model/idea_document.h"
#include "model/idea_proxy.h"
#include "model/index_document.h"
#include "platform/cloud/local_folder_container.h"
#include "platform/services/user_defaults.h"
#include "files.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantMap>

namespace testsupport {

class CloudContainerFixture {
 public:
  // With `makeRoot` false the root is chosen but missing (an unmounted share).
  explicit CloudContainerFixture(bool makeRoot = true)
      : mPrevious(qgetenv("ORRERY_CLOUD_CONTAINER")),
        mHadPrevious(qEnvironmentVariableIsSet("ORRERY_CLOUD_CONTAINER")) {
    mRoot = mBase.path() + "/container";
    qputenv("ORRERY_CLOUD_CONTAINER", mRoot.toUtf8());
    if (!makeRoot) return;
    QDir().mkpath(mRoot);
    platform::LocalFolderContainer::connect();
  }
  // The default container "<application support>/cloud-container": no root chosen, neither
  // the environment nor the user default, and no note that the program ever made it; with
  // `makeRoot` it is connected, the folder there and noted made. All is put back at the end.
  struct DefaultRoot {};
  explicit CloudContainerFixture(DefaultRoot, bool makeRoot = true) : CloudContainerFixture(/*makeRoot=*/false) {
    qunsetenv("ORRERY_CLOUD_CONTAINER");
    for (const char* key : {platform::kCloudContainerFolderKey, platform::kDefaultCloudContainerMadeKey}) {
      mDefaults.insert(key, defaults().objectForKey(key));
      defaults().removeObjectForKey(key);
    }
    mRoot = platform::LocalFolderContainer::root().path;
    QDir(mRoot).removeRecursively();
    if (makeRoot) platform::LocalFolderContainer::connect();
  }
  ~CloudContainerFixture() {
    if (mHadPrevious)
      qputenv("ORRERY_CLOUD_CONTAINER", mPrevious);
    else
      qunsetenv("ORRERY_CLOUD_CONTAINER");
    if (mDefaults.isEmpty()) return;
    for (auto it = mDefaults.cbegin(); it != mDefaults.cend(); ++it) defaults().setObject(it.value(), it.key());
    QDir(mRoot).removeRecursively();
    QDir(away()).removeRecursively();
  }
  CloudContainerFixture(const CloudContainerFixture&) = delete;
  CloudContainerFixture& operator=(const CloudContainerFixture&) = delete;

  const QString& root() const { return mRoot; }
  QString documents() const { return mRoot + "/Documents"; }
  QString documentPath(const QString& name) const { return documents() + "/" + name; }
  QString indexPath() const { return documentPath(orrery::IndexDocument::standardFileName()); }
  QString outside() const { return mBase.path(); }

  // Where the folder goes while it is away (a share unmounted, a folder moved by the user).
  QString away() const { return mRoot + ".away"; }
  bool moveAway() const { return QDir().rename(mRoot, away()); }
  bool moveBack() const { return QDir().rename(away(), mRoot); }
  // An empty folder in place of the one away, as an unmounted share's mount point stands there.
  bool putEmptyFolderInItsPlace() const { return QDir().mkdir(mRoot); }
  bool rootIsEmpty() const {
    return QDir(mRoot).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
  }

  static platform::UserDefaults& defaults() { return platform::UserDefaults::standard(); }
  static bool writeFile(const QString& path, const QByteArray& bytes) { return testsupport::writeFile(path, bytes); }
  static QByteArray readFile(const QString& path) { return testsupport::readFile(path); }

  // A document "<name>" whose root idea says `text`, as an iCloud file; its identifier.
  QString writeDocument(const QString& name, const QString& text) {
    QDir().mkpath(documents());
    auto doc = makeDocument(name, text);
    writeFile(documentPath(name), doc->exportAsPureJSONData());
    mDocuments.push_back(doc);
    return doc->docIdentifier();
  }
  static std::shared_ptr<orrery::IdeaDocument> makeDocument(const QString& name, const QString& text) {
    auto doc = orrery::IdeaDocument::createWithFileName(name, orrery::DocumentLocationICloud);
    doc->setIdea(orrery::Idea::createWithText(text));
    doc->setDateCreated(QDateTime::currentDateTimeUtc());
    doc->setDateModified(doc->dateCreated());
    return doc;
  }
  // The file bytes of a document as another machine would have written them.
  static QByteArray documentBytes(const QString& name, const QString& text) {
    return makeDocument(name, text)->exportAsPureJSONData();
  }
  // `count` documents "doc00000.orrx"… and, with `index`, an index listing them all.
  QStringList addDocuments(int count, bool index = true) {
    QStringList identifiers;
    for (int i = 0; i < count; ++i)
      identifiers << writeDocument(QString::asprintf("doc%05d.orrx", i), QString("Document %1").arg(i));
    if (index) writeIndex();
    return identifiers;
  }
  // The index of every document written so far.
  bool writeIndex() {
    orrery::ProxyList proxies;
    for (const auto& doc : mDocuments) proxies.push_back(orrery::IdeaProxy::createWithDoc(doc));
    orrery::IndexDocument index(QUrl::fromLocalFile(indexPath()));
    index.setIdeaProxyList(proxies);
    bool written = false;
    index.saveBinaryToURL(index.presentedItemURL(), [&](bool ok) { written = ok; });
    return written;
  }
  QString identity() const { return QString::fromUtf8(readFile(mRoot + "/.identity")).trimmed(); }
  bool setIdentity(const QString& token) { return writeFile(mRoot + "/.identity", token.toUtf8()); }

 private:
  QTemporaryDir mBase;
  QString mRoot;
  QByteArray mPrevious;
  bool mHadPrevious;
  QVariantMap mDefaults;  // the keys a default container cleared, with what they held
  std::vector<std::shared_ptr<orrery::IdeaDocument>> mDocuments;
};

}  // namespace testsupport
