#include "cloud/index_conflict_copies.h"

#include "foundation/logging.h"
#include "model/idea_document.h"
#include "model/index_document.h"

#include "platform/cloud/conflict_copy_name.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace orrery {

int mergeIndexConflictCopies(const QString& path, const platform::FilePresenter* presenter, ProxyList& list) {
  const QFileInfo index(path);
  const QStringList copies = platform::conflictCopiesIn(index.absolutePath(), index.fileName());
  if (copies.isEmpty()) return 0;
  const QString folder = index.absolutePath();
  QSet<QString> listed;
  for (const IdeaProxyPtr& proxy : list)
    if (proxy) listed.insert(proxy->docIdentifier());
  int added = 0;
  QStringList taken;
  for (const QString& name : copies) {
    const QString copy = folder + QLatin1Char('/') + name;
    ProxyList theirs;
    if (QFileInfo(copy).isSymLink() || !QFileInfo(copy).isFile() ||
        !IndexDocument::readListFromFile(copy, presenter, theirs)) {
      logLine(QStringLiteral("CloudMode: the index copy %1 does not read; it stays").arg(copy));
      continue;
    }
    taken << copy;
    for (const IdeaProxyPtr& proxy : theirs) {
      if (!proxy || listed.contains(proxy->docIdentifier())) continue;
      // Only documents that are here: the entry of a document deleted since would list nothing.
      const QString file = IdeaDocument::pathFromIdentifier(proxy->docIdentifier());
      if (!IdeaDocument::fileNamingSchemeMatches(file) || file.contains(QLatin1Char('/')) ||
          !QFileInfo(folder + QLatin1Char('/') + file).isFile())
        continue;
      listed.insert(proxy->docIdentifier());
      list.push_back(proxy);
      ++added;
    }
  }
  QString failure;
  if (added > 0 && !IndexDocument::writeListToFile(path, presenter, list, &failure)) {
    // The copies keep what the file lacks until a later read writes it.
    logLine(QStringLiteral("CloudMode: the merged index %1 cannot be written: %2").arg(path, failure));
    return added;
  }
  for (const QString& copy : taken) QFile::remove(copy);
  return added;
}

}  // namespace orrery
