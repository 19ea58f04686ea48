#include "cloud/mirror_maps.h"

#include "cloud/regular_file.h"

#include "foundation/logging.h"
#include "model/document_limits.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "platform/cloud/metadata_query.h"

#include <QDateTime>
#include <QHash>
#include <QRegularExpression>

#include <limits>
#include <tuple>

namespace orrery {

namespace {

struct Version {
  QString name;
  qint64 modified = 0;
  // The engine's "file<ms>_<n>.orrx": made later means written later.
  qint64 madeAt = 0;
  qint64 counter = 0;

  auto order() const { return std::tie(modified, madeAt, counter, name); }
};

qint64 millisOf(const QDateTime& date) {
  return date.isValid() ? date.toMSecsSinceEpoch() : std::numeric_limits<qint64>::min();
}

Version versionOf(const QString& name, const IdeaDocument& doc) {
  static const QRegularExpression made(QStringLiteral("^file(\\d+)_(\\d+)\\.orrx$"));
  Version version{name, millisOf(doc.dateModified())};
  if (const auto match = made.match(name); match.hasMatch()) {
    version.madeAt = match.captured(1).toLongLong();
    version.counter = match.captured(2).toLongLong();
  }
  return version;
}

}  // namespace

QStringList newestMapVersionsIn(const QString& folder) {
  QHash<QString, Version> newest;
  for (const platform::MetadataItem& item : platform::MetadataQuery::scan(folder, QStringLiteral("*.orrx"))) {
    QByteArray bytes;
    QString why;
    std::shared_ptr<IdeaDocument> doc;
    if (readRegularFile(item.path, DocumentLimits::kMaxJSONBytes, &bytes, &why) == RegularFileRead::Read) {
      DocumentError error;
      doc = IdeaDocument::fromFileBytes(bytes, /*compressed=*/true, &error);
      why = error.description;
    }
    if (!doc || !doc->idea()) {
      logLine(QStringLiteral("Dropbox: %1 holds no readable map: %2").arg(item.path, why));
      continue;
    }
    const QString map = doc->idea()->identifier() + QLatin1Char('\n') +
                        QString::number(millisOf(doc->dateCreated())) + QLatin1Char('\n') + doc->appInstallation();
    const Version version = versionOf(item.fsName, *doc);
    if (auto it = newest.find(map); it == newest.end() || it->order() < version.order()) newest.insert(map, version);
  }
  QStringList names;
  names.reserve(newest.size());
  for (const Version& version : newest) names << version.name;
  names.sort();
  return names;
}

}  // namespace orrery
