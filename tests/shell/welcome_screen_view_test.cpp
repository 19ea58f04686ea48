#include "shell/bundle_info.h"
#include "shell/welcome_screen_view.h"

#include "foundation/views/base_image_view.h"
#include "foundation/views/blur_view.h"
#include "foundation/views/colored_view.h"
#include "foundation/views/text_view.h"
#include "platform/services/resources.h"
#include "platform/ui/window.h"
#include "foundation/globals.h"

#include <QDir>
#include <QFile>
#include <QFontMetricsF>
#include <QTemporaryDir>
#include "ui_test_env.h"

#include <gtest/gtest.h>

using namespace orrery;
using platform::Event;
using platform::EventType;

namespace {

KitImage screenshotOfSize(int w, int h) {
  QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
  image.fill(QColor(30, 90, 160));
  return KitImage(image);
}

// Counts what reaches the document beneath the screen.
class Beneath : public platform::View {
 public:
  using View::View;
  void mouseDown(const Event&) override { ++events; }
  void mouseUp(const Event&) override { ++events; }
  void mouseDragged(const Event&) override { ++events; }
  void scrollWheel(const Event&) override { ++events; }
  void keyDown(const Event&) override { ++events; }
  bool acceptsFirstResponder() const override { return true; }
  int events = 0;
};

struct VersionScope {
  QVariantMap previous = BundleInfo::setValues({{QStringLiteral("CFBundleShortVersionString"), QStringLiteral("2.7.1")}});
  ~VersionScope() { BundleInfo::setValues(previous.isEmpty() ? QVariantMap() : previous); }
};

}  // namespace

// An installed information file larger than the memory there is (sparse: no disk taken) is not
// read: the version reads as none.
TEST(WelcomeScreenView, AnInformationFileLargerThanTheMemoryIsNotRead) {
  QTemporaryDir folder;
  QFile huge(folder.filePath("sdk/Info.plist"));
  ASSERT_TRUE(QDir(folder.path()).mkpath("sdk") && huge.open(QIODevice::WriteOnly) && huge.resize(qint64(1) << 40));
  const QByteArray named = qgetenv("ORRERY_RESOURCES_DIR");
  qputenv("ORRERY_RESOURCES_DIR", folder.path().toUtf8());
  const QVariantMap previous = BundleInfo::setValues({});
  EXPECT_EQ(BundleInfo::value(QStringLiteral("CFBundleShortVersionString")), QString());
  BundleInfo::setValues(previous);
  named.isEmpty() ? qunsetenv("ORRERY_RESOURCES_DIR") : qputenv("ORRERY_RESOURCES_DIR", named);
}

