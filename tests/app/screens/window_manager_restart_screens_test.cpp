// The real program restarted on an X server with a window manager (openbox), which puts its
// title bar around each window after the program placed it, and on a bare one: every kind of
// window comes back where it was, restart after restart, and the start's offer of recovered
// edits stands in front of the window it restored.

#include "foundation/dictionary_extensions.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "platform/services/user_defaults.h"
#include "support/files.h"
#include "support/process_home.h"
#include "support/window_manager_child.h"
#include "support/window_manager_session.h"
#include "ui_test_env.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QScopeGuard>
#include <QThread>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <csignal>
#include <cstdlib>
#include <memory>

using namespace orrery;

namespace {

// Whether the X server on `display` shows a window whose decorations begin where each of
// `frames` does, with the size of what is inside them; else `shown` says where windows stand.
bool serverShows(const QString& display, const QList<QRect>& frames, std::string* shown);

// Starts the program, waits until each of `titles` has drawn and the window manager has put
// each window where `frames` says, and ends it as a session's end would (SIGTERM stores the
// windows).
::testing::AssertionResult runOnce(testsupport::ProcessHome& home, const QStringList& titles,
                                   const QList<QRect>& frames) {
  QProcess p;
  p.setProcessEnvironment(home.env);
  p.setStandardOutputFile(QProcess::nullDevice());
  p.setReadChannel(QProcess::StandardError);
  p.start(QStringLiteral(ORRERY_BINARY), {});
  if (!p.waitForStarted(10000)) return ::testing::AssertionFailure() << "the program did not start";
  QStringList waiting = titles;
  QElapsedTimer timer;
  timer.start();
  // The timeout only ends a broken run.
  while (!waiting.isEmpty() && timer.elapsed() < 30000 && p.state() == QProcess::Running) {
    if (!p.canReadLine() && !p.waitForReadyRead(500)) continue;
    while (p.canReadLine()) {
      const QString line = QString::fromUtf8(p.readLine()).trimmed();
      waiting.removeIf([&](const QString& title) { return line == "orrery: first frame of \"" + title + "\""; });
    }
  }
  if (!waiting.isEmpty()) {
    p.kill();
    p.waitForFinished(5000);
    return ::testing::AssertionFailure() << "never drawn: " << waiting.join(", ").toStdString();
  }
  // The window manager's frames and configure events come after the first frame. The time
  // limit only ends a run whose windows stand elsewhere.
  std::string shown;
  timer.restart();
  while (!serverShows(home.env.value("DISPLAY"), frames, &shown) && timer.elapsed() < 10000) QThread::msleep(20);
  const bool placed = serverShows(home.env.value("DISPLAY"), frames, &shown);
  ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
  if (!p.waitForFinished(20000)) return ::testing::AssertionFailure() << "still running after SIGTERM";
  if (!placed)
    return ::testing::AssertionFailure() << "gave up after 10 s waiting for the windows to stand where "
                                            "they were stored; the X server shows "
                                         << shown;
  return ::testing::AssertionSuccess();
}

std::string text(const QRectF& r) {
  return QStringLiteral("%1, %2 (%3 × %4)").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()).toStdString();
}

