// The picture panel: fit mode and zoom steps within the scroll view's limits, keys, a new
// picture chosen or refused, and closing.

#include "foundation/kit_image.h"
#include "panels/picture_view_controller.h"
#include "platform/core/dispatch.h"
#include "platform/ui/event.h"
#include "platform/ui/image_view.h"
#include "platform/ui/menu.h"
#include "platform/ui/scroll_view.h"
#include "ui_test_env.h"

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>

using namespace orrery;

namespace {

struct CountingPresenter : PictureViewControllerDelegate {
  int dismissals = 0;
  void pleaseDismissPictureView(PictureViewController& /*panel*/) override { ++dismissals; }
};

QImage picture(int w, int h, QColor color = Qt::red) {
  QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
  image.fill(color);
  return image;
}

// A panel whose picture area is `w` × `h` points.
std::shared_ptr<PictureViewController> panelWithArea(const QImage& image, double w, double h) {
  auto panel = std::make_shared<PictureViewController>();
  panel->view()->setFrame(QRectF(0, 0, w, h + PictureViewController::kTopBarHeight));
  panel->applyLayout();
  panel->setImage(image);
  panel->viewWillAppear();
  return panel;
}

void resize(PictureViewController& panel, double w, double h) {
  panel.view()->setFrame(QRectF(0, 0, w, h + PictureViewController::kTopBarHeight));
  panel.applyLayout();
}

void press(PictureView& view, const QString& key, uint32_t modifiers) {
  view.keyDown(platform::Event::key(platform::EventType::KeyDown, 0, key, modifiers, uitest::clock().now()));
}

}  // namespace

TEST(PicturePanel, ABigPictureFitsAndFollowsTheSizeUntilAZoomStep) {
  auto panel = panelWithArea(picture(2000, 1500), 1000, 700);
  PictureView& area = *panel->pictureView();
  EXPECT_EQ(area.frame(), QRectF(0, 40, 1000, 700));
  EXPECT_NEAR(area.magnification(), 700.0 / 1500, 1e-9);
  EXPECT_TRUE(area.isFittingExactly());
  EXPECT_FALSE(area.scrollView()->hasVerticalScroller());
  EXPECT_FALSE(area.canZoomToActualSize()) << "already fitted";
  resize(*panel, 1000, 1000);
  EXPECT_NEAR(area.magnification(), 0.5, 1e-9);

  press(area, "+", platform::ModifierFlag::Command);
  EXPECT_NEAR(area.magnification(), 0.75, 1e-9);
  EXPECT_FALSE(area.isFittingExactly());
  EXPECT_TRUE(area.scrollView()->hasVerticalScroller());
  resize(*panel, 1000, 700);
  EXPECT_NEAR(area.magnification(), 0.75, 1e-9) << "a chosen zoom survives resizing";
  EXPECT_TRUE(area.canZoomToActualSize());

  // Ctrl+"=" also zooms in; "9" without the modifier goes on; Ctrl+9 fits again.
  press(area, "=", platform::ModifierFlag::Command);
  EXPECT_NEAR(area.magnification(), 1.125, 1e-9);
  press(area, "9", 0);
  EXPECT_NEAR(area.magnification(), 1.125, 1e-9);
  press(area, "9", platform::ModifierFlag::Command);
  EXPECT_NEAR(area.magnification(), 700.0 / 1500, 1e-9);
  EXPECT_TRUE(area.isFittingExactly());
}

TEST(PicturePanel, ZoomStopsAtTheScrollViewsLimitsAndTheMenuSaysSo) {
  auto panel = panelWithArea(picture(100, 100), 400, 400);
  PictureView& area = *panel->pictureView();
  const double max = area.scrollView()->maxMagnification();
  for (int i = 0; i < 20; ++i) area.cmdZoomIn();
  EXPECT_DOUBLE_EQ(area.magnification(), max);
  EXPECT_FALSE(area.canZoomIn());
  press(area, "+", platform::ModifierFlag::Command);
  EXPECT_DOUBLE_EQ(area.magnification(), max);
  auto menu = area.menuForEvent(platform::Event{});
  ASSERT_EQ(menu->items().size(), 4u);
  EXPECT_EQ(menu->items()[1]->title(), "Zoom In");
  EXPECT_FALSE(menu->items()[1]->isEnabled());
  EXPECT_TRUE(menu->items()[2]->isEnabled());
  for (int i = 0; i < 40; ++i) area.cmdZoomOut();
  EXPECT_DOUBLE_EQ(area.magnification(), area.scrollView()->minMagnification());
  EXPECT_FALSE(area.canZoomOut());
}

TEST(PicturePanel, ASmallPictureStaysCentredAndAnEmptyOneFitsAtOne) {
  auto panel = panelWithArea(picture(100, 50), 1000, 700);
  PictureView& area = *panel->pictureView();
  area.zoomInCenter(1.0 / area.magnification());  // actual size
  ASSERT_NEAR(area.magnification(), 1.0, 1e-9);
  const QRectF visible = area.scrollView()->documentVisibleRect();
  EXPECT_NEAR(area.imageView()->frame().center().x(), visible.center().x(), 1.0);
  EXPECT_NEAR(area.imageView()->frame().center().y(), visible.center().y(), 1.0);

  auto empty = panelWithArea(QImage(), 1000, 700);
  EXPECT_EQ(empty->pictureView()->fittingZoomForSize(QSizeF(1000, 700)), 1);
  EXPECT_FALSE(std::isnan(empty->pictureView()->magnification()));
  EXPECT_EQ(empty->pictureView()->magnification(), 1);
}

