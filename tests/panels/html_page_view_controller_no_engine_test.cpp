// Without the web engine module the panel holds no page and says why; the editor then presents
// nothing (tests/editor_screen). This program never loads the module.

#include "panels/html_page_view_controller.h"
#include "platform/ui/web_view.h"

#include <QByteArray>

#include <gtest/gtest.h>

using namespace orrery;

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
