// The web-link panel on the real web engine, offscreen, against a loopback server: what the
// field's text makes of the top bar, loading typed addresses and searches, redirects, the
// missing page, the page picture handed back, going back, and what a page may not do.

#include "panels/html_page_view_controller.h"

#include "foundation/views/search_text_field.h"
#include "foundation/views/spinning_progress_indicator.h"
#include "loopback_http_server.h"
#include "platform/services/url_opener.h"
#include "platform/ui/web_view.h"
#include "platform/ui/window.h"
#include "support/window_manager_child.h"
#include "web_test_support.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

using namespace orrery;
using webtest::waitFor;

namespace {

// Catches what the engine would hand to the desktop (mail programs, custom handlers).
class DesktopOpens : public QObject {
  Q_OBJECT
 public:
  explicit DesktopOpens(const QStringList& schemes) : mSchemes(schemes) {
    for (const QString& scheme : mSchemes) QDesktopServices::setUrlHandler(scheme, this, "open");
  }
  ~DesktopOpens() override {
    for (const QString& scheme : mSchemes) QDesktopServices::unsetUrlHandler(scheme);
  }
  QList<QUrl> urls;

 public slots:
  void open(const QUrl& url) { urls << url; }

 private:
  QStringList mSchemes;
};

// Requests to the X server on Qt's own connection: where it has a window, and input as the
// server would deliver it.
class XServer {
 public:
  XServer() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    mConnection = x11 ? x11->connection() : nullptr;
  }
  bool isThere() const { return mConnection; }
  // The windows above `window`, up to the root (left out).
  std::vector<xcb_window_t> ancestors(xcb_window_t window) const {
    std::vector<xcb_window_t> chain;
    while (auto* tree = xcb_query_tree_reply(mConnection, xcb_query_tree(mConnection, window), nullptr)) {
      window = tree->parent;
      std::free(tree);
      if (window == testsupport::rootWindow(mConnection) || window == XCB_NONE) break;
      chain.push_back(window);
    }
    return chain;
  }
  xcb_window_t keyboardWindow() const {
    auto* reply = xcb_get_input_focus_reply(mConnection, xcb_get_input_focus(mConnection), nullptr);
    const xcb_window_t focus = reply ? reply->focus : XCB_NONE;
    std::free(reply);
    return focus;
  }
  // A left click at `at` in `window`; the key of `keysym` in the window that holds the keyboard.
  void click(xcb_window_t window, QPoint at) const { pressAndRelease(XCB_BUTTON_PRESS, 1, window, at); }
  void type(xcb_keysym_t keysym) const { pressAndRelease(XCB_KEY_PRESS, keycode(keysym), keyboardWindow(), {}); }

 private:
  // A key's and a button's events share one layout, each release following its press, and
  // their event masks follow in the same order from the key press's.
  void pressAndRelease(uint8_t press, uint8_t detail, xcb_window_t window, QPoint at) const {
    for (const uint8_t type : {press, uint8_t(press + 1)}) {
      xcb_key_press_event_t e{};
      e.response_type = type;
      e.detail = detail;
      e.root = testsupport::rootWindow(mConnection);
      e.event = window;
      e.event_x = e.root_x = int16_t(at.x());
      e.event_y = e.root_y = int16_t(at.y());
      e.state = type == XCB_BUTTON_RELEASE ? XCB_BUTTON_MASK_1 : 0;
      e.same_screen = 1;
      xcb_send_event(mConnection, 0, window, 1u << (type - XCB_KEY_PRESS), reinterpret_cast<const char*>(&e));
    }
    xcb_flush(mConnection);
  }
  xcb_keycode_t keycode(xcb_keysym_t keysym) const {
    const xcb_setup_t* setup = xcb_get_setup(mConnection);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    auto* map = xcb_get_keyboard_mapping_reply(
        mConnection, xcb_get_keyboard_mapping(mConnection, setup->min_keycode, uint8_t(count)), nullptr);
    if (!map) return 0;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map);
    const long all = count * map->keysyms_per_keycode;
    const long at = std::find(syms, syms + all, keysym) - syms;
    const auto code = xcb_keycode_t(at < all ? setup->min_keycode + at / map->keysyms_per_keycode : 0);
    std::free(map);
    return code;
  }
  xcb_connection_t* mConnection = nullptr;
};

