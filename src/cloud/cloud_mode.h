#pragma once
// The storage engine of the iCloud location. It follows the account (the container's identity
// token), finds the container's Documents folder, the index "orrery.index" and the document
// files with one-shot metadata queries, reports the documents found and the index's list to
// its workspace, runs document operations through IdeaDocument's coordinated file access,
// deletes files on the "orrery.persistence" queue and settles conflict versions: the newest
// that reads takes the file, every other one that reads (the local content among them) becomes
// a new document, and one that does not read is kept as a file beside the documents
// (conflict_settling.cpp).
// Documents are "iCloud:/<name>" with <name> a plain ".orrx" file name in the Documents
// folder; any other name reaches no file.
//
// Main thread for every handler, report and completion. After leaveState nothing it started
// (query, lookup, retry, notification) has any effect.

#include "cloud/persistence_state_status.h"

#include "model/persistence_state.h"

#include "platform/core/notification_center.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace platform {
class IdentityMonitor;
class MetadataQuery;
}  // namespace platform

namespace orrery {

class Idea;
class IndexDocument;

class CloudMode final : public PersistenceState,
                        public ConflictResolvingState,
                        public std::enable_shared_from_this<CloudMode> {
 public:
  // Seconds between two reads of an index that could not be read.
  static constexpr double kIndexRetrySeconds = 3.0;

  // Reads the identity, follows its changes and starts looking for the container. What it
  // reports before a workspace attaches itself reaches nobody.
  static std::shared_ptr<CloudMode> create();
  ~CloudMode() override;

  // Looks the container's Documents folder up off the main thread; the block gets it (empty
  // when there is none) on the main queue.
  static void fetchCloudDocumentsDirectoryURL(std::function<void(const QString& folder)> block);
  // The account's identity token as the identity monitor last read it; never touches the
  // container on the calling thread.
  static QString currentCloudToken();

  void checkIfWeCanProceed();
  void iCloudAccountAvailabilityChanged();

  // PersistenceState.
  void leaveState() override;
  void openDocument(const std::shared_ptr<IdeaDocument>& doc, TokenCompletion completion) override;
  void createDocument(const std::shared_ptr<IdeaDocument>& doc, TokenCompletion completion) override;
  void updateDocument(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token,
                      BoolCompletion completion) override;
  void closeDocument(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token, BoolCompletion completion) override;
  void deleteDocument(const QString& docIdentifier, BoolCompletion completion) override;
  void fetchDocument(const QString& docIdentifier, DocumentCompletion completion) override;
  void fetchIdea(const QString& docIdentifier, std::function<void(std::shared_ptr<Idea>)> completion);
  void saveProxyList(const ProxyList& proxies) override;
  QString description() const override;

  // ConflictResolvingState.
  std::shared_ptr<platform::FileVersion> findConflictingVersion(const IdeaProxyPtr& proxy) override;
  void handleConflictForProxy(const IdeaProxyPtr& proxy, ConflictCompletion completion) override;

  // YES when the file is gone afterwards (or was already), NO when coordination or removal
  // failed.
  void doDeleteFileAtURL(const QUrl& url, BoolCompletion completion);
  // The file of a plain ".orrx" name (no folder parts, not hidden) in the Documents folder;
  // empty without a container folder or for any other name.
  QUrl createFileURLForFileName(const QString& path) const;

  const QString& cloudDocumentsFolder() const { return mCloudDocURL; }
  const std::shared_ptr<IndexDocument>& subscribedIndexDocument() const { return mSubscribedIndexDocument; }
  bool isDead() const { return mDead; }

 private:
  struct Tag {};

 public:
  explicit CloudMode(Tag) {}

 private:
  void start();
  void report(const std::function<void(PersistenceStateDelegate&)>& message);
  QUrl urlForIdentifier(const QString& docIdentifier) const;
  void queryIndexFile();
  void indexFileQueryDidFinishGathering(const std::shared_ptr<platform::MetadataQuery>& query);
  void handleIndexResults(const platform::MetadataQuery& query);
  // Writes an empty index (unless another instance made one meanwhile, which is then read) and
  // looks for the documents.
  void createIndexFile();
  void openIndexDocumentUntilSuccess(const std::shared_ptr<IndexDocument>& index);
  void subscribeToIndexDocumentChanges(const std::shared_ptr<IndexDocument>& index);
  void indexDocumentStateChanged();
  void queryCloudDocuments();
  void queryDidFinishGathering(const std::shared_ptr<platform::MetadataQuery>& query);
  void doHandleQueryResultsFromIndex(std::size_t index, const std::shared_ptr<platform::MetadataQuery>& query);
  void stopQueries();
  // The sync tools' conflict copies the user sees as documents (found, or in the index).
  QSet<QString> listedConflictCopies() const;
  // Looks at the folder again a few seconds from now, while the list is ready, and lists the
  // documents that appeared; again and again until a new walk, an account change or leaveState.
  void scheduleNewDocumentsScan();
  void listNewDocuments(const QStringList& added);
  // Lists the documents found that no name of `indexed` (document identifiers) names.
  void listUnindexedDocuments(QStringList indexed, QSet<QString> found,
                              const std::shared_ptr<platform::MetadataQuery>& query);
  // Reads the documents of these file names one after another and reports each that reads as
  // a proxy; `done` (may be null) follows the last.
  void listDocuments(const QStringList& names, std::function<void()> done);
  void listDocumentsInto(const QStringList& names, const std::shared_ptr<ProxyList>& listed,
                         std::function<void()> done);
  // Adds the documents listed that the index in use lacks to it, and saves it.
  void indexListedDocuments(const ProxyList& listed);
  // One conflict being settled: the versions still to read, those that read and those that do
  // not, the version that takes the file, the documents made and the files set aside so far.
  struct ConflictSettling {
    struct Read {
      std::shared_ptr<platform::FileVersion> version;
      std::shared_ptr<Idea> idea;
    };
    struct Unreadable {
      std::shared_ptr<platform::FileVersion> version;
      bool newerFormat = false;
    };
    struct Kept {
      std::shared_ptr<IdeaDocument> doc;
      std::shared_ptr<platform::FileVersion> version;  // null for the local content
      QString source;
    };
    IdeaProxyPtr proxy;
    std::vector<std::shared_ptr<platform::FileVersion>> toRead;
    std::vector<Read> readable;
    std::vector<Unreadable> unreadable;
    std::shared_ptr<platform::FileVersion> newest;
    std::vector<Kept> kept;
    std::vector<KeptConflictVersion> setAside;
    ConflictCompletion completion;
    void answer(bool resolved);
  };
  void readNextVersion(const std::shared_ptr<ConflictSettling>& settling);
  void chooseNewestReadable(const std::shared_ptr<ConflictSettling>& settling);
  void keepAsDocument(const std::shared_ptr<ConflictSettling>& settling, const std::shared_ptr<Idea>& idea,
                      const std::shared_ptr<platform::FileVersion>& version);
  void keepNextVersion(const std::shared_ptr<ConflictSettling>& settling);
  void takeBackKeptDocuments(const std::shared_ptr<ConflictSettling>& settling);
  // Moves the versions that do not read beside the documents, each under a name saying so.
  void setUnreadableVersionsAside(const std::shared_ptr<ConflictSettling>& settling);
  void finishConflict(const std::shared_ptr<ConflictSettling>& settling);

  std::shared_ptr<platform::MetadataQuery> mQuery;
  std::shared_ptr<platform::MetadataQuery> mIndexQuery;
  QSet<QString> mFilesFound;
  std::shared_ptr<IndexDocument> mSubscribedIndexDocument;
  // The index being read or made on the work queue; a later read or make replaces it.
  std::shared_ptr<IndexDocument> mIndexInFlight;
  QString mCloudDocURL;
  QString mCloudToken;
  bool mDead = false;

  // Answers of a container lookup that a later one replaced are dropped.
  std::uint64_t mLookupGeneration = 0;
  // Scans of the folder that a later walk, an account change or leaveState replaced are dropped.
  std::uint64_t mScanGeneration = 0;
  std::shared_ptr<platform::IdentityMonitor> mIdentityMonitor;
  platform::ObserverScope mAccountObserver;
  platform::ObserverScope mIndexQueryObserver;
  platform::ObserverScope mQueryObserver;
  platform::ObserverScope mIndexObserver;
};

}  // namespace orrery
