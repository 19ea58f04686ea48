#pragma once
// What every document fuzz target checks once a document has loaded: it saves, the saved file
// reads back with the same tree, and once dated it saves the same bytes again and again.

#include "model/idea_document.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cstdio>
#include <cstdlib>

namespace fuzzsupport {

[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "round trip broken: %s\n", what);
  std::abort();
}

// The idea tree as saved, without the dates: an undated document is dated by its first save.
inline QJsonValue savedTree(const QByteArray& json) {
  return QJsonDocument::fromJson(json).object().value(QStringLiteral("ideaDocumentDataObject")).toObject().value(QStringLiteral("idea"));
}

inline void checkDocumentRoundTrip(const orrery::IdeaDocument& loaded) {
  const QByteArray first = loaded.exportAsPureJSONData();
  if (first.isEmpty()) fail("a loaded document saves no JSON");
  auto again = orrery::IdeaDocument::createWithIdentifier(QStringLiteral("temp:/round-trip.orrery"));
  if (!again->loadFromJSONData(first)) fail("the saved JSON does not read back");
  const QByteArray json = again->exportAsPureJSONData();
  if (savedTree(json) != savedTree(first)) fail("the tree read back saves differently");

  const QByteArray file = again->exportAsOrreryData();
  auto fromFile = orrery::IdeaDocument::createWithIdentifier(QStringLiteral("temp:/round-trip-file.orrery"));
  if (!fromFile->loadFromOrreryData(file)) fail("the saved document file does not read back");
  if (fromFile->exportAsPureJSONData() != json) fail("the document file read back saves differently");
}

}  // namespace fuzzsupport
