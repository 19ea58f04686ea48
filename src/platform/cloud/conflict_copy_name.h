#pragma once
// The names folder-sync tools give the copy they leave beside a file that changed on two
// machines at once:
//   Syncthing            "<stem>.sync-conflict-<date>-<time>-<device>.<ext>"
//   Dropbox, Nextcloud   "<stem> (<who>'s conflicted copy <date>).<ext>",
//                        "<stem> (conflicted copy <date> <time>).<ext>"
//   ownCloud             "<stem>_conflict-<yyyymmdd>-<hhmmss>.<ext>"
//   Seafile              "<stem> (SFConflict <who> <date>).<ext>"
//   Google Drive, Insync "<stem> (<n>).<ext>"
// Any thread.

#include <QString>
#include <QStringList>

namespace platform {

struct ConflictCopyName {
  QString original;  // "<stem>.<ext>", the file the copy belongs to
  QString mark;      // what the tool added, e.g. "Machine B's conflicted copy 2026-12-08"
  bool isCopy() const { return !original.isEmpty(); }
};

// Both parts empty for a name that is no conflict copy (or has no extension).
ConflictCopyName parseConflictCopyName(const QString& name);
// The conflict copies in `folder` whose original is `original` (any original when empty), by
// name, in name order. A folder of thousands of documents is read without a stat per entry.
QStringList conflictCopiesIn(const QString& folder, const QString& original = QString());

}  // namespace platform