struct CountingPresenter : HTMLPageViewControllerDelegate {
  int dismissals = 0;
  void pleaseDismissHTMLPageView(HTMLPageViewController& /*panel*/) override { ++dismissals; }
};

struct WebPanelTest : ::testing::Test {
  void SetUp() override {
    mPreviousEngine = HTMLPageViewController::setSearchEngine(server.url(QString()));
    mPreviousOpener = platform::setURLOpener([this](const QUrl& url) {
      opened << url;
      return true;
    });
  }
  void TearDown() override {
    if (panel) panel->viewDidDisappear();
    panel.reset();
    window.reset();
    uitest::advance(1);
    HTMLPageViewController::setSearchEngine(mPreviousEngine);
    platform::setURLOpener(mPreviousOpener);
  }

  HTMLPageViewController& open(const QString& url = QString(), QSizeF size = QSizeF(1000, 700)) {
    window = std::make_unique<platform::Window>(size);
    panel = std::make_shared<HTMLPageViewController>(&presenter, url);
    window->setContentView(panel->view());
    panel->view()->setFrame(QRectF(QPointF(0, 0), size));
    panel->applyLayout();
    window->makeKeyAndOrderFront();
    window->displayIfNeeded();
    // The first panel of the program waits for the engine to load.
    EXPECT_TRUE(waitFor([&] { return !panel->isWaitingForEngine(); }));
    panel->viewDidAppear();
    return *panel;
  }
  QLineEdit* edit() const { return panel->searchTextField()->lineEdit(); }
  void type(const QString& text) {
    edit()->clear();
    // Key by key as typed (any script), so the field reports each edit.
    for (QChar c : text) {
      QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
      QCoreApplication::sendEvent(edit(), &key);
    }
  }
  void pressReturn() { QTest::keyClick(edit(), Qt::Key_Return); }
  bool settled() const { return panel->webViewState() == HTMLPageViewController::kWebFinished; }
  // Waits until the page's top left shows `colour` (the first frame comes after the load ends).
  bool showsColour(QColor colour) {
    return waitFor([&] {
      const auto& web = panel->webView();
      return web && webtest::showsColour(web->grabRect(QRectF(0, 0, 20, 20)), colour, 0.5, 0.5);
    });
  }
  // Opens the panel on a served page whose top left is red, once that shows.
  bool openShowingRed(const QString& path) {
    open(server.url(path).toString());
    return waitFor([&] { return panel->searchFieldState() == 4u; }) && showsColour(Qt::red);
  }
  // Where the page takes mouse and keys (the engine's own child widget once it has one).
  QWidget* pageInput() const {
    QWidget* page = panel->webView()->widget();
    return page->focusProxy() ? page->focusProxy() : page;
  }
  QString action() const { return panel->actionButton()->isHidden() ? QString() : panel->actionButton()->buttonLabel()->text(); }

  webtest::BuiltWebModule module;
  testsupport::LoopbackHttpServer server;
  CountingPresenter presenter;
  std::unique_ptr<platform::Window> window;
  std::shared_ptr<HTMLPageViewController> panel;
  QList<QUrl> opened;

 private:
  QUrl mPreviousEngine;
  platform::URLOpener mPreviousOpener;
};

