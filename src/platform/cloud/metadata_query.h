#pragma once
// A one-shot search of the container's Documents folder for file names matching a pattern
// ("like": * and ? wildcards). start() scans the folder once on a global queue (first moving
// sync tools' conflict copies into the versions folder when asked to), keeps the results in name order and
// posts kMetadataQueryDidFinishGatheringNotification (object: the query) on the main queue.
// A stopped query posts nothing more. Entries that are not plain files (folders, symbolic
// links, devices) are never results. Main thread only.

#include <QSet>
#include <QString>

#include <memory>
#include <vector>

namespace platform {

inline constexpr char kMetadataQueryDidFinishGatheringNotification[] = "MetadataQueryDidFinishGatheringNotification";

struct MetadataItem {
  QString path;    // absolute path of the file (its URL)
  QString fsName;  // its file name
};

class MetadataQuery : public std::enable_shared_from_this<MetadataQuery> {
 public:
  static std::shared_ptr<MetadataQuery> create();

  void setSearchFolder(const QString& folder) { mFolder = folder; }
  // The file-name pattern, as a "%K like %@" predicate on the file name has it.
  void setNameLike(const QString& pattern) { mPattern = pattern; }
  // The scan first moves sync tools' conflict copies into the versions folder, except those
  // named here (documents the user sees); without this call it leaves them where they are.
  void setCollectConflictCopiesExcept(QSet<QString> listed) {
    mCollectCopies = true;
    mListedCopies = std::move(listed);
  }

  // False, and nothing scanned, when the query has no folder or pattern or ran already.
  bool start();
  void stop();
  void disableUpdates() { mUpdatesEnabled = false; }
  void enableUpdates() { mUpdatesEnabled = true; }
  bool isStarted() const { return mStarted; }
  bool isStopped() const { return mStopped; }
  bool hasGathered() const { return mGathered; }

  std::size_t resultCount() const { return mResults.size(); }
  const MetadataItem& resultAtIndex(std::size_t index) const { return mResults.at(index); }
  const std::vector<MetadataItem>& results() const { return mResults; }

  // Files of the stand-in container are always local: nothing to download.
  static bool startDownloadingUbiquitousItem(const QString& /*path*/) { return true; }

  // The scan itself: the plain files of `folder` whose names match `pattern`, in name order.
  static std::vector<MetadataItem> scan(const QString& folder, const QString& pattern);

 private:
  struct Tag {};

 public:
  explicit MetadataQuery(Tag) {}

 private:
  QString mFolder;
  QString mPattern;
  bool mCollectCopies = false;
  QSet<QString> mListedCopies;
  std::vector<MetadataItem> mResults;
  bool mStarted = false;
  bool mStopped = false;
  bool mGathered = false;
  bool mUpdatesEnabled = true;
};

}  // namespace platform
