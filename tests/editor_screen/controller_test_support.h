#pragma once
// What the editor-controller tests share: documents made through the real facade in a folder of
// the test's own, a recording application delegate, an editor hosted in a container window that
// asks the controller before closing, and helpers that wait for completions on the main loop.

#include "ui_test_env.h"

#include "editor_screen/solar_system_view_controller.h"
#include "foundation/application_delegate.h"
#include "foundation/globals.h"
#include "foundation/views/progress_hud.h"
#include "model/color_theme.h"
#include "model/idea_document.h"
#include "model/persistence_controller.h"
#include "platform/ui/modal_presenter.h"
#include "platform/ui/window.h"
#include "shell/my_window.h"

#include <QFile>
#include <QTemporaryDir>

#include <future>
#include <memory>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace controllertest {

using orrery::IdeaDocument;
using orrery::IdeaPtr;
using orrery::SolarSystemViewController;

inline bool waitFor(const std::function<bool()>& condition) {
  return uitest::loop().runUntil(condition, platform::Millis(10000));
}

inline orrery::ColorPtr colour(int i) {
  const auto& colors = orrery::ColorTheme::standardThemes().front()->colors();
  return colors[static_cast<size_t>(i) % colors.size()];
}

inline IdeaPtr idea(const QString& text, int c = 0) {
  auto i = orrery::Idea::createWithText(text);
  i->setColor(colour(c));
  return i;
}

// Another instance's version of `tree`: the same ideas by identifier with "'" after each
// text, and under the root one idea more, "theirs".
inline IdeaPtr outsideVersion(const IdeaPtr& tree, bool top = true) {
  IdeaPtr copy = orrery::Idea::createWithText(tree->text() + QLatin1Char('\''), tree->identifier());
  for (const IdeaPtr& child : tree->ideas()) copy->addIdea(outsideVersion(child, false));
  if (top) copy->addIdea(idea(QStringLiteral("theirs")));
  return copy;
}

// "root" with `count` children "c0" … and, below child 0, "g0" and "g1".
inline IdeaPtr makeTree(int count = 5) {
  IdeaPtr root = idea(QStringLiteral("root"));
  for (int i = 0; i < count; ++i) root->addIdea(idea(QStringLiteral("c%1").arg(i), i + 1));
  if (count > 0) {
    root->ideas()[0]->addIdea(idea(QStringLiteral("g0")));
    root->ideas()[0]->addIdea(idea(QStringLiteral("g1")));
  }
  return root;
}

inline QStringList texts(const std::vector<IdeaPtr>& ideas) {
  QStringList out;
  for (const auto& i : ideas) out << (i->isLink() ? QStringLiteral("->") + i->linkedIdentifier() : i->text());
  return out;
}

// The save panel's answer when the user chose `path`.
inline platform::FilePanelResult chose(const QString& path) {
  platform::FilePanelResult result;
  result.response = platform::kModalResponseOK;
  result.paths = QStringList{path};
  return result;
}

// The tree a document file holds, read by a document nobody else knows.
inline IdeaPtr readTree(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return nullptr;
  auto reader = IdeaDocument::createWithFileName(path, orrery::DocumentLocationLocalFile);
  return reader->loadFromOrreryData(file.readAll()) ? reader->idea() : nullptr;
}

// Holds the persistence queue until opened, so a save can be caught between its start and its
// write.
struct QueueGate {
  QueueGate() {
    auto future = release.get_future().share();
    orrery::PersistenceController::singleton().workQueue().async([future] { future.wait(); });
  }
  ~QueueGate() { open(); }
  void open() {
    if (!opened) release.set_value();
    opened = true;
  }
  std::promise<void> release;
  bool opened = false;
};

struct Opened {
  std::shared_ptr<IdeaDocument> doc;
  orrery::DocumentToken token = 0;
};

inline Opened create(const std::shared_ptr<IdeaDocument>& doc, const IdeaPtr& root) {
  doc->setIdea(root);
  Opened out{doc, 0};
  bool done = false;
  orrery::PersistenceController::singleton().createDocument(doc, [&](orrery::DocumentToken t) {
    out.token = t;
    done = true;
  });
  EXPECT_TRUE(waitFor([&] { return done; }));
  return out;
}

inline Opened createLocal(const QString& path, const IdeaPtr& root) {
  return create(IdeaDocument::createWithFileName(path, orrery::DocumentLocationLocalFile), root);
}

inline Opened createTemp(const IdeaPtr& root) {
  return create(IdeaDocument::createWithFileName(QString(), orrery::DocumentLocationTemp), root);
}

inline Opened openAgain(const std::shared_ptr<IdeaDocument>& doc) {
  Opened out{doc, 0};
  bool done = false;
  orrery::PersistenceController::singleton().openDocument(doc, [&](orrery::DocumentToken t) {
    out.token = t;
    done = true;
  });
  EXPECT_TRUE(waitFor([&] { return done; }));
  return out;
}

