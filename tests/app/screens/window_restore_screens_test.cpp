// Windows coming back after a restart on a 1440 × 900 and a 1024 × 720 screen: each lies
// inside the available area of a screen, none lies exactly over another (a pile shows one
// window where there are several), and a window whose stored place was usable keeps it.

#include "../app_test_support.h"

#include "foundation/dictionary_extensions.h"

#include <QGuiApplication>
#include <QScreen>

#include <optional>

using namespace orrery;
using apptest::AppFixture;

namespace {

bool insideAnArea(const QRectF& frame) {
  for (QScreen* screen : QGuiApplication::screens())
    if (QRectF(screen->availableGeometry()).adjusted(-1, -1, 1, 1).contains(frame)) return true;
  return false;
}

QVariantMap homeWindow(const QRectF& frame) {
  return {{"controllerClass", "HomeViewController"},
          {"controllerState", QVariantMap{{"location", 2}}},
          {"windowFrame", dictext::stringFromRect(frame)}};
}

struct RestoreCase {
  const char* name;
  QList<QRectF> homeFrames;                 // stored home windows
  QList<std::optional<QRectF>> fileFrames;  // local files, with the frame stored for each
  bool lateActivation = false;              // the first window takes the focus back after each open
  bool keepPlaces = false;                  // the first home window and every file's window come back where they were
};

}  // namespace

class WindowRestore : public AppFixture {};

TEST_F(WindowRestore, WindowsComeBackInsideTheScreensAndNeverPileUp) {
  const QRectF large(100, 60, 900, 700), other(300, 120, 800, 600);
  const RestoreCase cases[] = {
      {"home windows stored at one place", {large, large, large}, {}},
      {"a home window stored past the large screen's bottom", {QRectF(200, 156, 1172, 779)}, {}},
      {"a home window taller than the small screen", {QRectF(1500, 40, 1000, 760)}, {}},
      {"local files without stored frames", {}, {std::nullopt, std::nullopt, std::nullopt}},
      {"local files where they were", {}, {large, other}, false, true},
      {"local files stored at one place", {}, {other, other, other}},
      {"a home window and files while the window manager activates late",
       {large},
       {std::nullopt, std::nullopt, std::nullopt},
       true,
       false},
  };
  for (const RestoreCase& c : cases) {
    QVariantList homes;
    for (const QRectF& frame : c.homeFrames) homes.append(homeWindow(frame));
    defaults().setObject(QVariantMap{{"controllerStates", homes}}, "CurrentState");
    QStringList files;
    QVariantMap frames;
    for (int i = 0; i < c.fileFrames.size(); ++i) {
      files
          << QFileInfo(writeDocument(QStringLiteral("map%1.orrery").arg(i), QStringLiteral("Map"))).canonicalFilePath();
      if (c.fileFrames[i]) dictext::setRect(frames, *c.fileFrames[i], files.last());
    }
    defaults().setObject(c.lateActivation ? QStringList() : files, "LocalDocumentWindows");
    defaults().setObject(frames, "LocalDocumentWindowFrames");
    defaults().setString("1.6.0.160", "CurrentOrreryVersion");

    auto& app = launch({}, c.homeFrames.size() + (c.lateActivation ? 0 : c.fileFrames.size()));
    if (c.lateActivation) {
      // A window manager hands the focus to a new window only later: the first one keeps it
      // while each file opens.
      for (int i = 0; i < files.size(); ++i) {
        app.openFile(files[i]);
        settle(c.homeFrames.size() + i + 1);
        app.windowControllers().front()->myWindow().makeKeyAndOrderFront();
      }
    }
    const auto& windows = app.windowControllers();
    ASSERT_EQ(int(windows.size()), c.homeFrames.size() + c.fileFrames.size()) << c.name;
    for (std::size_t i = 0; i < windows.size(); ++i) {
      const QRectF frame = windows[i]->myWindow().frame();
      EXPECT_TRUE(insideAnArea(frame)) << c.name << ": window " << i << " at " << frame.x() << ", " << frame.y() << " ("
                                       << frame.width() << " × " << frame.height() << ")";
      for (std::size_t j = 0; j < i; ++j)
        EXPECT_NE(windows[j]->myWindow().frame().topLeft(), frame.topLeft())
            << c.name << ": windows " << j << " and " << i << " lie on one another";
    }
    if (c.keepPlaces) {
      if (!c.homeFrames.isEmpty()) {
        EXPECT_EQ(windows.front()->myWindow().frame(), c.homeFrames.front()) << c.name;
      }
      for (int i = 0; i < files.size(); ++i) {
        const MyWindow* shown = app.findWindowWithURL(QUrl::fromLocalFile(files[i]));
        ASSERT_NE(shown, nullptr) << c.name;
        EXPECT_EQ(shown->frame(), *c.fileFrames[i]) << c.name << ": file " << i << " moved";
      }
    }
    quit();
    for (const QString& file : files) QFile::remove(file);
  }
}
