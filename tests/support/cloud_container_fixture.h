#pragma once
// A stand-in iCloud container for tests and benchmarks: a fresh root folder made the
// container's root through ORRERY_CLOUD_CONTAINER for the fixture's life, with helpers that
// put documents and an index into its Documents folder as another machine would have synced
// them. Needs the model library.

#include "model/idea.h"
#include "model/idea_document.h"
#include "model/idea_proxy.h"
#include "model/index_document.h"
#include "files.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace testsupport {

class CloudContainerFixture {
 public:
  // With `makeRoot` false the root is chosen but missing (an unmounted share).
  explicit CloudContainerFixture(bool makeRoot = true)
      : mPrevious(qgetenv("ORRERY_CLOUD_CONTAINER")),
        mHadPrevious(qEnvironmentVariableIsSet("ORRERY_CLOUD_CONTAINER")) {
    mRoot = mBase.path() + "/container";
    if (makeRoot) QDir().mkpath(mRoot);
    qputenv("ORRERY_CLOUD_CONTAINER", mRoot.toUtf8());
  }
  ~CloudContainerFixture() {
    if (mHadPrevious)
      qputenv("ORRERY_CLOUD_CONTAINER", mPrevious);
    else
      qunsetenv("ORRERY_CLOUD_CONTAINER");
  }
  CloudContainerFixture(const CloudContainerFixture&) = delete;
  CloudContainerFixture& operator=(const CloudContainerFixture&) = delete;

  const QString& root() const { return mRoot; }
  QString documents() const { return mRoot + "/Documents"; }
  QString documentPath(const QString& name) const { return documents() + "/" + name; }
  QString indexPath() const { return documentPath(orrery::IndexDocument::standardFileName()); }
  QString outside() const { return mBase.path(); }

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
  std::vector<std::shared_ptr<orrery::IdeaDocument>> mDocuments;
};

}  // namespace testsupport
