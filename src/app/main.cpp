#include "app/local_document_import.h"
#include "foundation/views/container_window.h"
#include "platform/services/application_identity.h"
#include "platform/services/qt_main_queue.h"

#include <QApplication>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  platform::applyApplicationIdentity();
  platform::installQtMainQueue();
  orrery::installLocalDocumentImport();
  // Until the application shell exists, the window shows an empty container view.
  auto window = orrery::showContainerWindow(QStringLiteral("Orrery"));
  return app.exec();
}
