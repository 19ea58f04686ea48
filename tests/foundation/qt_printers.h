#pragma once
// Readable Qt values in test failure messages.

#include <QByteArray>
#include <QString>

#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QByteArray& b, std::ostream* os) {
  *os << "QByteArray(" << b.size() << " bytes: " << b.left(32).toHex().toStdString() << (b.size() > 32 ? "…)" : ")");
}
