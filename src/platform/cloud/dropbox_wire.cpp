#include "platform/cloud/dropbox_wire.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace platform::dropboxwire {

namespace {

std::optional<QJsonObject> objectOf(const QByteArray& json) {
  QJsonParseError error;
  const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
  if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
  return doc.object();
}

QString tagOf(const QJsonValue& value) { return value.toObject().value(QStringLiteral(".tag")).toString(); }

}  // namespace

QByteArray asciiJSON(const QJsonObject& object) {
  const QString text = QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
  QByteArray out;
  out.reserve(text.size());
  for (const QChar c : text) {
    const char16_t unit = c.unicode();
    if (unit < 0x80) {
      out.append(char(unit));
    } else {
      out.append(QByteArray("\\u") + QByteArray::number(unit, 16).rightJustified(4, '0'));
    }
  }
  return out;
}

std::optional<RemoteMetadata> parseMetadata(const QJsonObject& object) {
  const QString tag = object.value(QStringLiteral(".tag")).toString();
  RemoteMetadata meta;
  if (tag == QLatin1String("file"))
    meta.kind = RemoteMetadata::Kind::File;
  else if (tag == QLatin1String("folder"))
    meta.kind = RemoteMetadata::Kind::Folder;
  else if (tag == QLatin1String("deleted"))
    meta.kind = RemoteMetadata::Kind::Deleted;
  else
    return std::nullopt;
  meta.pathLower = object.value(QStringLiteral("path_lower")).toString();
  if (meta.pathLower.isEmpty()) return std::nullopt;
  if (meta.kind == RemoteMetadata::Kind::File) {
    meta.rev = object.value(QStringLiteral("rev")).toString();
    if (meta.rev.isEmpty()) return std::nullopt;
  }
  return meta;
}

std::optional<RemoteMetadata> parseMetadata(const QByteArray& json) {
  const auto object = objectOf(json);
  if (!object) return std::nullopt;
  return parseMetadata(*object);
}

std::optional<RemoteMetadata> parseDeleteResult(const QByteArray& json) {
  const auto object = objectOf(json);
  if (!object) return std::nullopt;
  return parseMetadata(object->value(QStringLiteral("metadata")).toObject());
}

std::optional<RemoteListResult> parseListResult(const QByteArray& json) {
  const auto object = objectOf(json);
  if (!object || !object->value(QStringLiteral("entries")).isArray()) return std::nullopt;
  RemoteListResult result;
  for (const QJsonValue& entry : object->value(QStringLiteral("entries")).toArray())
    if (auto meta = parseMetadata(entry.toObject())) result.entries.push_back(std::move(*meta));
  result.cursor = object->value(QStringLiteral("cursor")).toString();
  result.hasMore = object->value(QStringLiteral("has_more")).toBool();
  // More pages without a cursor to reach them is no usable answer.
  if (result.hasMore && result.cursor.isEmpty()) return std::nullopt;
  return result;
}

RemoteRouteError parseRouteError(const QByteArray& json, RouteKind route) {
  RemoteRouteError error;
  const auto object = objectOf(json);
  if (!object) {
    error.summary = QStringLiteral("unreadable error");
    return error;
  }
  error.summary = object->value(QStringLiteral("error_summary")).toString();
  const QJsonObject body = object->value(QStringLiteral("error")).toObject();
  const QString tag = body.value(QStringLiteral(".tag")).toString();
  auto lookupTag = [](const QJsonValue& v) { return tagOf(v) == QLatin1String("not_found") ? RemoteRouteError::kNotFoundTag : 0; };
  auto writeTag = [](const QJsonValue& v) { return tagOf(v) == QLatin1String("conflict") ? RemoteRouteError::kConflictTag : 0; };
  switch (route) {
    case RouteKind::Lookup:
      if (tag == QLatin1String("path")) error = {RemoteRouteError::Kind::Path, lookupTag(body.value("path")), error.summary};
      break;
    case RouteKind::Upload:
      if (tag == QLatin1String("path"))
        error = {RemoteRouteError::Kind::Path, writeTag(body.value("path").toObject().value("reason")), error.summary};
      break;
    case RouteKind::Delete:
      if (tag == QLatin1String("path_lookup"))
        error = {RemoteRouteError::Kind::PathLookup, lookupTag(body.value("path_lookup")), error.summary};
      else if (tag == QLatin1String("path_write"))
        error = {RemoteRouteError::Kind::PathWrite, writeTag(body.value("path_write")), error.summary};
      break;
    case RouteKind::Other: break;
  }
  return error;
}

std::optional<TokenAnswer> parseTokenAnswer(const QByteArray& json) {
  const auto object = objectOf(json);
  if (!object) return std::nullopt;
  TokenAnswer answer{object->value(QStringLiteral("access_token")).toString(),
                     object->value(QStringLiteral("refresh_token")).toString()};
  if (answer.accessToken.isEmpty()) return std::nullopt;
  return answer;
}

std::optional<double> parseRetryAfter(const QByteArray& value, double cap) {
  bool ok = false;
  const qlonglong seconds = value.trimmed().toLongLong(&ok);
  if (!ok || seconds < 0) return std::nullopt;
  return std::min(double(seconds), cap);
}

}  // namespace platform::dropboxwire