TEST_F(WebPanelTest, TypingDecidesWhatTheBarOffers) {
  open();
  EXPECT_EQ(window->firstResponder(), panel->searchTextField()->hostedField().get()) << "an empty panel takes the keys";
  EXPECT_EQ(panel->searchFieldState(), 0u);
  EXPECT_TRUE(action().isEmpty());
  EXPECT_TRUE(panel->openExternallyButton()->isHidden());

  const struct {
    QString text;
    std::uint64_t state;
    QString action;
  } cases[] = {{QStringLiteral("two words"), 1, QStringLiteral("Search")},
               {QStringLiteral("example.com"), 2, QStringLiteral("Visit")},
               {QStringLiteral("münchen.de"), 2, QStringLiteral("Visit")},
               {QStringLiteral("example.com/a?b=c"), 2, QStringLiteral("Visit")},
               {QStringLiteral("file:/etc/passwd"), 2, QStringLiteral("Visit")},
               {QStringLiteral("word"), 1, QStringLiteral("Search")},
               {QStringLiteral(" \t "), 0, QString()}};
  for (const auto& c : cases) {
    type(c.text);
    EXPECT_EQ(panel->searchFieldState(), c.state) << c.text.toStdString();
    EXPECT_EQ(action(), c.action) << c.text.toStdString();
    EXPECT_EQ(panel->openExternallyButton()->isHidden(), c.state != 2) << c.text.toStdString();
  }

  // A file address is offered "Visit", but neither loads it nor opens it.
  type(QStringLiteral("file:/etc/passwd"));
  const int requests = int(server.requests().size());
  pressReturn();
  panel->openExternallyButtonPressed();
  EXPECT_EQ(panel->searchFieldState(), 2u);
  EXPECT_EQ(panel->webViewState(), HTMLPageViewController::kWebNothing);
  EXPECT_TRUE(opened.isEmpty());
  EXPECT_EQ(int(server.requests().size()), requests);

  type(QStringLiteral("münchen.de"));
  panel->openExternallyButtonPressed();
  ASSERT_EQ(opened.size(), 1);
  EXPECT_EQ(opened.front().scheme(), QStringLiteral("http"));
  EXPECT_EQ(opened.front().host(QUrl::FullyEncoded), QStringLiteral("xn--mnchen-3ya.de"));
  EXPECT_EQ(presenter.dismissals, 0) << "the panel stays";
}

// Each test runs in a program of its own: its first panel is the program's first.
TEST_F(WebPanelTest, TheFirstPanelShowsAtOnceAndLoadsItsPageOnceTheEngineHasLoaded) {
  if (platform::isWebEngineLoaded()) GTEST_SKIP() << "another test of this program loaded the engine";
  server.setPage(QStringLiteral("/red"), webtest::bands("red", 200, "white", 10));
  window = std::make_unique<platform::Window>(QSizeF(1000, 700));
  panel = std::make_shared<HTMLPageViewController>(&presenter, server.url(QStringLiteral("/red")).toString());
  EXPECT_FALSE(platform::isWebEngineLoaded()) << "the engine does not load on the turn that opens the panel";
  EXPECT_TRUE(panel->isWaitingForEngine());
  EXPECT_EQ(panel->webView(), nullptr);
  window->setContentView(panel->view());
  panel->view()->setFrame(QRectF(0, 0, 1000, 700));
  panel->applyLayout();
  window->makeKeyAndOrderFront();
  EXPECT_FALSE(panel->progressView()->isHidden()) << "the link's page is on its way";
  EXPECT_EQ(panel->searchFieldState(), 3u);

  ASSERT_TRUE(waitFor([&] { return panel->searchFieldState() == 4u; })) << "the load asked for meanwhile is made";
  ASSERT_TRUE(panel->webView());
  EXPECT_EQ(panel->webView()->frame(), QRectF(0, 40, 1000, 660));
  EXPECT_TRUE(showsColour(Qt::red));
  EXPECT_EQ(presenter.dismissals, 0);
}

TEST_F(WebPanelTest, TheFieldIsCentredWhileThereIsRoomAndNeverWiderThan500) {
  open();
  type(QStringLiteral("example.com"));
  const QRectF wide = panel->searchTextField()->frame();
  EXPECT_EQ(wide.size(), QSizeF(500, 22));
  EXPECT_DOUBLE_EQ(wide.center().x(), 500);
  EXPECT_DOUBLE_EQ(wide.center().y(), 20);
  EXPECT_DOUBLE_EQ(panel->actionButton()->frame().left(), wide.right() + 6);
  EXPECT_DOUBLE_EQ(panel->openExternallyButton()->frame().right(), 1000 - 14);
  EXPECT_DOUBLE_EQ(panel->closeButton()->frame().left(), 14);

  panel->view()->setFrame(QRectF(0, 0, 700, 500));
  panel->applyLayout();
  const QRectF narrow = panel->searchTextField()->frame();
  const double right = panel->openExternallyButton()->frame().left() - 10 - (panel->actionButton()->frame().width() + 6);
  EXPECT_DOUBLE_EQ(narrow.right(), right) << "too little room: against the right limit";
  EXPECT_LE(narrow.width(), 500);
  EXPECT_DOUBLE_EQ(narrow.left(), std::max(panel->closeButton()->frame().right() + 10, right - 500));
  EXPECT_EQ(panel->webView()->frame(), QRectF(0, 40, 700, 460));
}

