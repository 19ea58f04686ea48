#include "platform/services/application_identity.h"
#include "platform/services/qt_main_queue.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  platform::applyApplicationIdentity();
  platform::installQtMainQueue();
  QWidget window;
  window.setWindowTitle("Orrery");
  window.resize(1024, 720);
  window.show();
  return app.exec();
}
