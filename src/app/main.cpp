#include "platform/services/qt_main_queue.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QCoreApplication::setOrganizationName("Orrery");
  QCoreApplication::setApplicationName("Orrery");
  platform::installQtMainQueue();
  QWidget window;
  window.setWindowTitle("Orrery");
  window.resize(1024, 720);
  window.show();
  return app.exec();
}
