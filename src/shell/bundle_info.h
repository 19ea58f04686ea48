#pragma once
// The application bundle's facts from "sdk/Info.plist" (the same file the SDK reads): the
// version strings the what's-new screen and the version check use. Read once; a test may
// replace the values. Main thread only.

#include <QString>
#include <QVariantMap>

namespace orrery {

class BundleInfo {
 public:
  // The top-level string of `key`, or empty.
  static QString value(const QString& key);
  static QString shortVersionString() { return value(QStringLiteral("CFBundleShortVersionString")); }
  static QString bundleVersion() { return value(QStringLiteral("CFBundleVersion")); }
  // Replaces the values (an empty map reads the file again); returns the previous ones.
  static QVariantMap setValues(const QVariantMap& values);
  // The top-level string entries of a property list text.
  static QVariantMap parse(const QByteArray& plist);
};

}  // namespace orrery