TEST_F(WebPanelTest, ABareHostLoadsOverHttpAndShowsTheAddressItEndedAt) {
  server.setRedirect(QStringLiteral("/old"), server.url(QStringLiteral("/new")).toString());
  server.setPage(QStringLiteral("/new"), webtest::bands("#00ff00", 200, "white", 10));
  open();
  type(QStringLiteral("127.0.0.1:%1/old").arg(server.port()));
  pressReturn();
  EXPECT_EQ(panel->searchFieldState(), 3u);
  EXPECT_EQ(action(), QStringLiteral("Add"));
  uitest::advance(0);  // the field reports losing the keys on the next turn
  EXPECT_FALSE(panel->progressView()->isHidden()) << "loading shows the indicator";
  ASSERT_TRUE(waitFor([&] { return panel->searchFieldState() == 4u; }));
  EXPECT_EQ(panel->fieldText(), server.url(QStringLiteral("/new")).toString());
  EXPECT_EQ(action(), QStringLiteral("Add"));
  EXPECT_TRUE(panel->progressView()->isHidden());
  EXPECT_TRUE(server.requests().contains(QStringLiteral("/old")));

  // Opened on an existing link: the same page, offered as a change.
  panel->viewDidDisappear();
  open(server.url(QStringLiteral("/new")).toString());
  EXPECT_TRUE(panel->isEditSession());
  EXPECT_EQ(action(), QStringLiteral("Change"));
  ASSERT_TRUE(waitFor([&] { return panel->searchFieldState() == 4u; }));
  EXPECT_EQ(action(), QStringLiteral("Change"));
}

TEST_F(WebPanelTest, ConfirmingHandsBackTheAddressAndAPictureOfTheTop) {
  server.setPage(QStringLiteral("/page"), webtest::bands("red", 1500, "blue", 1500));
  ASSERT_TRUE(openShowingRed(QStringLiteral("/page")));
  panel->actionButtonPressed();
  EXPECT_EQ(presenter.dismissals, 1);
  EXPECT_TRUE(panel->isDismissed());
  EXPECT_TRUE(panel->view()->isHidden());
  EXPECT_EQ(panel->resultURL(), server.url(QStringLiteral("/page")).toString());
  const QImage picture = panel->resultPageImage();
  ASSERT_FALSE(picture.isNull());
  EXPECT_DOUBLE_EQ(picture.deviceIndependentSize().width(), 64);
  // W is the page's width in the view (the scroll bar beside it is left out).
  const double w = panel->webView()->documentSize().width();
  EXPECT_GT(w, 900);
  EXPECT_LE(w, 1000);
  EXPECT_NEAR(picture.deviceIndependentSize().height(), 64.0 * 660 / w, 0.5) << "the view's top, W x min(W, H)";
  for (double f : {0.0, 0.5, 0.999}) EXPECT_TRUE(webtest::showsColour(picture, Qt::red, f, f)) << f;

  // Dismissed: nothing reacts any more.
  panel->actionButtonPressed();
  panel->buttonPressed(*panel->closeButton());
  panel->cancelOperation();
  EXPECT_EQ(presenter.dismissals, 1);
  EXPECT_EQ(panel->resultURL(), server.url(QStringLiteral("/page")).toString());
}

