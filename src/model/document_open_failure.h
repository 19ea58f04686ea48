#pragma once
// The alert text of a document that could not be opened or imported: it names the file and
// gives the reader's reason ("The document is too large to open", "Newer Orrery version is
// needed"), so a refusal never reads as a bare "Failed to open file".

#include "foundation/my_result.h"
#include "model/document_location.h"

#include <QString>

namespace orrery {

// The reader's reason, else `fallback`, else whether the file is there at all.
QString documentOpenFailureReason(const QString& path, const DocumentError& error, const QString& fallback = {});

// "Failed to open file “<name>”: <reason>"; the shared USER_CANCEL value for a cancelled read,
// which no alert shows.
MyResultPtr documentOpenFailure(const QString& path, const DocumentError& error, const QString& fallback = {});
// "Failed to open file “<name>”: <reason>" for any file, a picture among them.
MyResultPtr namedFileOpenFailure(const QString& path, const QString& reason);

}  // namespace orrery