// Answers the application's questions from the windows the test registered.
struct RecordingAppDelegate : orrery::ApplicationDelegate {
  std::vector<QUrl> recent;
  std::vector<std::weak_ptr<SolarSystemViewController>> controllers;
  std::vector<QUrl> openFiles;  // files some other window shows

  void addNewRecentDocumentURL(const QUrl& url) override { recent.push_back(url); }
  bool canWeSafelyDeleteIdea(const QString& ideaIdentifier, const QString& docIdentifier) override {
    for (auto& weak : controllers)
      if (auto c = weak.lock(); c && !c->canWeSafelyDeleteIdea(ideaIdentifier, docIdentifier)) return false;
    return true;
  }
  bool isFileCurrentlyOpen(const QUrl& url) override {
    for (const QUrl& open : openFiles)
      if (open == url) return true;
    for (auto& weak : controllers)
      if (auto c = weak.lock(); c && c->document() && c->docToken() >= 1 && c->document()->refersToURL(url))
        return true;
    return false;
  }
  void markPersistentAppStateDirty() override {}
  void openDocumentInNewWindow(const QString&, const QString&) override {}
};

// Installs a recording delegate and a scripted presenter for one test; puts back what was there.
struct ControllerTest : ::testing::Test {
  void SetUp() override {
    ASSERT_TRUE(folder.isValid());
    mPreviousApp = orrery::Globals::app();
    orrery::Globals::setApp(&app);
  }
  void TearDown() override {
    uitest::advance(2.0);
    orrery::Globals::setApp(mPreviousApp);
  }
  QString path(const QString& name) const { return folder.filePath(name); }

  QTemporaryDir folder;
  RecordingAppDelegate app;
  uitest::PresenterScope presenter;

 private:
  orrery::ApplicationDelegate* mPreviousApp = nullptr;
};

// An editor in one of the program's windows, offscreen, whose close request asks the window's
// controller first.
struct EditorWindow : platform::WindowDelegate {
  explicit EditorWindow(std::shared_ptr<SolarSystemViewController> c, RecordingAppDelegate* app = nullptr)
      : controller(std::move(c)), shown(std::make_shared<orrery::DragSupportWindow>(QSizeF(1000, 800))) {
    shown->setDelegate(this);
    shown->switchToViewController(controller, /*animated=*/false, nullptr);
    shown->displayIfNeeded();
    if (app) app->controllers.push_back(controller);
  }
  ~EditorWindow() override {
    if (!closed) {
      uitest::loop().runUntil([this] { return !controller->isUpdatingDocument(); }, platform::Millis(5000));
      controller->performForcedClose();
      uitest::loop().runUntil([this] { return closed; }, platform::Millis(5000));
    }
    shown->setDelegate(nullptr);
  }
  bool windowShouldClose(platform::Window&) override {
    ++closeRequests;
    return shown->windowShouldClose();
  }
  void windowWillClose(platform::Window&) override {
    closed = true;
    controller->viewWillDisappear();
    controller->viewDidDisappear();
  }

  orrery::MyWindow& window() { return *shown; }
  orrery::SolarSystem& radial() { return *controller->solarSystem(); }
  QPointF toWindow(QPointF inRadial) { return radial().convertPointToView(inRadial, nullptr); }
  QPointF planet(std::int64_t i) { return toWindow(radial().ideaViewAtIndex(i)->position()); }
  void click(QPointF windowPoint) {
    window().sendEvent(
        platform::Event::mouse(platform::EventType::LeftMouseDown, windowPoint, uitest::clock().now(), 1));
    window().sendEvent(platform::Event::mouse(platform::EventType::LeftMouseUp, windowPoint, uitest::clock().now(), 1));
  }
  // Planets in the radial view, by the identifiers of the ideas they show.
  QStringList planets() {
    QStringList out;
    for (std::int64_t i = 0; i < radial().ideaViewCount(); ++i) out << radial().ideaViewAtIndex(i)->ideaIdentifier();
    return out;
  }
  QStringList children() {
    QStringList out;
    for (const auto& child : controller->realIdea()->ideas()) out << child->identifier();
    return out;
  }

  std::shared_ptr<SolarSystemViewController> controller;
  std::shared_ptr<orrery::DragSupportWindow> shown;
  bool closed = false;
  int closeRequests = 0;
};

// The short notices the window shows now.
inline std::vector<orrery::ProgressHUD*> notices(EditorWindow& editor) {
  std::vector<orrery::ProgressHUD*> out;
  for (const auto& v : editor.window().containerView()->subviews())
    if (auto* hud = dynamic_cast<orrery::ProgressHUD*>(v.get())) out.push_back(hud);
  return out;
}

}  // namespace controllertest