TEST_F(WebPanelTest, APictureIsTheTopSquareOfATallPageAndAStripOfAShortView) {
  server.setPage(QStringLiteral("/tall"), webtest::bands("red", 20000, "blue", 10));
  open(server.url(QStringLiteral("/tall")).toString(), QSizeF(600, 900));
  ASSERT_TRUE(waitFor([&] { return panel->searchFieldState() == 4u; }));
  ASSERT_TRUE(showsColour(Qt::red));
  QImage square = panel->captureWebviewImage();
  EXPECT_EQ(square.deviceIndependentSize(), QSizeF(64, 64));
  EXPECT_TRUE(webtest::showsColour(square, Qt::red, 0.5, 0.98));

  panel->viewDidDisappear();
  open(server.url(QStringLiteral("/tall")).toString(), QSizeF(1000, 200));
  ASSERT_TRUE(waitFor([&] { return panel->searchFieldState() == 4u; }));
  ASSERT_TRUE(showsColour(Qt::red));
  const QImage strip = panel->captureWebviewImage();
  EXPECT_DOUBLE_EQ(strip.deviceIndependentSize().width(), 64);
  EXPECT_NEAR(strip.deviceIndependentSize().height(), 64.0 * 160 / panel->webView()->documentSize().width(), 0.5);
  EXPECT_TRUE(webtest::showsColour(strip, Qt::red, 0.999, 0.5));
}

TEST_F(WebPanelTest, WordsAreSearchedJoinedByPlus) {
  open();
  type(QStringLiteral("two words"));
  pressReturn();
  ASSERT_TRUE(waitFor([&] { return panel->searchFieldState() == 4u; }));
  EXPECT_EQ(server.searchQueries(), QStringList{QStringLiteral("two+words")});
  EXPECT_EQ(panel->fieldText(), server.url(QStringLiteral("/search?q=two+words")).toString());
}

TEST_F(WebPanelTest, AnAddressThatDoesNotAnswerShowsTheMissingPageAndOffersVisitAgain) {
  const QString typed = QStringLiteral("127.0.0.1:%1/nothing").arg(testsupport::LoopbackHttpServer::closedPort());
  open();
  type(typed);
  pressReturn();
  ASSERT_TRUE(waitFor([&] { return settled() && panel->searchFieldState() == 2u; }));
  EXPECT_EQ(panel->webView()->mainDocumentURL(), panel->missingPageURL());
  EXPECT_EQ(panel->fieldText(), typed) << "the user's text stays";
  EXPECT_EQ(action(), QStringLiteral("Visit"));
  EXPECT_FALSE(panel->openExternallyButton()->isHidden());
}

TEST_F(WebPanelTest, AMissingPageThatFailsItselfIsTriedOnceThenAnEmptyPageShows) {
  QTemporaryDir resources;
  ASSERT_TRUE(resources.isValid());
  QFile page(resources.filePath(QStringLiteral("missing.html")));
  ASSERT_TRUE(page.open(QIODevice::WriteOnly));
  page.write("<html><body>missing</body></html>");
  page.close();
  const QByteArray previous = qgetenv("ORRERY_RESOURCES_DIR");
  qputenv("ORRERY_RESOURCES_DIR", resources.path().toUtf8());
  open();
  qputenv("ORRERY_RESOURCES_DIR", previous);
  ASSERT_EQ(panel->missingPageURL(), QUrl::fromLocalFile(page.fileName()));
  ASSERT_TRUE(QFile::remove(page.fileName()));

  type(QStringLiteral("127.0.0.1:%1/").arg(testsupport::LoopbackHttpServer::closedPort()));
  pressReturn();
  const platform::WebView* first = panel->webView().get();
  std::vector<const platform::WebView*> views{first};
  ASSERT_TRUE(waitFor([&] {
    if (panel->webView().get() != views.back()) views.push_back(panel->webView().get());
    return settled() && panel->searchFieldState() == 2u;
  }));
  // Some more turns: a reload loop would go on switching pages.
  for (int i = 0; i < 100; ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    uitest::advance(0);
  }
  if (panel->webView().get() != views.back()) views.push_back(panel->webView().get());
  EXPECT_LE(views.size(), 3u) << "the address, the missing page once, the empty page";
  EXPECT_EQ(panel->webViewState(), HTMLPageViewController::kWebFinished);
  EXPECT_EQ(panel->searchFieldState(), 2u);
  EXPECT_EQ(action(), QStringLiteral("Visit"));
}

