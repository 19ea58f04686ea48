// Web links over a real editor and the real web engine: "Add Web Link" puts a confirmed page
// into the dock, editing a web-link idea stores the confirmed address and page picture, and
// closing the panel changes nothing.

#include "controller_test_support.h"

#include "foundation/kit_image.h"
#include "foundation/views/search_text_field.h"
#include "loopback_http_server.h"
#include "model/document_limits.h"
#include "model/idea_document.h"
#include "panels/html_page_view_controller.h"
#include "platform/ui/qt_modal_presenter.h"
#include "web_test_support.h"

#include <QApplication>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

using namespace controllertest;

namespace {

// The idea's small picture is desaturated: green only has to dominate.
bool mostlyGreen(const QImage& image) {
  if (image.isNull()) return false;
  const QColor c = image.pixelColor(image.width() / 2, image.height() / 2);
  return c.green() > c.red() + 60 && c.green() > c.blue() + 60;
}

struct WebLinkTest : ControllerTest {
  void SetUp() override {
    ControllerTest::SetUp();
    server.setPage(QStringLiteral("/red"), webtest::bands("red", 2000, "blue", 10));
    server.setPage(QStringLiteral("/green"), webtest::bands("#00ff00", 2000, "blue", 10));
    IdeaPtr root = makeTree(2);
    QImage grey(80, 80, QImage::Format_RGB32);
    grey.fill(Qt::gray);
    linkIdea = orrery::Idea::createWithURL(server.url(QStringLiteral("/red")).toString(), orrery::KitImage(grey));
    root->addIdea(linkIdea);
    opened = createLocal(path(QStringLiteral("map.orrery")), root);
    ASSERT_GE(opened.token, 1);
    editor = std::make_unique<EditorWindow>(SolarSystemViewController::create(opened.doc, opened.token, QString()), &app);
    // Pages draw only in a shown window.
    editor->shown->makeKeyAndOrderFront();
  }
  void TearDown() override {
    editor.reset();
    ControllerTest::TearDown();
  }
  SolarSystemViewController& c() { return *editor->controller; }
  orrery::HTMLPageViewController* panel() {
    for (const auto& presented : c().presentedViewControllers())
      if (auto* p = dynamic_cast<orrery::HTMLPageViewController*>(presented.get())) return p;
    return nullptr;
  }
  void pressEscape() {
    editor->window().sendEvent(platform::Event::key(platform::EventType::KeyDown, platform::KeyCode::Escape, QString(),
                                                    0, uitest::clock().now()));
  }
  void visitAndConfirm(const QString& path, QColor colour) { webtest::visitAndConfirm(panel(), server, path, colour); }

