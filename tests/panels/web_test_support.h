#pragma once
// What the web-page tests share: waiting on the engine (Qt's event loop) and the main queue
// together, and pages to serve.

#include "loopback_http_server.h"
#include "panels/html_page_view_controller.h"
#include "ui_test_env.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QImage>

#include <functional>

#include <gtest/gtest.h>

namespace webtest {

// Points the application at the web engine module this build made, unless the environment
// names one; gives back what was there.
class BuiltWebModule {
 public:
  BuiltWebModule() : mPrevious(qgetenv("ORRERY_WEB_MODULE")) {
#ifdef ORRERY_TEST_WEB_MODULE
    if (mPrevious.isEmpty()) qputenv("ORRERY_WEB_MODULE", ORRERY_TEST_WEB_MODULE);
#endif
  }
  ~BuiltWebModule() {
    if (mPrevious.isEmpty())
      qunsetenv("ORRERY_WEB_MODULE");
    else
      qputenv("ORRERY_WEB_MODULE", mPrevious);
  }

 private:
  QByteArray mPrevious;
};

// Spins Qt's loop and the main queue until the condition holds; the cap only ends a broken run.
inline bool waitFor(const std::function<bool()>& condition) {
  QDeadlineTimer cap(30000);
  while (!condition()) {
    if (cap.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    uitest::advance(0);
  }
  return true;
}

// A page of one colour band `topHeight` pixels high over a second band below it.
inline QByteArray bands(const char* top, int topHeight, const char* bottom, int bottomHeight) {
  return QByteArray("<html><body style='margin:0'><div style='height:") + QByteArray::number(topHeight) +
         "px;background:" + top + "'></div><div style='height:" + QByteArray::number(bottomHeight) +
         "px;background:" + bottom + "'></div></body></html>";
}

// Whether the picture shows `colour` (within a small tolerance) at the given fractions of its size.
inline bool showsColour(const QImage& image, QColor colour, double fx, double fy) {
  if (image.isNull()) return false;
  const QColor c = image.pixelColor(std::min(image.width() - 1, int(image.width() * fx)),
                                    std::min(image.height() - 1, int(image.height() * fy)));
  return std::abs(c.red() - colour.red()) < 16 && std::abs(c.green() - colour.green()) < 16 &&
         std::abs(c.blue() - colour.blue()) < 16;
}

// Visits `path` in a panel that has just been presented and confirms once the page shows
// `colour`; the panel then asks to be dismissed.
inline void visitAndConfirm(orrery::HTMLPageViewController* panel, const testsupport::LoopbackHttpServer& server,
                            const QString& path, QColor colour) {
  ASSERT_TRUE(panel);
  uitest::advance(1.0);  // the panel has slid in
  panel->setFieldText(server.url(path).toString());
  panel->controlTextDidChange();
  panel->actionButtonPressed();
  ASSERT_TRUE(waitFor([&] { return panel->searchFieldState() == 4u && panel->fieldText().endsWith(path); }));
  ASSERT_TRUE(waitFor([&] { return showsColour(panel->webView()->grabRect(QRectF(0, 0, 20, 20)), colour, 0.5, 0.5); }));
  panel->actionButtonPressed();
  uitest::advance(1.0);
}

}  // namespace webtest