// Three restarts on `display`: a home window, an iCloud map's window and a local file's map
// window, each stored where it stood, are stored at the same place again.
void restartsKeepThePlaces(const QString& display) {
  testsupport::ProcessHome home;
  home.env.insert("QT_QPA_PLATFORM", "xcb");
  home.env.insert("DISPLAY", display);
  home.env.insert("ORRERY_LOG_FIRST_FRAMES", "1");

  const QString file = QDir(home.root.path()).filePath("tmp/Places.orrery");
  {
    auto doc = IdeaDocument::createWithFileName(file, DocumentLocationLocalFile);
    doc->setIdea(Idea::createWithText("Places"));
    bool done = false;
    doc->writeToLocalFileAt(QUrl::fromLocalFile(file), [&](bool) { done = true; });
    ASSERT_TRUE(uitest::loop().runUntil([&] { return done; }));
    ASSERT_TRUE(QFileInfo::exists(file));
  }
  const QString path = QFileInfo(file).canonicalFilePath();
  // A connected iCloud folder (its identity there) holding one map.
  const QString container = QDir(home.root.path()).filePath("container");
  home.env.insert("ORRERY_CLOUD_CONTAINER", container);
  auto cloudDoc = IdeaDocument::createWithFileName("Heights.orrx", DocumentLocationICloud);
  cloudDoc->setIdea(Idea::createWithText("Heights"));
  ASSERT_TRUE(QDir().mkpath(container + "/Documents"));
  ASSERT_TRUE(testsupport::writeFile(container + "/.identity", "restarts"));
  ASSERT_TRUE(testsupport::writeFile(container + "/Documents/Heights.orrx", cloudDoc->exportAsPureJSONData()));
  // Where each window stood. Both maps stand right of x 268, past which a window of the new
  // window's width (1172) would not fit the screen (1440).
  const QRectF homeFrame(120, 93, 900, 640), cloudFrame(399, 180, 800, 539), fileFrame(480, 180, 820, 600);
  {
    platform::UserDefaults stored(home.defaultsFile());
    stored.setString("1.6.0.160", "CurrentOrreryVersion");
    stored.setBool(true, "cloudstoragechoice");
    // The iCloud map first: the window shown first is decorated at the size it was shown with.
    stored.setObject(
        QVariantMap{
            {"controllerStates",
             QVariantList{QVariantMap{{"controllerClass", "SolarSystemViewController"},
                                      {"controllerState", QVariantMap{{"docIdentifier", cloudDoc->docIdentifier()}}},
                                      {"windowFrame", dictext::stringFromRect(cloudFrame)}},
                          QVariantMap{{"controllerClass", "HomeViewController"},
                                      {"controllerState", QVariantMap{{"location", 2}}},
                                      {"windowFrame", dictext::stringFromRect(homeFrame)}}}}},
        "CurrentState");
    stored.setObject(QStringList{path}, "LocalDocumentWindows");
    QVariantMap frames;
    dictext::setRect(frames, fileFrame, path);
    stored.setObject(frames, "LocalDocumentWindowFrames");
  }
  for (int run = 1; run <= 3; ++run) {
    EXPECT_TRUE(runOnce(home, {"Heights", "iCloud Documents", "Places.orrery"},
                        {cloudFrame.toRect(), homeFrame.toRect(), fileFrame.toRect()}))
        << "run " << run;
    platform::UserDefaults stored(home.defaultsFile());
    const QVariantList windows = stored.dictionaryForKey("CurrentState").value("controllerStates").toList();
    ASSERT_EQ(windows.size(), 2) << "run " << run;
    const QRectF cloudNow = dictext::rectForKey(windows[0].toMap(), "windowFrame");
    EXPECT_TRUE(cloudNow == cloudFrame) << "run " << run << ": the iCloud map's window came back at " << text(cloudNow);
    const QRectF homeNow = dictext::rectForKey(windows[1].toMap(), "windowFrame");
    EXPECT_TRUE(homeNow == homeFrame) << "run " << run << ": the home window came back at " << text(homeNow);
    const QRectF fileNow = dictext::rectForKey(stored.dictionaryForKey("LocalDocumentWindowFrames"), path);
    EXPECT_TRUE(fileNow == fileFrame) << "run " << run << ": the local map's window came back at " << text(fileNow);
  }
}

}  // namespace

// What the X server itself shows of a program's windows, asked over a connection of its own.
class XServerView {
 public:
  explicit XServerView(const QString& display) : mConnection(xcb_connect(display.toLatin1().constData(), nullptr)) {
    mRoot = testsupport::rootWindow(mConnection);
  }
  ~XServerView() { xcb_disconnect(mConnection); }
  XServerView(const XServerView&) = delete;
  XServerView& operator=(const XServerView&) = delete;

