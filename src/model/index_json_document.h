#pragma once
// The JSON index of the Dropbox location: {"fileFormatVersion": 1, "appInstance": …,
// "proxies": [IdeaProxy…]} written by JSONEncoder as a bare top object. Reads and writes run on
// the persistence work queue and complete on the main queue; a write takes its data from the
// list as it is when the write is asked for.

#include "model/document_location.h"
#include "model/idea_proxy.h"

#include "platform/core/dispatch.h"

#include <QUrl>

#include <functional>
#include <memory>

namespace orrery {

class IndexJSONDocument : public std::enable_shared_from_this<IndexJSONDocument> {
 public:
  using BoolCompletion = std::function<void(bool)>;
  using ReadCompletion = std::function<void(bool success, const DocumentError& error)>;

  // Reads and writes run on `workQueue` (the persistence facade's), which must outlive the index.
  static std::shared_ptr<IndexJSONDocument> createWithFileURL(const QUrl& fileURL, platform::Queue& workQueue);

  const QUrl& fileURL() const { return mFileURL; }
  const ProxyList& ideaProxyList() const { return mIdeaProxyList; }
  void setIdeaProxyList(ProxyList list) { mIdeaProxyList = std::move(list); }

  // The index as written to a file; null when it cannot be encoded.
  QByteArray contentsAsJSONData() const;
  // Reads a list from index bytes, re-homed into the Dropbox location; `list` is left alone on
  // failure. Any thread.
  static bool decodeFromJSON(const QByteArray& data, ProxyList& list, DocumentError* error);

  void saveJSONToURL(const QUrl& url, BoolCompletion completion) { writeToLocalFileAt(url, std::move(completion)); }
  // Replaces the file at once (a reader sees the old or the new index, never a part); false
  // when the data cannot be made or written whole.
  void writeToLocalFileAt(const QUrl& url, BoolCompletion completion);
  // Reads this index's file; on success the list is replaced before the completion runs.
  void readJSONWithCompletionHandler(ReadCompletion completion);

 private:
  IndexJSONDocument(QUrl fileURL, platform::Queue& workQueue)
      : mFileURL(std::move(fileURL)), mWorkQueue(workQueue) {}

  QUrl mFileURL;
  platform::Queue& mWorkQueue;
  ProxyList mIdeaProxyList;
};

}  // namespace orrery
