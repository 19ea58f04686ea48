#pragma once
// The Qt platforms whose plugin is installed where Qt will look for it. A platform named on the
// command line or in QT_QPA_PLATFORM that has none makes Qt abort, which would look like a crash;
// the start asks here first. Nothing is loaded: a plugin named as Qt names its own ("libqxcb.so")
// is taken for its platform, and only a platform without one costs reading every plugin's
// metadata (about a millisecond).

#include <QString>
#include <QStringList>

namespace orrery {

class QtPlatformPlugins {
 public:
  // `arguments` are the command line's, without the program's name (for -platformpluginpath).
  explicit QtPlatformPlugins(const QStringList& arguments);

  // Whether a plugin answers to `platform` (its name, without options), as Qt compares them.
  bool has(const QString& platform);
  // The folders looked in that exist, and the platforms found there: for saying why one is
  // missing.
  const QStringList& folders() const { return mFolders; }
  const QStringList& platforms();

 private:
  QStringList mFolders;
  QStringList mPlatforms;  // sorted, lower case; read on first need
  bool mRead = false;
};

}  // namespace orrery