TEST(PicturePanel, AChosenGifReplacesThePictureAndAnUndecodableFileChangesNothing) {
  uitest::PresenterScope panels;
  QTemporaryDir dir;
  const QString gif = dir.filePath("new.gif");
  {
    // One red pixel: Qt reads GIF but does not write it.
    static const char kRedPixel[] =
        "GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\xff\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02" "D\x01\x00;";
    QFile file(gif);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(kRedPixel, sizeof(kRedPixel) - 1);
  }
  const QString broken = dir.filePath("broken.png");
  {
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("\x89PNG\r\n\x1a\nnot really");
  }
  CountingPresenter presenter;
  auto panel = panelWithArea(picture(200, 100, Qt::green), 800, 600);
  panel->setDelegate(&presenter);

  platform::FilePanelResult chosen;
  chosen.response = platform::kModalResponseOK;
  chosen.paths = {broken};
  panels->panelAnswers.push_back(chosen);
  panel->pleaseStartImageChange();
  ASSERT_TRUE(uitest::loop().runUntil([&] { return !panels->alerts.empty(); }, platform::Millis(10000)));
  // The alert names the file and gives the reader's reason.
  const QString said = panels->alerts[0].messageText + panels->alerts[0].informativeText;
  EXPECT_TRUE(said.contains(QStringLiteral("Failed to open file “broken.png”: "))) << said.toStdString();
  EXPECT_GT(said.section(QStringLiteral("”: "), 1).trimmed().size(), 3) << said.toStdString();
  EXPECT_FALSE(panel->didChangeImage());
  EXPECT_EQ(panel->image().size(), QSize(200, 100));
  EXPECT_EQ(panels->panels[0].allowedFileTypes, PictureViewController::allowedFileTypes());

  panels->panelAnswers.push_back(platform::FilePanelResult{});  // cancelled
  panel->pleaseStartImageChange();
  chosen.paths = {gif};
  panels->panelAnswers.push_back(chosen);
  panel->pleaseStartImageChange();
  ASSERT_TRUE(uitest::loop().runUntil([&] { return panel->didChangeImage(); }, platform::Millis(10000)));
  EXPECT_EQ(panel->image().size(), QSize(1, 1));
  EXPECT_EQ(panel->image().pixelColor(0, 0), QColor(Qt::red));
  EXPECT_TRUE(panel->pictureView()->isFittingExactly());
  EXPECT_NEAR(panel->pictureView()->magnification(), panel->pictureView()->scrollView()->maxMagnification(), 1e-9);

  EXPECT_TRUE(panel->tryToPerform(platform::Actions::cancelOperation));
  EXPECT_EQ(presenter.dismissals, 1);
  panel->buttonPressed(*panel->closeButton());
  EXPECT_EQ(presenter.dismissals, 2);
}

TEST(PictureViewController, EveryNameOfEachOfferedTypeIsListedAndOpens) {
  const QStringList offered = PictureViewController::allowedFileTypes();
  // As the open panel filters: "*.<type>", whatever the case of the name.
  auto listed = [&](const QString& name) {
    for (const QString& type : offered)
      if (QRegularExpression(QRegularExpression::wildcardToRegularExpression("*." + type),
                             QRegularExpression::CaseInsensitiveOption)
              .match(name)
              .hasMatch())
        return true;
    return false;
  };
  // One red pixel: Qt reads GIF but does not write it.
  static const char kRedPixel[] =
      "GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\xff\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02"
      "D\x01\x00;";
  struct Case {
    const char* name;
    const char* format;  // written by Qt; null: the GIF pixel above
  };
  // TIFF comes with the image-format plugins the program depends on.
  const Case cases[] = {{"a.png", "png"},  {"b.jpg", "jpeg"}, {"c.jpeg", "jpeg"}, {"d.jpe", "jpeg"}, {"e.tiff", "tiff"},
                        {"f.tif", "tiff"}, {"G.TIF", "tiff"}, {"h.gif", nullptr}, {"I.JPG", "jpeg"}};
  QTemporaryDir dir;
  QImage picture(40, 20, QImage::Format_RGB32);
  picture.fill(Qt::darkCyan);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(listed(QString::fromLatin1(c.name)));
    const QString path = dir.filePath(QString::fromLatin1(c.name));
    if (c.format) {
      ASSERT_TRUE(picture.save(path, c.format));
    } else {
      QFile file(path);
      ASSERT_TRUE(file.open(QIODevice::WriteOnly));
      file.write(kRedPixel, sizeof(kRedPixel) - 1);
    }
    EXPECT_EQ(PictureViewController::readChosenPicture(path).pixelSize(), c.format ? QSizeF(40, 20) : QSizeF(1, 1));
  }
  EXPECT_FALSE(listed("notes.txt"));
  EXPECT_EQ(offered.mid(0, 3), (QStringList{"png", "jpg", "tiff"})) << "in the order the panel has always listed them";
}