  struct Shown {
    xcb_window_t window;
    bool dialog;
    QRect frame;
    QPoint decorated;  // where the window manager's decorations begin
  };
  // The windows shown, bottom to top: the window manager's stacking list, or without one the
  // root's children as the server stacks them.
  std::vector<Shown> stacking() {
    std::vector<xcb_window_t> windows = listProperty(mRoot, "_NET_CLIENT_LIST_STACKING");
    if (windows.empty()) {
      auto* tree = xcb_query_tree_reply(mConnection, xcb_query_tree(mConnection, mRoot), nullptr);
      if (tree) {
        const xcb_window_t* children = xcb_query_tree_children(tree);
        windows.assign(children, children + xcb_query_tree_children_length(tree));
        free(tree);
      }
    }
    std::vector<Shown> shown;
    const xcb_atom_t dialogType = atom("_NET_WM_WINDOW_TYPE_DIALOG");
    for (const xcb_window_t window : windows) {
      auto* attributes =
          xcb_get_window_attributes_reply(mConnection, xcb_get_window_attributes(mConnection, window), nullptr);
      const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
      free(attributes);
      const QRect frame = frameOf(window);
      if (!viewable || frame.width() < 50) continue;
      const std::vector<xcb_window_t> types = listProperty(window, "_NET_WM_WINDOW_TYPE", XCB_ATOM_ATOM);
      // Left, right, top, bottom.
      const std::vector<xcb_window_t> extents = listProperty(window, "_NET_FRAME_EXTENTS", XCB_ATOM_CARDINAL);
      const QPoint decorated = extents.size() == 4 ? QPoint(int(extents[0]), int(extents[2])) : QPoint();
      shown.push_back({window, !types.empty() && types[0] == dialogType, frame, frame.topLeft() - decorated});
    }
    return shown;
  }
  xcb_window_t focus() {
    auto* reply = xcb_get_input_focus_reply(mConnection, xcb_get_input_focus(mConnection), nullptr);
    const xcb_window_t window = reply ? reply->focus : xcb_window_t(XCB_NONE);
    free(reply);
    return window;
  }
  // The screen's pixels in `area`, as the server composed them.
  QImage pixels(const QRect& area) { return testsupport::serverPixels(mConnection, area); }

 private:
  xcb_atom_t atom(const char* name) {
    auto* reply =
        xcb_intern_atom_reply(mConnection, xcb_intern_atom(mConnection, 1, uint16_t(strlen(name)), name), nullptr);
    const xcb_atom_t found = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(reply);
    return found;
  }
  std::vector<xcb_window_t> listProperty(xcb_window_t window, const char* name, xcb_atom_t type = XCB_ATOM_WINDOW) {
    std::vector<xcb_window_t> values;
    const xcb_atom_t property = atom(name);
    if (property == XCB_ATOM_NONE) return values;
    auto* reply =
        xcb_get_property_reply(mConnection, xcb_get_property(mConnection, 0, window, property, type, 0, 4096), nullptr);
    if (reply && reply->format == 32) {
      const auto* data = static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
      values.assign(data, data + xcb_get_property_value_length(reply) / 4);
    }
    free(reply);
    return values;
  }
  QRect frameOf(xcb_window_t window) {
    auto* geometry = xcb_get_geometry_reply(mConnection, xcb_get_geometry(mConnection, window), nullptr);
    auto* at = xcb_translate_coordinates_reply(mConnection, xcb_translate_coordinates(mConnection, window, mRoot, 0, 0),
                                               nullptr);
    QRect frame;
    if (geometry && at) frame = QRect(at->dst_x, at->dst_y, geometry->width, geometry->height);
    free(geometry);
    free(at);
    return frame;
  }

  xcb_connection_t* mConnection;
  xcb_window_t mRoot = XCB_NONE;
};

namespace {

bool serverShows(const QString& display, const QList<QRect>& frames, std::string* shown) {
  XServerView server(display);
  QList<QRect> standing;
  for (const auto& window : server.stacking()) standing.append(QRect(window.decorated, window.frame.size()));
  *shown = "";
  for (const QRect& frame : standing) *shown += text(frame) + "; ";
  return std::all_of(frames.begin(), frames.end(), [&](const QRect& frame) { return standing.contains(frame); });
}

}  // namespace

