#pragma once
// An iCloud index whose bytes do not read as an index (a transfer cut short, a disk error): it
// is set aside beside the documents under a name that says so, kept for whoever wants to look
// at it, so that a new index can list what is on disk instead of nothing being listed.

#include "platform/services/file_presenter.h"

#include <QString>
#include <QStringList>

namespace orrery {

// Posted on the main queue, object none, once for each index set aside, once its message waits
// among the cloud notices; the user info holds the message under kCloudNoticeMessageKey (a
// QString).
inline constexpr char CloudIndexSetAsideNotification[] = "CloudIndexSetAsideNotification";
inline constexpr char kCloudNoticeMessageKey[] = "message";

// Messages for the user of the iCloud location that no screen has shown yet, oldest first. The
// first iCloud screen to show takes them, at once or whenever one next shows: each is told once,
// never lost for want of a screen. Main thread.
void leaveCloudNotice(const QString& message);
QStringList takeCloudNotices();

// On any thread but the main one: when the file at `path` is there, reads in full and still
// does not read as an index, it is renamed to "<name>.damaged-<yyyyMMdd-hhmmss>" beside it (a
// free name); the name it took. Empty when nothing was set aside: the file is missing, cannot
// be read at all (a later read may succeed), reads now, or cannot be renamed (`failure` says
// why). `presenter` is the index's, by identity.
QString setDamagedIndexAside(const QString& path, const platform::FilePresenter* presenter, QString* failure);

// The message that tells the user an index was set aside as `keptAs` and the list is made anew
// from the documents on disk.
QString damagedIndexMessage(const QString& keptAs);

}  // namespace orrery
