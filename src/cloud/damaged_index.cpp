#include "cloud/damaged_index.h"

#include "foundation/globals.h"
#include "model/document_limits.h"
#include "model/idea_proxy.h"
#include "model/index_document.h"

#include "platform/services/file_coordinator.h"
#include "platform/services/qt_regular_file.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <utility>

namespace orrery {

namespace {

// The whole file, or nothing when it is missing, no plain file, or does not read to its end.
bool readWhole(const QString& path, QByteArray* bytes) {
  const QFileInfo info(path);
  if (info.isSymLink() || !info.isFile()) return false;
  // Larger than an index may be, it holds none: it reads as nothing, without being read.
  if (info.size() > DocumentLimits::kMaxIndexFileBytes) {
    bytes->clear();
    return true;
  }
  return platform::readRegularFile(path, DocumentLimits::kMaxIndexFileBytes, bytes) == platform::RegularFileRead::Read;
}

QString freeAsideName(const QString& path) {
  const QString stem = path + QStringLiteral(".damaged-") +
                       QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
  QString target = stem;
  for (int n = 2; QFileInfo::exists(target) || QFileInfo(target).isSymLink(); ++n)
    target = stem + QStringLiteral("-%1").arg(n);
  return target;
}

}  // namespace

QString setDamagedIndexAside(const QString& path, const platform::FilePresenter* presenter, QString* failure) {
  QByteArray bytes;
  if (!readWhole(path, &bytes)) return {};
  QString target;
  bool moved = false;
  // Coordinated: another instance may be setting the same file aside, or have written a good
  // index since.
  platform::FileCoordinator coordinator(presenter);
  QString refusal;
  const bool granted = coordinator.coordinateWriting(
      path,
      [&](const QString& p) {
        ProxyList probe;
        if (!readWhole(p, &bytes) || IndexDocument::listFromContents(bytes, probe)) return;
        target = freeAsideName(p);
        moved = std::rename(QFile::encodeName(p).constData(), QFile::encodeName(target).constData()) == 0;
      },
      &refusal);
  if (!granted) {
    if (failure) *failure = refusal;
    return {};
  }
  if (target.isEmpty()) return {};
  if (!moved) {
    if (failure) *failure = QStringLiteral("%1 cannot be renamed to %2").arg(path, target);
    return {};
  }
  return QFileInfo(target).fileName();
}

namespace {
QStringList& cloudNotices() {
  static QStringList waiting;
  return waiting;
}
}  // namespace

void leaveCloudNotice(const QString& message) { cloudNotices().append(message); }

QStringList takeCloudNotices() { return std::exchange(cloudNotices(), {}); }

QString damagedIndexMessage(const QString& keptAs) {
  return Globals::normalLocalizedStringForKey(
             QStringLiteral("CloudIndexSetAside:Message"),
             QStringLiteral("The list of iCloud documents was damaged and could not be read. Orrery lists the "
                            "documents in the folder instead and keeps the damaged list as \u201C%1\u201D."))
      .arg(keptAs);
}

}  // namespace orrery