// A first start of this version with an edit an earlier run kept, on `display`: the offer of the
// copy stands above the map's window (a new one, or with `restored` the one of the last run)
// with the keyboard, and the what's-new card over that window shows its texts while the offer
// waits.
void theOfferStandsInFront(const QString& display, bool restored) {
  testsupport::ProcessHome home;
  home.env.insert("QT_QPA_PLATFORM", "xcb");
  home.env.insert("DISPLAY", display);
  const QString file = QDir(home.root.path()).filePath("tmp/Places.orrery");
  const QString copies = QDir(home.root.path()).filePath("data/Orrery/Orrery/Recovered Documents");
  ASSERT_TRUE(QDir().mkpath(copies));
  for (const QString& path : {file, copies + "/id1796782798_7 2026-12-09 02.34.11.orrery"}) {
    auto doc = IdeaDocument::createWithFileName(path, DocumentLocationLocalFile);
    doc->setIdea(Idea::createWithText("Places"));
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly) && out.write(doc->exportAsOrreryData()) > 0);
  }
  if (restored)
    platform::UserDefaults(home.defaultsFile())
        .setObject(QStringList{QFileInfo(file).canonicalFilePath()}, "LocalDocumentWindows");

  QProcess p;
  p.setProcessEnvironment(home.env);
  p.setStandardOutputFile(QProcess::nullDevice());
  p.setStandardErrorFile(QProcess::nullDevice());
  p.start(QStringLiteral(ORRERY_BINARY), {});
  ASSERT_TRUE(p.waitForStarted(10000));
  const auto end = qScopeGuard([&] { testsupport::endProcess(p); });
  XServerView server(display);
  // The card's change list, below the middle of the map's window, outside the offer: once the
  // card's light panel covers the map there, its letters are the only dark pixels on it.
  auto listLetters = [&](const XServerView::Shown& map, const XServerView::Shown& offer) {
    const QPoint middle = map.frame.center();
    const QRect list(middle.x() - 150, middle.y() + 70, 220, 80);
    const QImage image = server.pixels(list);
    int panel = 0, dark = 0, seen = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) {
        if (offer.frame.contains(list.topLeft() + QPoint(x, y))) continue;
        const QRgb pixel = image.pixel(x, y);
        ++seen;
        panel += qRed(pixel) == 242 && qGreen(pixel) == 242 && qBlue(pixel) == 242;
        dark += qGray(pixel) < 200;
      }
    return seen > 0 && panel * 2 > seen ? dark : -1;
  };
  std::vector<XServerView::Shown> shown;
  int letters = 0;
  QElapsedTimer timer;
  timer.start();
  // Until the offer and the map's window are shown and the card's texts drawn; the time limit
  // only ends a broken run.
  while (timer.elapsed() < 20000 && p.state() == QProcess::Running) {
    QThread::msleep(100);
    shown = server.stacking();
    const auto offer = std::find_if(shown.begin(), shown.end(), [](const auto& w) { return w.dialog; });
    const auto map = std::find_if(shown.begin(), shown.end(), [](const auto& w) { return !w.dialog; });
    if (offer == shown.end() || map == shown.end()) continue;
    if ((letters = listLetters(*map, *offer)) > 40) break;
  }
  QThread::msleep(300);  // what the window manager does after the last change shows
  shown = server.stacking();
  ASSERT_GE(shown.size(), 2u) << "the offer and the map's window are not both shown";
  EXPECT_TRUE(shown.back().dialog) << "a window of the program stands above the offer";
  EXPECT_EQ(std::count_if(shown.begin(), shown.end(), [](const auto& w) { return w.dialog; }), 1);
  EXPECT_EQ(server.focus(), shown.back().window) << "the offer has not the keyboard";
  EXPECT_GE(letters, 0) << "no what's-new card over the map";
  EXPECT_GT(letters, 40) << "the what's-new card shows no text while the offer waits";
}

TEST(ScreensUnderAWindowManager, TheStartsOfferOfRecoveredEditsStandsInFrontWithAndWithoutOne) {
  QStringList missing;
  for (const bool withManager : {true, false}) {
    SCOPED_TRACE(withManager ? "under openbox" : "on a bare X server");
    testsupport::WindowManagerSession session(withManager);
    if (!session.missing().isEmpty()) {
      missing << session.missing();
      continue;
    }
    // The window manager keeps a dialog above its windows; without one, each window the start
    // brings to the front must leave the offer in front.
    for (const bool restored :
         withManager ? std::initializer_list<bool>{false} : std::initializer_list<bool>{false, true}) {
      SCOPED_TRACE(restored ? "over the map of the last run" : "over a new map");
      theOfferStandsInFront(session.display(), restored);
    }
  }
  if (!missing.isEmpty()) GTEST_SKIP() << "not checked: " << missing.join("; ").toStdString();
}

TEST(ScreensUnderAWindowManager, EveryKindOfWindowComesBackWhereItWasWithAndWithoutOne) {
  QStringList missing;
  for (const bool withManager : {true, false}) {
    SCOPED_TRACE(withManager ? "under openbox" : "on a bare X server");
    testsupport::WindowManagerSession session(withManager);
    if (!session.missing().isEmpty()) {
      missing << (withManager ? "under a window manager: " : "on an X server: ") + session.missing();
      continue;
    }
    restartsKeepThePlaces(session.display());
  }
  if (!missing.isEmpty()) GTEST_SKIP() << "not checked " << missing.join("; ").toStdString();
}
