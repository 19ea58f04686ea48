#include "platform/cloud/remote_routes.h"

namespace platform {

namespace {
std::shared_ptr<DropboxClient>& installedClient() {
  static std::shared_ptr<DropboxClient> client;
  return client;
}
}  // namespace

std::shared_ptr<DropboxClient> DropboxClientsManager::authorizedClient() { return installedClient(); }

std::shared_ptr<DropboxClient> DropboxClientsManager::setAuthorizedClient(std::shared_ptr<DropboxClient> client) {
  auto previous = std::move(installedClient());
  installedClient() = std::move(client);
  return previous;
}

}  // namespace platform
