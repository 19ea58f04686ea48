#include "export/image_exporter.h"

#include "export_test_support.h"
#include "graph/graph_tile_factory.h"
#include "model/idea_snapshot.h"
#include "support/pdf_tools.h"

#include <QFile>
#include <QTemporaryDir>

#include <QPainter>

#include <gtest/gtest.h>

namespace orrery {
namespace {

TEST(ImageExporter, ASmallMapComesOutAtItsNaturalSizeOnWhiteOrTransparent) {
  const IdeaPtr root = exporttest::fanMap("Root", 5);
  const GraphTileFactory factory(IdeaSnapshot::createFromFrozen(root->snapshotCopy()), GraphFilter(), false);
  QString error;
  const QImage white = ImageExporter::renderImage(factory, /*transparency=*/false, &error);
  ASSERT_FALSE(white.isNull()) << error.toStdString();
  EXPECT_EQ(white.width(), int(factory.contentSize().width()));
  EXPECT_EQ(white.height(), int(factory.contentSize().height()));
  EXPECT_EQ(white.pixelColor(0, 0), QColor(Qt::white));
  const QImage clear = ImageExporter::renderImage(factory, /*transparency=*/true, &error);
  EXPECT_EQ(clear.pixelColor(0, 0).alpha(), 0);
  // The root disc sits in the middle of the map: coloured, opaque pixels there.
  const QPoint middle(clear.width() / 2, clear.height() / 2);
  EXPECT_EQ(clear.pixelColor(middle).alpha(), 255);
  EXPECT_NE(white.pixelColor(middle), QColor(Qt::white));
  // The opaque picture holds exactly the pixels of the same drawing on a white canvas with alpha.
  QImage reference(white.size(), QImage::Format_ARGB32_Premultiplied);
  reference.fill(Qt::white);
  {
    QPainter painter(&reference);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing | QPainter::SmoothPixmapTransform);
    factory.drawTile(QRectF(QPointF(0, 0), factory.contentSize()), 1.0, painter);
  }
  EXPECT_EQ(white.convertToFormat(QImage::Format_RGB32), reference.convertToFormat(QImage::Format_RGB32));

  const QByteArray png = ImageExporter::generatePNGImageFromIdea(root->snapshotCopy(), true, &error);
  ASSERT_TRUE(png.startsWith("\x89PNG\r\n\x1a\n"));
  QTemporaryDir dir;
  QFile file(dir.filePath("map.png"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(png);
  file.close();
  ASSERT_TRUE(testsupport::requireTool("pngcheck", "pngcheck"));
  int code = -1;
  const QString output = testsupport::runTool("pngcheck", {file.fileName()}, &code);
  EXPECT_EQ(code, 0) << output.toStdString();
}

TEST(ImageExporter, ALargeMapIsShrunkUntilNeitherSidePasses4096Pixels) {
  const IdeaPtr root = exporttest::fanMap("Root", 3000);
  const GraphTileFactory factory(IdeaSnapshot::createFromFrozen(root->snapshotCopy()), GraphFilter(), false);
  const QSizeF content = factory.contentSize();
  ASSERT_GT(std::max(content.width(), content.height()), 4096) << "the map must be larger than the cap";
  QString error;
  const QImage image = ImageExporter::renderImage(factory, false, &error);
  ASSERT_FALSE(image.isNull()) << error.toStdString();
  EXPECT_LE(image.width(), 4096);
  EXPECT_LE(image.height(), 4096);
  EXPECT_EQ(std::max(image.width(), image.height()), 4096);
  EXPECT_NEAR(double(image.width()) / image.height(), content.width() / content.height(), 0.01);
  EXPECT_FALSE(ImageExporter::generatePNGImageFromIdea(nullptr, false, &error).size());
  EXPECT_FALSE(error.isEmpty());
}

}  // namespace
}  // namespace orrery
