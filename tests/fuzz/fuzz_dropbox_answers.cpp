// Answers of the cloud-storage service are untrusted: every reader gives a value or none, and
// what a listing names goes through the engine's listing rules without harm.

#include "fuzz/fuzz_qt.h"

#include "cloud/dropbox_sync_rules.h"
#include "platform/cloud/dropbox_wire.h"

#include <cstdio>
#include <cstdlib>

namespace {
[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "broken: %s\n", what);
  std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace wire = platform::dropboxwire;
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  for (auto route : {wire::RouteKind::Lookup, wire::RouteKind::Upload, wire::RouteKind::Delete, wire::RouteKind::Other})
    wire::parseRouteError(bytes, route);
  wire::parseMetadata(bytes);
  wire::parseDeleteResult(bytes);
  wire::parseTokenAnswer(bytes);
  if (auto seconds = wire::parseRetryAfter(bytes, 60); seconds && (*seconds < 0 || *seconds > 60))
    fail("a Retry-After beyond its bounds");
  const auto list = wire::parseListResult(bytes);
  if (!list) return 0;
  if (list->hasMore && list->cursor.isEmpty()) fail("more pages without a cursor");
  orrery::DocumentInfoPtr index;
  for (const auto& entry : list->entries) {
    if (entry.kind == platform::RemoteMetadata::Kind::File && entry.rev.isEmpty()) fail("a file without a rev");
    if (orrery::dropboxrules::isIndexPath(entry.pathLower)) {
      index = orrery::dropboxrules::markForLoadingIfNeeded(entry.rev, index);
    } else if (orrery::dropboxrules::isDocumentPath(entry.pathLower)) {
      const QString key = orrery::dropboxrules::fileURLFromDropboxPath(entry.pathLower);
      // A name the engine keeps must lead back to the same file and stay in the folder.
      if (orrery::dropboxrules::dropboxPathFromFileURL(key) != entry.pathLower) fail("a key that names another file");
      if (entry.pathLower.mid(1).contains('/')) fail("a document outside the folder's root");
      orrery::dropboxrules::markForLoadingIfNeeded(entry.rev, nullptr);
    }
  }
  return 0;
}
