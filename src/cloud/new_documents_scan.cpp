#include "cloud/new_documents_scan.h"

#include "model/idea_document.h"

#include "platform/cloud/conflict_copy_name.h"
#include "platform/cloud/file_version.h"
#include "platform/cloud/metadata_query.h"
#include "platform/core/dispatch.h"

namespace orrery {

void scanForNewDocuments(const QString& folder, QSet<QString> known, QSet<QString> listedCopies,
                         std::function<void(const QStringList&)> answer) {
  platform::globalQueue(platform::QueuePriority::Default)
      .async([folder, known = std::move(known), listedCopies = std::move(listedCopies), answer = std::move(answer)] {
        platform::FileVersion::collectConflictCopies(folder, listedCopies);
        QStringList added;
        for (const platform::MetadataItem& item : platform::MetadataQuery::scan(folder, QStringLiteral("*.orrx")))
          if (!item.fsName.startsWith(QLatin1Char('.')) && !known.contains(item.fsName)) added << item.fsName;
        platform::mainQueue().async([answer, added] {
          if (answer) answer(added);
        });
      });
}

QSet<QString> conflictCopyNames(const QStringList& names) {
  QSet<QString> copies;
  for (const QString& name : names)
    if (IdeaDocument::fileNamingSchemeMatches(platform::parseConflictCopyName(name).original)) copies.insert(name);
  return copies;
}

}  // namespace orrery
