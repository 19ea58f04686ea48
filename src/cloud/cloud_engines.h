#pragma once
// The storage engines of the cloud locations, as the application installs them on the
// persistence facade at start-up. Main thread only.

#include "model/document_location.h"
#include "model/persistence_state.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

namespace orrery {

// The program's application key at the cloud-storage service (15 lowercase letters and digits).
inline constexpr char kDropboxAppKey[] = "orrerydesktop01";

// A new engine for the location: CloudMode for iCloud, DropboxFolderManager over the mirror
// folder "dropbox" for Dropbox, none for a location without one here.
std::shared_ptr<PersistenceState> cloudEngineForLocation(DocumentLocation location);

// Sets up the Dropbox sign-in with the application key (a kept sign-in installs its client)
// and lets the facade build the cloud workspaces over these engines; the chosen storage's
// workspace appears at once.
void installCloudEngines();

// Hands a sign-in redirect to the Dropbox library; the completion hears "success", "cancel" or
// "error" with a description, and nothing when the URL was no sign-in redirect.
void handleDropboxRedirect(const QUrl& url, std::function<void(const QString& kind, const QString& description)> completion);

}  // namespace orrery
