// A Dropbox engine in a process of its own, for the kill -9 test: it syncs with the app folder
// behind a loopback HTTPS server and saves documents one after another, printing
// "ACK <id> <text>" for each save it acknowledged. In "settle" mode it saves nothing and
// prints "SETTLED" once the engine has nothing left to do.
//
//   dropbox_crash_child <home> <origin> <ca.der> <access token> <refresh token> <launch> <seed> <edit|settle>

#include "cloud/dropbox_folder_manager.h"

#include "model/idea.h"
#include "model/idea_document.h"
#include "platform/cloud/http_routes.h"
#include "platform/core/run_loop.h"
#include "test_home.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>

#include <cstdio>
#include <random>

using namespace orrery;

namespace {

class Quiet final : public PersistenceStateDelegate {};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 9) return 2;
  if (!testsupport::redirectStandardFolders(QString::fromLocal8Bit(argv[1]))) return 2;
  QGuiApplication app(argc, argv);
  QCoreApplication::setOrganizationName("Orrery");
  QCoreApplication::setApplicationName("Orrery");

  auto loop = std::make_shared<platform::RunLoop>();
  platform::installMainQueuePoster(loop);
  loop->adoptCurrentThread();

  QFile ca(QString::fromLocal8Bit(argv[3]));
  if (!ca.open(QIODevice::ReadOnly)) return 2;
  platform::DropboxEndpoints endpoints;
  endpoints.apiBase = endpoints.contentBase = QString::fromLocal8Bit(argv[2]);
  endpoints.anchorsDER = {ca.readAll()};
  platform::DropboxClientsManager::setAuthorizedClient(std::make_shared<platform::DropboxClient>(
      platform::HttpRoutes::create(endpoints, {"testappkey12345", argv[5], argv[4]})));
  DropboxFolderManager::setNetworkProbe([] { return true; });

  const int launch = atoi(argv[6]);
  std::mt19937 random(std::uint32_t(atoi(argv[7])));
  const bool settle = QByteArray(argv[8]) == "settle";

  auto engine = DropboxFolderManager::createWithLocalFolder("dropbox");
  auto quiet = std::make_shared<Quiet>();
  engine->setDelegate(quiet);

  int seq = 0, created = 0;
  std::function<void()> next = [&] {
    if (!engine->state().isLocalStatusFileLoaded()) {
      platform::mainQueue().after(platform::Millis(5), next);
      return;
    }
    // Edits go to documents the engine knows, or to a new one.
    QStringList known;
    const auto& docs = engine->state().docs();
    for (auto it = docs.cbegin(); it != docs.cend(); ++it)
      if (SyncFileInfo::hasFile(it.value()->current()) || SyncFileInfo::hasFile(it.value()->output())) known << it.key();
    known.sort();
    const bool create = known.isEmpty() || random() % 4 == 0;
    const QString id = create ? QString("dropbox:/idl%1_%2.orrx").arg(launch).arg(++created)
                              : known[int(random() % std::uint32_t(known.size()))];
    const QString text = QString("%1-%2").arg(launch).arg(++seq, 6, 10, QChar('0'));
    auto doc = IdeaDocument::createWithIdentifier(id);
    doc->setIdea(Idea::createWithText(text));
    auto acknowledged = [id, text](bool ok) {
      if (ok) {
        std::printf("ACK %s %s\n", qPrintable(id), qPrintable(text));
        std::fflush(stdout);
      }
    };
    if (create)
      engine->createDocument(doc, [acknowledged, &next](DocumentToken t) {
        acknowledged(t > 0);
        next();
      });
    else
      engine->updateDocument(doc, 1, [acknowledged, &next](bool ok) {
        acknowledged(ok);
        next();
      });
  };
  std::function<void()> watch = [&] {
    if (engine->isSettled()) {
      std::printf("SETTLED\n");
      std::fflush(stdout);
      loop->stop();
      return;
    }
    platform::mainQueue().after(platform::Millis(20), watch);
  };
  platform::mainQueue().async(settle ? watch : next);
  loop->run();
  engine->leaveState();
  return 0;
}
