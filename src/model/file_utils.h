#pragma once
// The application's scratch folder "orrery_temp" in the user's private temporary folder:
// a folder per run, fresh staging folders under it (the web exports assemble their
// archives there), and the emptying of the scratch folder at start-up. Besides it, the
// hand-off folder of files given to other programs (the mail program), which a start does not
// empty: the user may still have to attach a file by hand.

#include <QString>

#include <chrono>
#include <functional>

namespace orrery {

class FileUtil {
 public:
  FileUtil() = delete;

  // The run name: a UUID made once per process.
  static QString uniqueOrrerySession();
  // The scratch folder (not created here); empty when the private temporary folder cannot
  // be had.
  static QString temporaryDirectoryForOrrery();
  // A new staging folder, scratch folder / run name / new UUID, with missing parents;
  // empty when it cannot be created.
  static QString temporaryDirectoryForFile();
  // The sub-folder `name` of `folder`, created with missing parents (an existing one is
  // fine); empty on failure.
  static QString createDirectory(const QString& name, const QString& folder);
  // Lists the scratch folder's visible entries now and removes them on a global queue,
  // never following a symbolic link: a link is removed, not what it points to. Hidden
  // entries and the current run's folder stay. `done`, when given, runs on that queue
  // once every entry was tried.
  static void cleanTemporaryFilesDuringStartup(std::function<void()> done = {});

  // How long a handed-off file is kept: time enough to attach it after a restart or a weekend.
  static constexpr std::chrono::hours kHandOffKeptFor{24 * 7};
  // The hand-off folder: "mail" in the caches folder (not created here).
  static QString handOffDirectory();
  // A new folder for one handed-off file, hand-off folder / new UUID, the hand-off folder
  // private to the user; empty when it cannot be created.
  static QString handOffDirectoryForFile();
  // On a global queue, removes the hand-off folder's entries last changed longer than
  // kHandOffKeptFor ago, never following a symbolic link. `done`, when given, runs on that
  // queue once every entry was tried.
  static void cleanHandOffFilesDuringStartup(std::function<void()> done = {});
};

}  // namespace orrery
