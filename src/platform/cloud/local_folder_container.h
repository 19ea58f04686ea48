#pragma once
// The iCloud container, stood in for by a local folder that any folder-sync tool (or a second
// machine's copy) keeps in step with the cloud. The root is $ORRERY_CLOUD_CONTAINER, else the
// user default "CloudContainerFolder", else "<application support>/cloud-container". Documents
// live in "<root>/Documents"; "<root>/.identity" holds the identity token (the account), and
// "<root>/.versions" the conflict versions (file_version.h).
//
// A root is the container while it holds an identity. The program makes one (and the default
// root's folder) when the user connects to the container, and in the default root also at its
// first look-up when it was never made (the iCloud choice stored before any folder was); one
// that came with the folder (another machine's copy, an earlier run) is taken as found. A root
// that is missing, read-only, or without an identity (an unmounted share's empty mount point, an
// empty folder where the container was) gives no container and no identity, and nothing is
// written into it; the edits wait for the real one.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

// Posted on the main queue, object none, when the identity token changed (appeared, went, or
// was replaced).
inline constexpr char kUbiquityIdentityDidChangeNotification[] = "UbiquityIdentityDidChangeNotification";
inline constexpr char kCloudContainerEnvironment[] = "ORRERY_CLOUD_CONTAINER";
inline constexpr char kCloudContainerFolderKey[] = "CloudContainerFolder";
// The user default naming the default root once the program made it (or found it made).
inline constexpr char kDefaultCloudContainerMadeKey[] = "DefaultCloudContainerMade";

class LocalFolderContainer {
 public:
  struct Root {
    QString path;
    bool isDefault = false;  // neither the environment nor the user default chose it
  };

  // Seconds between two re-reads of the identity token; presented files are re-stat'ed as
  // often, since change notices miss network file systems.
  static constexpr double kPollSeconds = 5.0;

  static Root root();
  // The root, usable as it is now (the default one made when it never was); empty when
  // unreachable. Blocks on the file system.
  static QString reachableRoot();
  // The user connects to the container: the container is made in the root when it lacks one
  // (the default root's folder made too when missing, whether or not it was made before); the
  // folder of a root that was set is never made. False when the root cannot be had. Blocks on
  // the file system: call it off the main thread.
  static bool connect();
  // connect() on a global queue; the block gets its answer on the main queue.
  static void connectInBackground(std::function<void(bool reachable)> block);
  // "<root>/Documents", made when missing; empty when the container is unreachable. Blocks on
  // the file system: call it off the main thread.
  static QString documentsFolder();
  // Looks the Documents folder up on a global queue and answers on the main queue.
  static void fetchDocumentsFolder(std::function<void(const QString& folder)> block);
  // The text of "<root>/.identity" (created exclusively, holding a new UUID, where the container
  // is made); empty when there is no reachable root or the file is unreadable.
  static QString identityToken();
};

// Re-reads the identity token every kPollSeconds and whenever the root folder changes,
// posting kUbiquityIdentityDidChangeNotification on the main queue when it differs from the
// last one read. Also re-checks presented files on every poll. The container may sit on a
// network mount that hangs: every touch of it runs on a global queue, never on the main
// thread. Runs while someone holds it. Main thread only.
class IdentityMonitor : public std::enable_shared_from_this<IdentityMonitor> {
 public:
  using TokenReader = std::function<QString()>;

  static std::shared_ptr<IdentityMonitor> shared();
  ~IdentityMonitor();
  // The token as last read.
  const QString& token() const { return mToken; }
  // Reads the token off the main thread; back on the main queue it is taken and the
  // notification posted when it changed.
  void check();
  // Replaces LocalFolderContainer::identityToken as the monitor's reader (tests); an empty
  // reader restores it. Called on the global queue.
  static void setTokenReader(TokenReader reader);

 private:
  struct Tag {};

 public:
  explicit IdentityMonitor(Tag);

 private:
  void schedule();
  // Follows the root and its identity file, of which `existing` exist.
  void watch(const QStringList& existing);

  QString mToken;
  // Reads started, and the latest one whose answer was taken.
  std::uint64_t mReadsStarted = 0;
  std::uint64_t mLatestReadTaken = 0;
  // The process's watcher follows the root folder and its identity file for this monitor.
  bool mWatching = false;
};

}  // namespace platform
