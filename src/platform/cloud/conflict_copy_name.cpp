#include "platform/cloud/conflict_copy_name.h"

#include "platform/services/utf8_text.h"

#include <QFile>
#include <QRegularExpression>

#include <array>
#include <string_view>

#include <dirent.h>

namespace platform {

namespace {

// Each pattern captures the stem, the tool's mark and the extension (with its dot).
const std::array<QRegularExpression, 5>& patterns() {
  // Never destroyed: a documents query may still scan on a global queue while the process exits.
  static const auto* const all = new std::array<QRegularExpression, 5>{
      QRegularExpression(QStringLiteral("^(.+)\\.(sync-conflict-[^/]*)(\\.[^./]+)$")),
      QRegularExpression(QStringLiteral("^(.+) \\(([^/()]*conflicted copy[^/()]*)\\)(\\.[^./]+)$")),
      QRegularExpression(QStringLiteral("^(.+)_(conflict-[0-9]{8}-[0-9]{6})(\\.[^./]+)$")),
      QRegularExpression(QStringLiteral("^(.+) \\((SFConflict [^/()]*)\\)(\\.[^./]+)$")),
      QRegularExpression(QStringLiteral("^(.+) \\(([0-9]{1,4})\\)(\\.[^./]+)$"))};
  return *all;
}

}  // namespace

ConflictCopyName parseConflictCopyName(const QString& name) {
  if (name.contains(QLatin1Char('/')) || name.contains(QChar(0))) return {};
  for (const QRegularExpression& pattern : patterns()) {
    const QRegularExpressionMatch match = pattern.match(name);
    if (!match.hasMatch()) continue;
    const QString stem = match.captured(1);
    // A hidden stem would name a file no scan lists.
    if (stem.trimmed().isEmpty() || stem.startsWith(QLatin1Char('.'))) return {};
    return {stem + match.captured(3), match.captured(2)};
  }
  return {};
}

QStringList conflictCopiesIn(const QString& folder, const QString& original) {
  QStringList copies;
  DIR* dir = ::opendir(QFile::encodeName(folder).constData());
  if (!dir) return copies;
  while (const dirent* entry = ::readdir(dir)) {
    // Every pattern has one of these: most names are passed over without a parse.
    const std::string_view raw(entry->d_name);
    if (raw.find("onflict") == std::string_view::npos && raw.find(" (") == std::string_view::npos) continue;
    const QString name = textFromUtf8(raw);
    const ConflictCopyName copy = parseConflictCopyName(name);
    if (copy.isCopy() && (original.isEmpty() || copy.original == original)) copies << name;
  }
  ::closedir(dir);
  copies.sort();
  return copies;
}

}  // namespace platform
