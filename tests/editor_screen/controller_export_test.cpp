// Export… over a real editor: the sheet opens on the native pane over the document's root,
// holds the screen while shown, closes once, and the export it writes reads back.

#include "controller_test_support.h"

#include "export/sharing_view_controller.h"
#include "foundation/kit_image.h"
#include "model/opml_parser.h"
#include "panels/picture_view_controller.h"

#include <QFile>
#include <QImage>

using namespace controllertest;

namespace {

struct ExportTest : ControllerTest {
  void SetUp() override {
    ControllerTest::SetUp();
    IdeaPtr root = makeTree(3);
    QImage blue(300, 200, QImage::Format_RGB32);
    blue.fill(Qt::blue);
    pictureIdea = orrery::Idea::createWithOriginalImage(orrery::KitImage(blue));
    root->addIdea(pictureIdea);
    opened = createLocal(path(QStringLiteral("map.orrery")), root);
    ASSERT_GE(opened.token, 1);
    editor = std::make_unique<EditorWindow>(SolarSystemViewController::create(opened.doc, opened.token, QString()), &app);
  }
  void TearDown() override {
    editor.reset();
    ControllerTest::TearDown();
  }
  SolarSystemViewController& c() { return *editor->controller; }
  std::vector<orrery::SharingViewController*> sheets() {
    std::vector<orrery::SharingViewController*> out;
    for (const auto& presented : c().presentedViewControllers())
      if (auto* sheet = dynamic_cast<orrery::SharingViewController*>(presented.get())) out.push_back(sheet);
    return out;
  }

  Opened opened;
  IdeaPtr pictureIdea;
  std::unique_ptr<EditorWindow> editor;
};

TEST_F(ExportTest, ExportOpensTheNativePaneOnceAndClosesOnce) {
  ASSERT_TRUE(editor->window().firstResponder()->tryToPerform(QStringLiteral("cmdExport")));
  ASSERT_EQ(sheets().size(), 1u);
  orrery::SharingViewController& sheet = *sheets()[0];
  EXPECT_EQ(sheet.currentShareTypeIndex(), 0);
  EXPECT_EQ(sheet.idea(), c().rootIdea());
  EXPECT_TRUE(c().screenOccupied());
  // A second request while the sheet is up opens nothing.
  c().cmdExport();
  EXPECT_EQ(sheets().size(), 1u);

  // A sheet the editor did not present cannot dismiss the one it did.
  orrery::SharingViewController stranger(c().rootIdea(), QDateTime());
  c().pleaseDismissSharingView(stranger);
  EXPECT_EQ(sheets().size(), 1u);

  sheet.tryToPerform(platform::Actions::cancelOperation);
  uitest::advance(1.0);
  EXPECT_TRUE(sheets().empty());
  EXPECT_FALSE(c().screenOccupied());
  // The editor can open it again.
  c().launchExportForType(4);
  ASSERT_EQ(sheets().size(), 1u);
  EXPECT_EQ(sheets()[0]->currentShareTypeIndex(), 6);
}

TEST_F(ExportTest, AnExportFromTheSheetWritesTheMapAndGivesTheScreenBack) {
  c().launchExportForType(4);
  ASSERT_EQ(sheets().size(), 1u);
  auto& pane = *sheets()[0]->shareTypes()[6];
  platform::FilePanelResult ok;
  ok.response = platform::kModalResponseOK;
  ok.paths = {path(QStringLiteral("map.opml"))};
  presenter->panelAnswers.push_back(ok);
  pane.roundedTextButtonPressed(pane.exportButton());
  ASSERT_TRUE(waitFor([&] { return sheets().empty(); }));
  EXPECT_FALSE(c().screenOccupied());
  QFile file(path(QStringLiteral("map.opml")));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  IdeaPtr back = orrery::OPMLParser().parseIdeaFromOPMLData(file.readAll());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->ideas().size(), c().rootIdea()->ideas().size());
}

TEST_F(ExportTest, APictureReplacedInItsPanelIsSavedWhenThePanelCloses) {
  const QString id = pictureIdea->identifier();
  c().onEditIdea(id);
  orrery::PictureViewController* panel = nullptr;
  for (const auto& presented : c().presentedViewControllers())
    if (auto* p = dynamic_cast<orrery::PictureViewController*>(presented.get())) panel = p;
  ASSERT_TRUE(panel);
  ASSERT_FALSE(panel->image().isNull()) << "the idea's big picture";
  EXPECT_GT(panel->image().pixelColor(10, 10).blue(), 200);

  QImage green(40, 30, QImage::Format_RGB32);
  green.fill(Qt::green);
  ASSERT_TRUE(green.save(path(QStringLiteral("green.png"))));
  platform::FilePanelResult ok;
  ok.response = platform::kModalResponseOK;
  ok.paths = {path(QStringLiteral("green.png"))};
  presenter->panelAnswers.push_back(ok);
  panel->pleaseStartImageChange();
  ASSERT_TRUE(waitFor([&] { return panel->didChangeImage(); }));
  panel->tryToPerform(platform::Actions::cancelOperation);
  uitest::advance(1.0);
  EXPECT_TRUE(c().presentedViewControllers().empty());
  ASSERT_TRUE(waitFor([&] { return !c().isUpdatingDocument(); }));
  IdeaPtr back = readTree(path(QStringLiteral("map.orrery")));
  ASSERT_TRUE(back);
  IdeaPtr saved = back->findIdeaInSubTreeWithIdentifier(id);
  ASSERT_TRUE(saved);
  const QImage big = saved->bigImage().nsImage();
  ASSERT_FALSE(big.isNull());
  const QColor centre = big.pixelColor(big.width() / 2, big.height() / 2);
  EXPECT_LT(centre.blue(), 40);
  EXPECT_GT(centre.green(), 200);
}

}  // namespace
