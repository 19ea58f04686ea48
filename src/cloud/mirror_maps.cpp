#include "cloud/mirror_maps.h"

#include "cloud/regular_file.h"

#include "foundation/globals.h"
#include "foundation/logging.h"
#include "model/document_limits.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "platform/cloud/metadata_query.h"

#include <QDateTime>
#include <QDir>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <iterator>
#include <limits>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

namespace orrery {

namespace {

struct Version {
  QString name;
  QString map;  // root idea and creation date
  QString installation;
  qint64 modified = 0;
  // The engine's "file<ms>_<n>.orrx": made later means written later.
  qint64 madeAt = 0;
  qint64 counter = 0;

  auto newestOrder() const { return std::tie(modified, madeAt, counter, name); }
  auto madeOrder() const { return std::tie(madeAt, counter, name); }
};

qint64 millisOf(const QDateTime& date) {
  return date.isValid() ? date.toMSecsSinceEpoch() : std::numeric_limits<qint64>::min();
}

Version madeVersion(const QString& name) {
  static const QRegularExpression made(QStringLiteral("^file(\\d+)_(\\d+)\\.orrx$"));
  Version version;
  version.name = name;
  if (const auto match = made.match(name); match.hasMatch()) {
    version.madeAt = match.captured(1).toLongLong();
    version.counter = match.captured(2).toLongLong();
  }
  return version;
}

// The version in the file, or none; a file that is there and holds no readable map is logged.
std::optional<Version> readVersion(const QString& folder, const QString& name) {
  const QString path = QDir(folder).filePath(name);
  QByteArray bytes;
  QString why;
  std::shared_ptr<IdeaDocument> doc;
  const RegularFileRead read = readRegularFile(path, DocumentLimits::kMaxJSONBytes, &bytes, &why);
  if (read == RegularFileRead::Missing) return std::nullopt;
  if (read == RegularFileRead::Read) {
    DocumentError error;
    doc = IdeaDocument::fromFileBytes(bytes, /*compressed=*/true, &error);
    why = error.description;
  }
  if (!doc || !doc->idea()) {
    logLine(QStringLiteral("Dropbox: %1 holds no readable map: %2; it is left in place").arg(path, why));
    return std::nullopt;
  }
  Version version = madeVersion(name);
  version.map = doc->idea()->identifier() + QLatin1Char('\n') + QString::number(millisOf(doc->dateCreated()));
  version.installation = doc->appInstallation();
  version.modified = millisOf(doc->dateModified());
  return version;
}

QStringList newestOfEachMapAndWriter(const std::vector<Version>& versions) {
  QHash<QString, const Version*> newest;
  for (const Version& version : versions) {
    const QString writer = version.map + QLatin1Char('\n') + version.installation;
    if (auto it = newest.find(writer); it == newest.end() || (*it)->newestOrder() < version.newestOrder())
      newest.insert(writer, &version);
  }
  QStringList names;
  names.reserve(newest.size());
  for (const Version* version : newest) names << version->name;
  names.sort();
  return names;
}

}  // namespace

QStringList newestMapVersionsIn(const QString& folder) {
  std::vector<Version> versions;
  for (const platform::MetadataItem& item : platform::MetadataQuery::scan(folder, QStringLiteral("*.orrx")))
    if (auto version = readVersion(folder, item.fsName)) versions.push_back(std::move(*version));
  return newestOfEachMapAndWriter(versions);
}

UnnamedMapFiles sortUnnamedMapFiles(const QString& folder, const QStringList& unnamed,
                                    const QHash<QString, DocumentInfoPtr>& records) {
  UnnamedMapFiles sorted;
  QHash<QString, std::vector<Version>> waiting;
  for (const QString& name : unnamed)
    if (auto version = readVersion(folder, name)) waiting[version->map].push_back(std::move(*version));
  if (waiting.isEmpty()) return sorted;

  struct Named {
    Version made;
    QString key;
    bool deleting;
  };
  std::vector<Named> named;
  QSet<QString> seen;
  for (auto it = records.cbegin(); it != records.cend(); ++it) {
    const DocumentInfoPtr& record = it.value();
    for (const SyncFileInfoPtr* info : {&record->input(), &record->current(), &record->output()})
      if (SyncFileInfo::hasFile(*info) && !seen.contains((*info)->name())) {
        seen.insert((*info)->name());
        named.push_back({madeVersion((*info)->name()), it.key(), SyncFileInfo::isDeleted(record->output())});
      }
  }
  // The first version of a map read this way is the newest one a record names.
  std::sort(named.begin(), named.end(),
            [](const Named& a, const Named& b) { return b.made.madeOrder() < a.made.madeOrder(); });
  const QString here = Globals::appInstallation();
  for (const Named& file : named) {
    if (waiting.isEmpty()) break;
    const auto version = readVersion(folder, file.made.name);
    if (!version) continue;
    const auto it = waiting.find(version->map);
    if (it == waiting.end()) continue;
    const Version* newer = nullptr;
    for (const Version& other : *it) {
      if (file.deleting || other.madeOrder() < version->madeOrder())
        sorted.older << other.name;
      else if (other.installation == here && (!newer || newer->madeOrder() < other.madeOrder()))
        newer = &other;
    }
    if (newer && !sorted.newer.contains(file.key)) sorted.newer.insert(file.key, newer->name);
    waiting.erase(it);
  }
  std::vector<Version> unrecorded;
  for (auto& versions : waiting) std::move(versions.begin(), versions.end(), std::back_inserter(unrecorded));
  sorted.withoutRecord = newestOfEachMapAndWriter(unrecorded);
  return sorted;
}

}  // namespace orrery
