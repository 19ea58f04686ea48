#pragma once
// Where a document lives, the tokens its openers hold, and the errors of its file format.

#include <QString>

#include <cstdint>

namespace orrery {

using DocumentLocation = std::uint64_t;
inline constexpr DocumentLocation DocumentLocationTemp = 0;       // "temp:/"
inline constexpr DocumentLocation DocumentLocationLocalFile = 1;  // "file://"
inline constexpr DocumentLocation DocumentLocationICloud = 2;     // "iCloud:/"
inline constexpr DocumentLocation DocumentLocationDropbox = 3;    // "dropbox:/"

inline bool isCloudLocation(DocumentLocation location) {
  return location == DocumentLocationICloud || location == DocumentLocationDropbox;
}

// Positive for a live opener; 0 or less in a completion means failure.
using DocumentToken = std::int64_t;

// Posted with the document as object when another running instance changed its file.
inline constexpr char IdeaDocumentChangedNotification[] = "IdeaDocumentChangedNotification";

inline constexpr char kDocumentErrorDomain[] = "document";
inline constexpr int kDocumentErrorInvalidFormat = 100;
inline constexpr int kDocumentErrorNewerVersion = 150;
// Beyond what one document may hold (see IdeaDocument's bounds), or out of memory reading it.
inline constexpr int kDocumentErrorTooLarge = 110;
// The read was dropped by the quit before it started: nothing is wrong with the file.
inline constexpr int kDocumentErrorCancelled = 120;

struct DocumentError {
  QString domain;
  int code = 0;
  QString description;

  // Only logged: a cancelled open shows no alert.
  static DocumentError cancelled() {
    return {QString::fromLatin1(kDocumentErrorDomain), kDocumentErrorCancelled, QStringLiteral("cancelled by the quit")};
  }
  bool isCancelled() const { return code == kDocumentErrorCancelled && domain == QLatin1String(kDocumentErrorDomain); }
};

}  // namespace orrery
