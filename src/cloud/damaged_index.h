#pragma once
// An iCloud index whose bytes do not read as an index (a transfer cut short, a disk error): it
// is set aside beside the documents under a name that says so, kept for whoever wants to look
// at it, so that a new index can list what is on disk instead of nothing being listed.

#include "platform/services/file_presenter.h"

#include <QString>

namespace orrery {

// Posted on the main queue, object none, once for each index set aside; the user info holds
// the message for the user under kCloudNoticeMessageKey (a QString) and, under
// kCloudNoticeToldKey, a std::shared_ptr<bool> that the one screen that shows it sets.
inline constexpr char CloudIndexSetAsideNotification[] = "CloudIndexSetAsideNotification";
inline constexpr char kCloudNoticeMessageKey[] = "message";
inline constexpr char kCloudNoticeToldKey[] = "told";

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