TEST_F(WebPanelTest, BackFollowsLinksInsideThePageUntilTheNextTypedAddress) {
  server.setPage(QStringLiteral("/a"),
                 "<html><body style='margin:0'><a href='/b' style='display:block;height:600px;background:red'>b</a>"
                 "</body></html>");
  server.setPage(QStringLiteral("/b"), webtest::bands("blue", 600, "white", 10));
  ASSERT_TRUE(openShowingRed(QStringLiteral("/a")));
  EXPECT_TRUE(panel->backButton()->isHidden());

  QWidget* target = pageInput();
  QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(100, 100));
  ASSERT_TRUE(waitFor([&] { return panel->fieldText().endsWith(QStringLiteral("/b")) && settled(); }));
  EXPECT_EQ(panel->searchFieldState(), 4u);
  EXPECT_FALSE(panel->backButton()->isHidden());
  EXPECT_DOUBLE_EQ(panel->backButton()->frame().right(), panel->searchTextField()->frame().left() - 6);

  panel->backButtonPressed();
  ASSERT_TRUE(waitFor([&] { return panel->fieldText().endsWith(QStringLiteral("/a")) && settled(); }));
  ASSERT_TRUE(waitFor([&] { return panel->backButton()->isHidden(); }));

  QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(100, 100));
  ASSERT_TRUE(waitFor([&] { return !panel->backButton()->isHidden(); }));
  type(server.url(QStringLiteral("/a")).toString());
  pressReturn();
  EXPECT_TRUE(panel->backButton()->isHidden()) << "a fresh page has no history";
}

TEST_F(WebPanelTest, APageOpensNoWindowNoDialogNoDownloadAndNoLocalFile) {
  server.setPage(QStringLiteral("/pushy"),
                 "<html><body style='margin:0'>"
                 "<a id=l href='file:///etc/passwd' style='display:block;height:300px;background:red'>x</a>"
                 "<script>window.open('/popup'); alert('hi'); confirm('sure?'); prompt('name');"
                 "document.body.style.background = 'green';</script></body></html>");
  Q_UNUSED(server);
  testsupport::LoopbackHttpServer::Response attachment;
  attachment.contentType = "application/octet-stream";
  attachment.body = "payload";
  attachment.headers.append(qMakePair(QByteArray("Content-Disposition"), QByteArray("attachment; filename=payload.bin")));
  server.setResponse(QStringLiteral("/file"), attachment);

  const int windowsBefore = int(QApplication::topLevelWidgets().size());
  open(server.url(QStringLiteral("/pushy")).toString());
  const int windowsWithPanel = int(QApplication::topLevelWidgets().size());
  ASSERT_TRUE(waitFor([&] { return panel->searchFieldState() == 4u; }));
  ASSERT_TRUE(showsColour(Qt::red)) << "the script ran past its dialogs";
  EXPECT_FALSE(server.requests().contains(QStringLiteral("/popup")));
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_GE(windowsWithPanel, windowsBefore);

  QWidget* target = pageInput();
  QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(50, 50));
  for (int i = 0; i < 30; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_EQ(panel->webView()->mainDocumentURL(), server.url(QStringLiteral("/pushy"))) << "file: is refused";

  type(server.url(QStringLiteral("/file")).toString());
  pressReturn();
  ASSERT_TRUE(waitFor([&] { return server.requests().contains(QStringLiteral("/file")) && settled(); }));
  const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
  EXPECT_FALSE(QFile::exists(QDir(downloads).filePath(QStringLiteral("payload.bin"))));
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(WebPanelTest, LinksToOtherSchemesAreNotHandedToTheDesktop) {
  DesktopOpens desktop({QStringLiteral("mailto"), QStringLiteral("orrery-test")});
  server.setPage(QStringLiteral("/links"),
                 "<html><body style='margin:0'>"
                 "<a href='mailto:someone@example.com' onclick=\"this.style.background='blue'\" "
                 "style='display:block;height:100px;background:red'>m</a>"
                 "<a href='orrery-test:payload' onclick=\"this.style.background='blue'\" "
                 "style='display:block;height:100px;background:red'>c</a>"
                 "</body></html>");
  ASSERT_TRUE(openShowingRed(QStringLiteral("/links")));
  QWidget* target = pageInput();
  QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(50, 50));
  QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(50, 150));
  // Both links were followed as far as the page goes (they turn blue when clicked).
  ASSERT_TRUE(waitFor([&] {
    const QImage shown = panel->webView()->grabRect(QRectF(0, 0, 100, 200));
    return webtest::showsColour(shown, Qt::blue, 0.5, 0.25) && webtest::showsColour(shown, Qt::blue, 0.5, 0.75);
  }));
  // A hand-over would follow the click within a few turns of the loop.
  for (int i = 0; i < 100; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_TRUE(desktop.urls.isEmpty()) << desktop.urls.value(0).toString().toStdString();
  EXPECT_EQ(panel->webView()->mainDocumentURL(), server.url(QStringLiteral("/links")));
  EXPECT_EQ(panel->searchFieldState(), 4u);
}

