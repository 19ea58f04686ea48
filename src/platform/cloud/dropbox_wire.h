#pragma once
// The service's v2 wire format: request arguments as JSON and the answers read back. Every
// answer is untrusted: a parser gives a value or none, never throws, and ignores what it does
// not know. Any thread.

#include "platform/cloud/remote_routes.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace platform::dropboxwire {

// Compact JSON with every character beyond ASCII as \uXXXX (UTF-16 units), as an HTTP
// header can carry it.
QByteArray asciiJSON(const QJsonObject& object);

// A metadata object (".tag" file, folder or deleted); none without a usable ".tag" and path.
std::optional<RemoteMetadata> parseMetadata(const QJsonObject& object);
std::optional<RemoteMetadata> parseMetadata(const QByteArray& json);
// A delete_v2 answer: {"metadata": {...}}.
std::optional<RemoteMetadata> parseDeleteResult(const QByteArray& json);
std::optional<RemoteListResult> parseListResult(const QByteArray& json);

// The route of a 409 answer decides where its error sits.
enum class RouteKind { Lookup, Upload, Delete, Other };
RemoteRouteError parseRouteError(const QByteArray& json, RouteKind route);

struct TokenAnswer {
  QString accessToken;
  QString refreshToken;  // empty when the answer carries none (a refresh)
};
std::optional<TokenAnswer> parseTokenAnswer(const QByteArray& json);

// Seconds a Retry-After header asks for (delta-seconds only), capped; none when unusable.
std::optional<double> parseRetryAfter(const QByteArray& value, double cap);

}  // namespace platform::dropboxwire
