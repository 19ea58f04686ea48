// Without the web engine module the panel holds no page and says why; the editor then presents
// nothing (tests/editor_screen). This program never loads the module.

#include "panels/html_page_view_controller.h"
#include "platform/ui/web_view.h"
#include "ui_test_env.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace orrery;

namespace {

struct WebPanelDismissals : HTMLPageViewControllerDelegate {
  int dismissals = 0;
  void pleaseDismissHTMLPageView(HTMLPageViewController& /*panel*/) override { ++dismissals; }
};

}  // namespace

TEST(WebPanelWithoutEngine, HoldsNoPageAndKnowsWhy) {
  const QByteArray previous = qgetenv("ORRERY_WEB_MODULE");
  qputenv("ORRERY_WEB_MODULE", "/nonexistent/orrery_web.so");
  HTMLPageViewController panel(nullptr, QStringLiteral("example.com"));
  qputenv("ORRERY_WEB_MODULE", previous);
  if (platform::isWebEngineLoaded()) GTEST_SKIP() << "the module was loaded by another test of this program";
  EXPECT_EQ(panel.webView(), nullptr);
  EXPECT_FALSE(platform::webEngineLoadError().isEmpty());
  // Nothing to show: every step is harmless.
  panel.actionButtonPressed();
  panel.backButtonPressed();
  EXPECT_TRUE(panel.captureWebviewImage().isNull());
  panel.closeButtonPressed();
  EXPECT_TRUE(panel.isDismissed());
  EXPECT_TRUE(panel.resultURL().isNull());
}

// A module file that turns out not to load once the panel shows: the panel says why and closes.
TEST(WebPanelWithoutEngine, AModuleThatDoesNotLoadClosesTheFirstPanelWithAnAlert) {
  if (!platform::webEngineLoadError().isEmpty()) GTEST_SKIP() << "another test of this program tried the module";
  uitest::PresenterScope alerts;
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("orrery_web.so"));
  {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a library");
  }
  const QByteArray previous = qgetenv("ORRERY_WEB_MODULE");
  qputenv("ORRERY_WEB_MODULE", path.toUtf8());
  WebPanelDismissals presenter;
  auto panel = HTMLPageViewController::createShowingPages(&presenter, QStringLiteral("example.com"));
  qputenv("ORRERY_WEB_MODULE", previous);
  ASSERT_TRUE(panel) << "the panel shows while the module loads";
  EXPECT_TRUE(panel->isWaitingForEngine());
  EXPECT_TRUE(alerts->alerts.empty());

  const QDeadlineTimer cap(30000);
  while (panel->isWaitingForEngine() && !cap.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    uitest::advance(0);
  }
  EXPECT_FALSE(panel->isWaitingForEngine());
  EXPECT_EQ(panel->webView(), nullptr);
  ASSERT_EQ(alerts->alerts.size(), 1u);
  EXPECT_TRUE(alerts->alerts.front().informativeText.startsWith(QStringLiteral("Web pages cannot be shown")));
  EXPECT_TRUE(alerts->alerts.front().informativeText.contains(path));
  EXPECT_TRUE(panel->isDismissed());
  EXPECT_EQ(presenter.dismissals, 1);
  EXPECT_TRUE(panel->resultURL().isNull());
}
