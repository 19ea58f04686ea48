// The pages the program shows report their uncaught script errors to the crash reporter: the
// hook the application installs at start-up reaches the web-link panel's view, and an error
// on a page it loads ends as a custom exception record of the current crash report, on disk.

#include "app/telemetry_start.h"
#include "crash/crk_context.h"
#include "crash/crk_user_logging.h"
#include "panels/html_page_view_controller.h"
#include "platform/ui/web_view.h"
#include "platform/ui/window.h"
#include "web_test_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace orrery;
using webtest::waitFor;

namespace {

struct NoPresenter : HTMLPageViewControllerDelegate {
  void pleaseDismissHTMLPageView(HTMLPageViewController& /*panel*/) override {}
};

// The process's crash context, made once: records are dropped until one exists.
const QString& crashReportFolder() {
  static QTemporaryDir root;
  static const QString folder = [] {
    const QString path = root.filePath(QStringLiteral("report"));
    QDir().mkpath(path);
    static const QByteArray bytes = path.toUtf8();
    telemetry::CRKContextInitData data;
    data.apiKey = "0123456789abcdef";
    data.reportPath = bytes.constData();
    data.sessionId = "session-web";
    data.installId = "install-web";
    data.maxCustomKeys = 64;
    data.logBufferSize = 65536;
    data.customExceptionsEnabled = true;
    data.maxCustomExceptions = 8;
    telemetry::CRKContextInitialize(&data);
    return path;
  }();
  return folder;
}

// Both custom-exception files of the current report, as they are on disk.
QByteArray customExceptionRecords() {
  const telemetry::CRKUserLoggingABStorage* pair = telemetry::CRKUserLoggingCustomExceptionPair();
  QByteArray text;
  for (const char* path : {pair->aPath, pair->bPath}) {
    QFile file(QString::fromUtf8(path ? path : ""));
    if (file.open(QIODevice::ReadOnly)) text += file.readAll();
  }
  return text;
}

TEST(WebErrorHook, APanelPagesScriptErrorsReachTheCrashReportAndThePagesOwnHandler) {
  webtest::BuiltWebModule module;
  ASSERT_FALSE(crashReportFolder().isEmpty());
  const platform::WebViewCreationHook previous = platform::setWebViewCreationHook({});
  installWebViewErrorHook();
  testsupport::LoopbackHttpServer server;
  // Two errors once the page has loaded; the page's own handler, set before the hook runs,
  // must still see them.
  server.setPage(QStringLiteral("/faulty"), R"(<html><body>
<script>
var seen = 0;
window.onerror = function () { new Image().src = '/page-handler-saw-' + (++seen); };
window.addEventListener('load', function () {
  setTimeout(function () { throw new Error('first page fault 41'); }, 0);
  setTimeout(function () { undefinedFunctionOfThePage(42); }, 0);
});
</script></body></html>)");

  NoPresenter presenter;
  platform::Window window(QSizeF(900, 600));
  auto panel = std::make_shared<HTMLPageViewController>(&presenter, server.url(QStringLiteral("/faulty")).toString());
  window.setContentView(panel->view());
  panel->view()->setFrame(QRectF(0, 0, 900, 600));
  panel->applyLayout();
  window.makeKeyAndOrderFront();
  panel->viewDidAppear();

  const QByteArray first = QByteArray("first page fault 41").toHex();
  const QByteArray second = QByteArray("undefinedFunctionOfThePage").toHex();
  EXPECT_TRUE(waitFor([&] {
    const QByteArray records = customExceptionRecords();
    return records.contains(first) && records.contains(second);
  })) << "records: "
      << customExceptionRecords().toStdString();
  const QByteArray records = customExceptionRecords();
  EXPECT_TRUE(records.contains("javascript")) << "the errors are recorded as script exceptions";
  EXPECT_FALSE(records.contains(QByteArray("/faulty").toHex())) << "the page's address is not kept";
  EXPECT_TRUE(waitFor([&] { return server.requests().contains(QStringLiteral("/page-handler-saw-2")); }))
      << "the page's own handler no longer sees its errors";

  panel->viewDidDisappear();
  panel.reset();
  uitest::advance(1);
  platform::setWebViewCreationHook(previous);
}

}  // namespace