TEST_F(WebPanelTest, ThePagesMenuOffersNoNewWindowDownloadSaveOrSource) {
  server.setPage(QStringLiteral("/menu"),
                 "<html><body style='margin:0'><a href='/other' style='display:block;height:300px;"
                 "background:red'>link</a></body></html>");
  ASSERT_TRUE(openShowingRed(QStringLiteral("/menu")));
  QWidget* target = pageInput();
  QTest::mouseClick(target, Qt::RightButton, {}, QPoint(60, 60));
  QMenu* menu = nullptr;
  ASSERT_TRUE(waitFor([&] { return (menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) != nullptr; }));
  QStringList titles;
  for (QAction* a : menu->actions()) titles << a->text().remove(QLatin1Char('&'));
  menu->close();
  EXPECT_FALSE(titles.isEmpty());
  for (const QString& title : titles) {
    EXPECT_FALSE(title.contains(QStringLiteral("New Window"), Qt::CaseInsensitive)) << title.toStdString();
    EXPECT_FALSE(title.contains(QStringLiteral("New Tab"), Qt::CaseInsensitive)) << title.toStdString();
    EXPECT_FALSE(title.contains(QStringLiteral("Save"), Qt::CaseInsensitive)) << title.toStdString();
    EXPECT_FALSE(title.contains(QStringLiteral("Source"), Qt::CaseInsensitive)) << title.toStdString();
    EXPECT_FALSE(title.contains(QStringLiteral("Inspect"), Qt::CaseInsensitive)) << title.toStdString();
  }
}

TEST_F(WebPanelTest, CloseOrEscapeAnswersNoChangeOnce) {
  server.setNeverAnswering(QStringLiteral("/endless"));
  open(server.url(QStringLiteral("/endless")).toString());
  ASSERT_TRUE(waitFor([&] { return server.requests().contains(QStringLiteral("/endless")); }));
  EXPECT_EQ(panel->webViewState(), HTMLPageViewController::kWebLoading);
  QTest::keyClick(edit(), Qt::Key_Escape);
  EXPECT_EQ(presenter.dismissals, 1);
  EXPECT_TRUE(panel->resultURL().isNull());
  EXPECT_TRUE(panel->resultPageImage().isNull());
  panel->closeButtonPressed();
  EXPECT_EQ(presenter.dismissals, 1);

  open();
  panel->buttonPressed(*panel->closeButton());
  EXPECT_EQ(presenter.dismissals, 2);
  EXPECT_TRUE(panel->resultURL().isNull());

  // Escape while the page has the keys.
  server.setPage(QStringLiteral("/page"), webtest::bands("red", 600, "blue", 10));
  ASSERT_TRUE(openShowingRed(QStringLiteral("/page")));
  QWidget* target = pageInput();
  QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(100, 100));
  QTest::keyClick(target, Qt::Key_Escape);
  ASSERT_TRUE(waitFor([&] { return presenter.dismissals == 3; }));
  EXPECT_TRUE(panel->resultURL().isNull());
}

