#pragma once
// The storage engines of the cloud locations, as the application installs them on the
// persistence facade at start-up. Main thread only.

#include "model/document_location.h"
#include "model/persistence_state.h"

#include <memory>

namespace orrery {

// A new engine for the location: CloudMode for iCloud, none for a location without one here.
std::shared_ptr<PersistenceState> cloudEngineForLocation(DocumentLocation location);

// Lets the facade build the cloud workspaces over these engines; the chosen storage's
// workspace appears at once.
void installCloudEngines();

}  // namespace orrery
