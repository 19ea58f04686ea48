#include "app/version_check.h"

#include <QStringList>

#include <algorithm>

namespace orrery {
namespace {

// The leading digits of a component ("3rc1" is 3); none is 0. Capped, so garbage never overflows.
qint64 componentValue(const QString& part) {
  qint64 value = 0;
  for (QChar c : part.trimmed()) {
    if (!c.isDigit() || c.unicode() > '9') break;
    value = std::min<qint64>(value * 10 + (c.unicode() - '0'), 1'000'000'000);
  }
  return value;
}

}  // namespace

int compareVersions(const QString& a, const QString& b) {
  const QStringList pa = a.split(QLatin1Char('.'));
  const QStringList pb = b.split(QLatin1Char('.'));
  const qsizetype n = std::max(pa.size(), pb.size());
  for (qsizetype i = 0; i < n; ++i) {
    const qint64 va = i < pa.size() ? componentValue(pa[i]) : 0;
    const qint64 vb = i < pb.size() ? componentValue(pb[i]) : 0;
    if (va != vb) return va < vb ? -1 : 1;
  }
  return 0;
}

}  // namespace orrery
