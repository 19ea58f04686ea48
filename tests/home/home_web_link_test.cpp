// Editing a document whose central idea is a web link, from the home screen's tile menu, over
// the real web engine: a confirmed page becomes the root's address and picture and is saved;
// closing the panel writes nothing. The token goes back either way.

#include "home/home_view_controller.h"

#include "foundation/globals.h"
#include "foundation/kit_image.h"
#include "foundation/views/search_text_field.h"
#include "model/persistence_controller.h"
#include "model/workspace.h"
#include "shell/my_window.h"
#include "shell/screen_factory.h"
#include "support/memory_persistence_state.h"
#include "web_test_support.h"

#include <QLineEdit>
#include <QTest>

using namespace orrery;
using orrery::testing::MemoryPersistenceState;

namespace {

PersistenceController& facade() { return PersistenceController::singleton(); }

struct HomeWebLinkTest : ::testing::Test {
  void SetUp() override {
    previousFactory = setScreenFactory({});
    server.setPage(QStringLiteral("/red"), webtest::bands("red", 2000, "blue", 10));
    server.setPage(QStringLiteral("/green"), webtest::bands("#00ff00", 2000, "blue", 10));
    QImage grey(80, 80, QImage::Format_RGB32);
    grey.fill(Qt::gray);
    dropbox->store(kLink, Idea::createWithURL(server.url(QStringLiteral("/red")).toString(), KitImage(grey)));
    facade().setWorkspaceFactory(Workspace::factoryWithEngines(
        [this](DocumentLocation) { return std::static_pointer_cast<PersistenceState>(dropbox); }));
    Globals::optForDropbox(true);
    uitest::advance(0);
    dropbox->reportStatus(3);
    dropbox->reportStoredDocuments();
    uitest::advance(0);
    home = HomeViewController::create(DocumentLocationDropbox, QString());
    window = std::make_shared<DragSupportWindow>(QSizeF(1000, 800));
    window->switchToViewController(home, /*animated=*/false, nullptr);
    // Pages draw only in a shown window.
    window->makeKeyAndOrderFront();
    window->displayIfNeeded();
  }
  void TearDown() override {
    window->close();
    window.reset();
    home.reset();
    uitest::advance(1.0);
    Globals::optForDropbox(false);
    facade().setWorkspaceFactory({});
    uitest::advance(0);
    setScreenFactory(std::move(previousFactory));
  }
  HTMLPageViewController* panel() {
    for (const auto& presented : home->presentedViewControllers())
      if (auto* p = dynamic_cast<HTMLPageViewController*>(presented.get())) return p;
    return nullptr;
  }
  // Edit from the tile's menu, once the document is open.
  void edit() {
    home->onEditItem(kLink);
    ASSERT_TRUE(webtest::waitFor([&] { return panel() != nullptr; }));
    EXPECT_TRUE(panel()->isEditSession());
    EXPECT_EQ(dropbox->heldTokens(kLink), 1u);
    EXPECT_TRUE(home->screenOccupied());
  }

  static inline const QString kLink = QStringLiteral("dropbox:/link.orrx");
  webtest::BuiltWebModule module;
  testsupport::LoopbackHttpServer server;
  uitest::PresenterScope presenter;
  std::shared_ptr<MemoryPersistenceState> dropbox = std::make_shared<MemoryPersistenceState>();
  std::shared_ptr<HomeViewController> home;
  std::shared_ptr<DragSupportWindow> window;
  ScreenFactory previousFactory;
};

TEST_F(HomeWebLinkTest, AConfirmedPageIsSavedAsTheRootsLinkAndClosingWritesNothing) {
  edit();
  EXPECT_EQ(panel()->fieldText(), server.url(QStringLiteral("/red")).toString());
  // Escape in the field: the panel goes while the field handles the key; nothing is written.
  QTest::keyClick(panel()->searchTextField()->lineEdit(), Qt::Key_Escape);
  uitest::advance(1.0);
  EXPECT_EQ(panel(), nullptr);
  EXPECT_FALSE(home->screenOccupied());
  EXPECT_EQ(dropbox->heldTokens(kLink), 0u);
  EXPECT_EQ(dropbox->calls(MemoryPersistenceState::Op::Update), 0);

  edit();
  webtest::visitAndConfirm(panel(), server, QStringLiteral("/green"), Qt::green);
  EXPECT_EQ(panel(), nullptr);
  ASSERT_TRUE(webtest::waitFor([&] { return dropbox->heldTokens(kLink) == 0; }));
  EXPECT_FALSE(home->screenOccupied());
  EXPECT_EQ(dropbox->calls(MemoryPersistenceState::Op::Update), 1);
  IdeaPtr saved = dropbox->storedIdea(kLink);
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->URL(), server.url(QStringLiteral("/green")).toString());
  // The idea's small picture is desaturated: green only has to dominate.
  const QImage picture = saved->image().nsImage();
  ASSERT_FALSE(picture.isNull());
  const QColor c = picture.pixelColor(picture.width() / 2, picture.height() / 2);
  EXPECT_TRUE(c.green() > c.red() + 60 && c.green() > c.blue() + 60) << "the page's picture";
}

}  // namespace