  webtest::BuiltWebModule module;
  testsupport::LoopbackHttpServer server;
  Opened opened;
  IdeaPtr linkIdea;
  std::unique_ptr<EditorWindow> editor;
};

TEST_F(WebLinkTest, AddWebLinkPutsTheConfirmedPageIntoTheDock) {
  presenter->menuAnswers.push_back(1);
  c().topBarAction(orrery::kTopBarActionContent, QRectF(900, 0, 40, 40));
  uitest::advance(0.01);
  ASSERT_TRUE(panel()) << "\"Add Web Link\" opens the panel";
  EXPECT_FALSE(panel()->isEditSession());
  EXPECT_EQ(c().currentOccupyingOperation(), QStringLiteral("WebLinkAddition"));

  visitAndConfirm(QStringLiteral("/green"), Qt::green);
  EXPECT_EQ(panel(), nullptr);
  EXPECT_FALSE(c().screenOccupied());
  const IdeaPtr docked = editor->shown->currentDockedIdea();
  ASSERT_TRUE(docked);
  EXPECT_EQ(docked->ideaType(), orrery::IdeaTypeURL);
  EXPECT_EQ(docked->URL(), server.url(QStringLiteral("/green")).toString());
  const QImage picture = docked->image().nsImage();
  ASSERT_FALSE(picture.isNull());
  EXPECT_TRUE(mostlyGreen(picture));
  EXPECT_EQ(c().realIdea()->ideas().size(), 3u) << "the tree is unchanged";

  // Closing a second panel (Escape in its field, the panel going while the field handles the
  // key) leaves the dock as it was.
  c().pleaseStartWebLinkAddition();
  ASSERT_TRUE(panel());
  QTest::keyClick(panel()->searchTextField()->lineEdit(), Qt::Key_Escape);
  uitest::advance(1.0);
  EXPECT_EQ(panel(), nullptr);
  EXPECT_EQ(editor->shown->currentDockedIdea(), docked);
  EXPECT_FALSE(c().screenOccupied());
}

TEST_F(WebLinkTest, AnEditedLinkIsSavedWithItsNewAddressAndPicture) {
  const QString id = linkIdea->identifier();
  const QDateTime before = QFileInfo(path(QStringLiteral("map.orrery"))).lastModified();
  c().onEditIdea(id);
  ASSERT_TRUE(panel());
  EXPECT_TRUE(panel()->isEditSession());
  EXPECT_EQ(panel()->fieldText(), server.url(QStringLiteral("/red")).toString());

  // Escape, though the editor beneath had the keys: nothing changes, nothing is written.
  pressEscape();
  uitest::advance(1.0);
  EXPECT_EQ(panel(), nullptr);
  EXPECT_EQ(linkIdea->URL(), server.url(QStringLiteral("/red")).toString());
  EXPECT_FALSE(c().isUpdatingDocument());
  EXPECT_EQ(QFileInfo(path(QStringLiteral("map.orrery"))).lastModified(), before);

  c().onEditIdea(id);
  visitAndConfirm(QStringLiteral("/green"), Qt::green);
  EXPECT_EQ(panel(), nullptr);
  ASSERT_TRUE(waitFor([&] { return !c().isUpdatingDocument(); }));
  IdeaPtr back = readTree(path(QStringLiteral("map.orrery")));
  ASSERT_TRUE(back);
  IdeaPtr saved = back->findIdeaInSubTreeWithIdentifier(id);
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->URL(), server.url(QStringLiteral("/green")).toString());
  EXPECT_TRUE(mostlyGreen(saved->image().nsImage())) << "the page's picture";

  // At the map's limit a page that ends at an address taking more room is refused as "Change"
  // confirms it, saying why; the panel stays, and once the alert is answered the window has
  // the keys again and Escape closes the panel, leaving the link as it was.
  const QString longer = QStringLiteral("/") + QString(200, QChar(u'x'));
  server.setPage(longer, webtest::bands("red", 2000, "blue", 10));
  server.setRedirect(QStringLiteral("/green"), server.url(longer).toString());
  const orrery::DocumentSize now = opened.doc->storedSize().changedBy(opened.doc->growth());
  ASSERT_TRUE(
      opened.doc->makeRoomFor(orrery::DocumentSize{orrery::DocumentLimits::kMaxJSONBytes - now.jsonBytes, 0, 0}));
  c().onEditIdea(id);
  ASSERT_TRUE(
      webtest::waitFor([&] { return panel()->searchFieldState() == 4u && panel()->fieldText().endsWith(longer); }));
  const auto previous = platform::setModalPresenter(std::make_shared<platform::QtModalPresenter>());
  QString told;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    told = box->informativeText();
    QTest::keyClick(box, Qt::Key_Escape);
  });
  answer.start(10);
  const orrery::RoundedTextButton& change = *panel()->actionButton();
  editor->click(change.convertPointToView(change.bounds().center(), nullptr));
  uitest::advance(0.3);  // a button reports its press after its release shows
  ASSERT_TRUE(webtest::waitFor([&] { return !told.isEmpty() && !QApplication::activeModalWidget(); }));
  platform::setModalPresenter(previous);
  EXPECT_EQ(told.toStdString(), orrery::DocumentLimits::documentFullMessage().toStdString());
  ASSERT_TRUE(panel()) << "the panel stays for the user to go on";
  EXPECT_TRUE(webtest::waitFor([&] { return editor->window().widget()->isActiveWindow(); }));
  pressEscape();
  EXPECT_TRUE(webtest::waitFor([&] { return !panel(); })) << "Escape closes it";
  EXPECT_FALSE(c().isUpdatingDocument());
  EXPECT_EQ(c().realIdea()->findIdeaInSubTreeWithIdentifier(id)->URL(),
            server.url(QStringLiteral("/green")).toString());
}

}  // namespace