// Qt would draw the whole window through OpenGL once a page is in it, and make its native
// window again for that: the page shows in a native child window of its own instead, and the
// window keeps its native window and its raster drawing. The page takes clicks and keys as the
// X server delivers them, and when Escape closes the panel the keys come back to the window.
// On the platform users have (xcb), on a bare X server and under a window manager.
TEST_F(WebPanelTest, APageShowsInANativeWindowOfItsOwnAndTheWindowIsNeverMadeAgain) {
  if (!testsupport::inWindowManagerChild()) {
    testsupport::runInWindowManagerChild({/*withManager=*/false, /*withManager=*/true});
    return;
  }
  const XServer x;
  ASSERT_TRUE(x.isThere());
  server.setPage(QStringLiteral("/keys"),
                 "<html style='height:100%'><body style='margin:0;height:100%;background:red' "
                 "onclick=\"document.body.style.background='blue'\" "
                 "onkeydown=\"document.body.style.background='lime'\"></body></html>");
  window = std::make_unique<platform::Window>(QSizeF(1000, 700));
  window->makeKeyAndOrderFront();
  QWidget* frame = window->widget();
  ASSERT_TRUE(waitFor([&] { return frame->windowHandle()->isExposed() && frame->isActiveWindow(); }));
  const WId id = frame->winId();
  const QWindow* handle = frame->windowHandle();
  const auto keepsItsWindow = [&](const char* when) {
    EXPECT_EQ(frame->winId(), id) << "the window was made again " << when;
    EXPECT_EQ(frame->windowHandle(), handle) << when;
    EXPECT_EQ(frame->windowHandle()->surfaceType(), QSurface::RasterSurface) << when;
  };

  panel = std::make_shared<HTMLPageViewController>(&presenter, server.url(QStringLiteral("/keys")).toString());
  window->setContentView(panel->view());
  panel->view()->setFrame(QRectF(0, 0, 1000, 700));
  panel->applyLayout();
  ASSERT_TRUE(waitFor([&] { return panel->searchFieldState() == 4u; }));
  ASSERT_TRUE(showsColour(Qt::red));
  panel->viewDidAppear();
  keepsItsWindow("as the page shows");
  QWidget* page = panel->webView()->widget()->window();
  ASSERT_NE(page, frame) << "the page is drawn in the window";
  // What the server shows of the page.
  const auto onScreen = [&](QColor colour) {
    const QPoint at = testsupport::serverPosition(page) + QPoint(20, 20);
    const QImage shown = testsupport::serverPixels(QRect(at, QSize(1, 1)));
    if (shown.isNull()) return false;
    const QRgb pixel = shown.pixel(0, 0);
    return std::max({std::abs(qRed(pixel) - colour.red()), std::abs(qGreen(pixel) - colour.green()),
                     std::abs(qBlue(pixel) - colour.blue())}) < 16;
  };
  EXPECT_TRUE(waitFor([&] { return onScreen(Qt::red); }));
  const std::vector<xcb_window_t> above = x.ancestors(xcb_window_t(page->winId()));
  EXPECT_NE(std::find(above.begin(), above.end(), xcb_window_t(id)), above.end())
      << "the page's native window is not inside the window's";

  // The engine drops the clicks of the first moments after a page from the network first
  // shows (a page among the window's own widgets alike): the click comes again until one lands.
  for (QDeadlineTimer bound(20000); !onScreen(Qt::blue) && !bound.hasExpired();) {
    x.click(xcb_window_t(page->winId()), QPoint(50, 50));
    waitFor([&, step = QDeadlineTimer(100)] { return onScreen(Qt::blue) || step.hasExpired(); });
  }
  ASSERT_TRUE(onScreen(Qt::blue)) << "the click reached the page";
  ASSERT_TRUE(waitFor([&] { return QGuiApplication::focusWindow() == page->windowHandle(); }));
  EXPECT_EQ(x.keyboardWindow(), xcb_window_t(page->winId()));
  EXPECT_EQ(window->firstResponder(), panel->webView().get());
  EXPECT_TRUE(frame->isActiveWindow()) << "the window stays the active one";
  x.type(0x61);  // a
  EXPECT_TRUE(waitFor([&] { return onScreen(Qt::green); })) << "the key reached the page";

  x.type(0xff1b);  // Escape
  ASSERT_TRUE(waitFor([&] { return presenter.dismissals == 1; }));
  EXPECT_TRUE(panel->resultURL().isNull());
  EXPECT_TRUE(waitFor([&] { return QGuiApplication::focusWindow() == handle; })) << "the keys come back to the window";
  EXPECT_FALSE(page->isVisible());
  keepsItsWindow("once the panel has closed");
}

}  // namespace

#include "html_page_view_controller_test.moc"