TEST(WelcomeScreenView, LaysThePanelOutAroundTheCentreOfAnEightHundredBySixHundredContainer) {
  VersionScope version;
  auto screen = std::make_shared<WelcomeScreenView>(screenshotOfSize(800, 600));
  EXPECT_EQ(screen->frame(), QRectF(0, 0, 800, 600));
  screen->applyLayout();
  EXPECT_DOUBLE_EQ(screen->welcomeLabel()->frame().left(), 250);
  EXPECT_DOUBLE_EQ(screen->coloredView()->frame().left(), 224);
  EXPECT_DOUBLE_EQ(screen->coloredView()->frame().top(), 105);
  EXPECT_DOUBLE_EQ(screen->coloredView()->frame().width(), 352);
  EXPECT_DOUBLE_EQ(screen->logoView()->frame().top(), 141);
  EXPECT_DOUBLE_EQ(screen->logoView()->frame().center().x(), 400);
  // In points: the double-size picture's pixels made the panel run out of a 720-pixel screen.
  EXPECT_EQ(screen->logoView()->frame().size(), QSizeF(QImage(platform::pathForResource("about_logo", "png")).size()));
  EXPECT_EQ(screen->blurView()->frame(), screen->frame());

  // Every line stays one line, whichever face stands in for Avenir.
  platform::Window window(QSizeF(800, 600));
  window.contentView()->addSubview(screen);
  window.displayIfNeeded();
  for (const auto& label : {screen->versionLabel(), screen->welcomeLabel(), screen->listTitleLabel(),
                            screen->itemLabels()[1]}) {
    EXPECT_LT(label->intrinsicContentSize().height(), 1.6 * QFontMetricsF(Globals::fontAvenirLight(13)).height())
        << label->text().toStdString();
  }
  EXPECT_EQ(screen->versionLabel()->text(), QStringLiteral("Orrery version 2.7.1"));
  EXPECT_DOUBLE_EQ(screen->versionLabel()->frame().right(), screen->logoView()->frame().right());
  EXPECT_DOUBLE_EQ(screen->versionLabel()->frame().top(), screen->logoView()->frame().bottom() + 24);

  // The empty closing line keeps its place: 16 above it, its own 18, then 26 to the button.
  ASSERT_EQ(screen->itemLabels().size(), 3u);
  EXPECT_EQ(screen->bottomLabel()->text(), QStringLiteral(""));
  const double lastItemBottom = screen->itemLabels().back()->frame().bottom();
  EXPECT_DOUBLE_EQ(screen->bottomLabel()->frame().top(), lastItemBottom + 16);
  EXPECT_DOUBLE_EQ(screen->closeButton()->frame().top(), lastItemBottom + 16 + 18 + 26);
  EXPECT_DOUBLE_EQ(screen->closeButton()->frame().right(), 250 + 300);
  EXPECT_DOUBLE_EQ(screen->coloredView()->frame().bottom(), screen->closeButton()->frame().bottom() + 36);
}

TEST(WelcomeScreenView, EventsStopAtTheScreenAndOnlyTheButtonClosesIt) {
  platform::Window window(QSizeF(800, 600));
  auto beneath = std::make_shared<Beneath>(QRectF(0, 0, 800, 600));
  window.contentView()->addSubview(beneath);
  window.makeKeyAndOrderFront();
  window.makeFirstResponder(beneath.get());
  auto screen = std::make_shared<WelcomeScreenView>(screenshotOfSize(800, 600));
  window.contentView()->addSubview(screen);
  screen->applyLayout();
  screen->takeTheKeys();
  window.displayIfNeeded();

  for (auto type : {EventType::LeftMouseDown, EventType::LeftMouseDragged, EventType::LeftMouseUp,
                    EventType::ScrollWheel})
    window.sendEvent(Event::mouse(type, QPointF(50, 50)));
  window.sendEvent(Event::key(EventType::KeyDown, platform::KeyCode::Space, QStringLiteral(" ")));
  EXPECT_EQ(beneath->events, 0);
  EXPECT_EQ(screen->lastKeyCode(), platform::KeyCode::Space) << "the key is read and consumed";

  // The blurred picture, not the document, is what shows outside the panel.
  const QRgb outside = window.snapshot().pixel(20, 20);
  EXPECT_GT(qBlue(outside), qRed(outside));
  const QRgb panel = window.snapshot().pixel(240, 300);
  EXPECT_EQ(panel, qRgb(242, 242, 242)) << "the light panel, white 0.95";

  const QPointF button = screen->closeButton()->frame().center();
  window.sendEvent(Event::mouse(EventType::LeftMouseDown, button));
  window.sendEvent(Event::mouse(EventType::LeftMouseUp, button));
  uitest::advance(0.2);
  EXPECT_EQ(screen->superview(), nullptr);
  window.sendEvent(Event::mouse(EventType::LeftMouseDown, QPointF(50, 50)));
  EXPECT_EQ(beneath->events, 1) << "the document is reachable again";
  window.sendEvent(Event::key(EventType::KeyDown, platform::KeyCode::Space, QStringLiteral(" ")));
  EXPECT_EQ(beneath->events, 2) << "and the keys go back to who had them";
}
