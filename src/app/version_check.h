#pragma once
// Version strings compared as versions: numeric components from the left ("1.10" is newer
// than "1.5"); a missing, empty or non-numeric component counts as 0.

#include <QString>

namespace orrery {

// Negative, zero or positive as `a` is older than, the same as or newer than `b`.
int compareVersions(const QString& a, const QString& b);

}  // namespace orrery
