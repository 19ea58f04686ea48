#include "shell/bundle_info.h"

#include "platform/services/qt_regular_file.h"
#include "platform/services/resources.h"

#include <QXmlStreamReader>

#include <optional>

namespace orrery {
namespace {

std::optional<QVariantMap>& cached() {
  static std::optional<QVariantMap> values;
  return values;
}

}  // namespace

QVariantMap BundleInfo::parse(const QByteArray& plist) {
  QVariantMap values;
  QXmlStreamReader xml(plist);
  int depth = 0;  // 1 inside the top-level dictionary
  QString key;
  while (!xml.atEnd()) {
    const auto token = xml.readNext();
    if (token == QXmlStreamReader::StartElement) {
      const auto name = xml.name();
      if (name == QLatin1String("dict") || name == QLatin1String("array")) {
        ++depth;
        key.clear();
      } else if (depth == 1 && name == QLatin1String("key")) {
        key = xml.readElementText();
      } else if (depth == 1 && name == QLatin1String("string") && !key.isEmpty()) {
        values.insert(key, xml.readElementText());
        key.clear();
      } else if (depth == 1) {
        key.clear();
      }
    } else if (token == QXmlStreamReader::EndElement) {
      const auto name = xml.name();
      if (name == QLatin1String("dict") || name == QLatin1String("array")) --depth;
    }
  }
  return values;
}

QString BundleInfo::value(const QString& key) {
  auto& values = cached();
  if (!values) {
    const QString path = platform::pathForResource(QStringLiteral("sdk/Info.plist"));
    QByteArray bytes;
    values =
        platform::readRegularFile(path, platform::kMaxInstalledFileBytes, &bytes) == platform::RegularFileRead::Read
            ? parse(bytes)
            : QVariantMap();
  }
  return values->value(key).toString();
}

QVariantMap BundleInfo::setValues(const QVariantMap& values) {
  auto& current = cached();
  QVariantMap previous = current.value_or(QVariantMap());
  if (values.isEmpty())
    current.reset();
  else
    current = values;
  return previous;
}

}  // namespace orrery
