#include "cloud/cloud_engines.h"

#include "cloud/cloud_mode.h"
#include "cloud/dropbox_folder_manager.h"

#include "model/persistence_controller.h"
#include "model/workspace.h"
#include "platform/cloud/remote_routes.h"

namespace orrery {

std::shared_ptr<PersistenceState> cloudEngineForLocation(DocumentLocation location) {
  if (location == DocumentLocationICloud) return CloudMode::create();
  if (location == DocumentLocationDropbox) return DropboxFolderManager::createWithLocalFolder(QStringLiteral("dropbox"));
  return nullptr;
}

void installCloudEngines() {
  // A refresh token kept by an earlier sign-in installs the Dropbox client before any engine
  // asks for it.
  platform::DropboxClientsManager::setupWithAppKeyDesktop(QLatin1String(kDropboxAppKey));
  PersistenceController::singleton().setWorkspaceFactory(Workspace::factoryWithEngines(cloudEngineForLocation));
}

}  // namespace orrery
