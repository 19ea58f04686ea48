#include "app/local_document_import.h"
#include "cloud/cloud_engines.h"
#include "foundation/views/container_window.h"
#include "model/file_utils.h"
#include "platform/services/application_identity.h"
#include "platform/services/qt_main_queue.h"

#include <QApplication>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  platform::applyApplicationIdentity();
  platform::installQtMainQueue();
  orrery::installLocalDocumentImport();
  orrery::installCloudEngines();
  // Scratch files of earlier runs go on a background queue, as at every start.
  orrery::FileUtil::cleanTemporaryFilesDuringStartup();
  // Until the application shell exists, the window shows an empty container view.
  auto window = orrery::showContainerWindow(QStringLiteral("Orrery"));
  return app.exec();
}
