#include "platform/cloud/metadata_query.h"

#include "platform/cloud/file_version.h"
#include "platform/core/dispatch.h"
#include "platform/core/notification_center.h"
#include "platform/services/utf8_text.h"

#include <QFile>

#include <algorithm>

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>

namespace platform {

std::shared_ptr<MetadataQuery> MetadataQuery::create() { return std::make_shared<MetadataQuery>(Tag{}); }

std::vector<MetadataItem> MetadataQuery::scan(const QString& folder, const QString& pattern) {
  std::vector<MetadataItem> items;
  const QByteArray nativeFolder = QFile::encodeName(folder);
  const QByteArray nativePattern = QFile::encodeName(pattern);
  DIR* dir = ::opendir(nativeFolder.constData());
  if (!dir) return items;
  while (const dirent* entry = ::readdir(dir)) {
    const char* name = entry->d_name;
    if (::fnmatch(nativePattern.constData(), name, 0) != 0) continue;
    // Only plain files: a link could lead out of the container, a folder is no document.
    struct stat st {};
    if (::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    const QString fsName = textFromUtf8(name);
    items.push_back({folder + QLatin1Char('/') + fsName, fsName});
  }
  ::closedir(dir);
  std::sort(items.begin(), items.end(),
            [](const MetadataItem& a, const MetadataItem& b) { return a.fsName < b.fsName; });
  return items;
}

bool MetadataQuery::start() {
  if (mStarted || mStopped || mFolder.isEmpty() || mPattern.isEmpty()) return false;
  mStarted = true;
  globalQueue(QueuePriority::Default).async([weak = weak_from_this(), folder = mFolder, pattern = mPattern,
                                             collect = mCollectCopies, listed = mListedCopies] {
    if (collect) FileVersion::collectConflictCopies(folder, listed);
    auto items = scan(folder, pattern);
    mainQueue().async([weak, items = std::move(items)]() mutable {
      auto self = weak.lock();
      if (!self || self->mStopped) return;
      self->mResults = std::move(items);
      self->mGathered = true;
      NotificationCenter::defaultCenter().post(kMetadataQueryDidFinishGatheringNotification, self.get());
    });
  });
  return true;
}

void MetadataQuery::stop() { mStopped = true; }

}  // namespace platform
