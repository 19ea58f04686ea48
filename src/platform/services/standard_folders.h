#pragma once
// The folders the application keeps its files in, after the XDG conventions. Tests redirect
// any of them with setStandardFolderOverride so nothing touches the real home folder.

#include <QString>

namespace platform {

enum class StandardFolder {
  Config,              // settings (user defaults)
  ApplicationSupport,  // application data: unsaved documents, cloud stand-ins
  Caches,              // re-creatable files
  Temporary,           // the system temporary folder that the private one is made in
};

// The folder's path; not created here (except by privateTemporaryFolder).
QString standardFolder(StandardFolder kind);

// Replaces the folder for `kind`; an empty path restores the default.
void setStandardFolderOverride(StandardFolder kind, const QString& path);

QString configFolder();
QString applicationSupportFolder();
QString cachesFolder();

// A folder in the system temporary folder that only this user can enter: made with mode
// 0700, a symbolic link in its place is refused, its owner must be the effective user and
// group or other permission bits are removed. Empty when no such folder can be had.
QString privateTemporaryFolder();

// The private temporary folder when it exists already; never made here, for those that only
// look in it. Empty when there is none (or it is not private).
QString existingPrivateTemporaryFolder();

// Removes the folders left empty in the private temporary folder, and the folder itself when
// nothing is left in it: what a clean exit does.
void removeEmptyPrivateTemporaryFolders();

// Makes `path` (one level, its parent must exist) a private folder as above; true on success.
bool ensurePrivateFolder(const QString& path);

}  // namespace platform
