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

void handleDropboxRedirect(const QUrl& url,
                           std::function<void(const QString& kind, const QString& description)> completion) {
  platform::DropboxClientsManager::handleRedirectURL(
      url, [completion = std::move(completion)](std::shared_ptr<platform::DropboxOAuthResult> result) {
        if (!result || !completion) return;
        completion(result->isSuccess() ? QStringLiteral("success")
                                       : result->isCancel() ? QStringLiteral("cancel") : QStringLiteral("error"),
                   result->description());
      });
}

}  // namespace orrery
