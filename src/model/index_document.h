#pragma once
// The keyed index "orrery.index" of the iCloud location: the format version, the writing
// instance's mark and the document list, kept in a keyed archive beside the documents. It
// presents its file, so that a change made by another running instance of the application is
// re-read and announced with IndexDocumentChangedNotification; this process's own writes are
// not announced; another instance's change is read on "orrery.persistence". Main thread only,
// except the static file functions.

#include "model/document_location.h"
#include "model/idea_proxy.h"

#include "platform/services/file_presenter.h"

#include <QUrl>

#include <functional>
#include <memory>

namespace orrery {

// Posted on the main thread with the IndexDocument as object after it re-read its file.
inline constexpr char IndexDocumentChangedNotification[] = "IndexDocumentChangedNotification";

class IndexDocument final : public platform::FilePresenter {
 public:
  using BoolCompletion = std::function<void(bool)>;

  // Registers as the file's presenter at once; the destructor unregisters.
  explicit IndexDocument(const QUrl& fileURL);
  ~IndexDocument() override;
  IndexDocument(const IndexDocument&) = delete;
  IndexDocument& operator=(const IndexDocument&) = delete;

  static QString standardFileName() { return QStringLiteral("orrery.index"); }
  static bool fileNamingSchemeMatches(const QString& fileName) { return fileName == standardFileName(); }

  const QUrl& presentedItemURL() const { return mFileURL; }
  QString presentedItemPath() const override { return mFileURL.toLocalFile(); }
  void presentedItemDidChange() override;

  const ProxyList& ideaProxyList() const { return mIdeaProxyList; }
  void setIdeaProxyList(ProxyList list) { mIdeaProxyList = std::move(list); }

  // The archive of the index as written to a file; null when it cannot be encoded.
  QByteArray contentsAsBinaryData() const;
  // Loads a list from archive bytes, re-homed into the iCloud location. With `onlyIfChanged`
  // an archive this very process wrote loads nothing. False leaves the list alone.
  bool loadFromContents(const QByteArray& data, DocumentError* error, bool onlyIfChanged);
  // Whether archive bytes read as a list, on any thread; the list they hold into `list`.
  static bool listFromContents(const QByteArray& data, ProxyList& list);

  // Coordinated, atomic replace of the file at `url`; the completion (which may be null) runs
  // before this returns.
  void saveBinaryToURL(const QUrl& url, BoolCompletion completion);
  // Coordinated read of this index's file; the completion runs before this returns, true when
  // a list was loaded.
  void readBinaryWithCompletionHandler(BoolCompletion completion, bool onlyIfChanged = false);
  // The same read of the index file at `path` into `list`, on any thread (a big index takes a
  // good part of a second); `presenter` is the index the list is for, by identity only.
  static bool readListFromFile(const QString& path, const platform::FilePresenter* presenter, ProxyList& list,
                               bool onlyIfChanged = false);
  // The archive of `list` written to the file at `path` on any thread (writes wait for
  // another instance's folder lock); false with the reason in `failure` (when given).
  static bool writeListToFile(const QString& path, const platform::FilePresenter* presenter, const ProxyList& list,
                              QString* failure = nullptr);

  // The file has no versions of its own to settle: the iCloud engine folds the sync tools'
  // conflict copies of it into the list whenever it reads the list (index_conflict_copies.h).
  void resolvePotentialConflict() {}

 private:
  QUrl mFileURL;
  ProxyList mIdeaProxyList;
  // Re-reads finishing on the main queue find the index through this only while it lives.
  std::shared_ptr<IndexDocument*> mLiveness = std::make_shared<IndexDocument*>(this);
};

}  // namespace orrery
