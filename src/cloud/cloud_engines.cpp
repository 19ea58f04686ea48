#include "cloud/cloud_engines.h"

#include "cloud/cloud_mode.h"

#include "model/persistence_controller.h"
#include "model/workspace.h"

namespace orrery {

std::shared_ptr<PersistenceState> cloudEngineForLocation(DocumentLocation location) {
  if (location == DocumentLocationICloud) return CloudMode::create();
  return nullptr;
}

void installCloudEngines() {
  PersistenceController::singleton().setWorkspaceFactory(Workspace::factoryWithEngines(cloudEngineForLocation));
}

}  // namespace orrery
