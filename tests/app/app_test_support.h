#pragma once
// The application delegate in-process: offscreen windows, the virtual clock, the scripted
// presenter, a replaced URL opener and a recorded exit. Every process-wide value a test may
// change (user defaults of the shell, bundle version, main menu, screen factory) is put back.

#include "app/app_delegate.h"

#include "model/idea.h"
#include "model/idea_document.h"
#include "model/persistence_controller.h"
#include "platform/services/url_opener.h"
#include "platform/services/user_defaults.h"
#include "platform/ui/application.h"
#include "platform/ui/menu.h"
#include "shell/bundle_info.h"
#include "shell/screen_factory.h"
#include "ui_test_env.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace apptest {

inline const QStringList kTouchedDefaults = {
    "CurrentState",         "RecentLocalFiles",     "CurrentOrreryVersion",     "cloudstoragechoice",
    "dropboxstoragechoice", "LocalDocumentWindows", "LocalDocumentWindowFrames"};

class AppFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const QString& key : kTouchedDefaults) {
      mSavedDefaults.insert(key, defaults().objectForKey(key));
      defaults().removeObjectForKey(key);
    }
    mSavedBundle = orrery::BundleInfo::setValues(version("1.6.0", "160"));
    mSavedOpener = platform::setURLOpener([this](const QUrl& url) {
      openedURLs.push_back(url);
      return true;
    });
  }

  void TearDown() override {
    mDelegate.reset();
    platform::Application::shared().setMainMenu(nullptr);
    platform::setURLOpener(mSavedOpener);
    orrery::BundleInfo::setValues(mSavedBundle);
    orrery::setScreenFactory({});
    for (auto it = mSavedDefaults.begin(); it != mSavedDefaults.end(); ++it) defaults().setObject(it.value(), it.key());
    uitest::advance(0);
  }

  static QVariantMap version(const char* shortVersion, const char* build) {
    return {{"CFBundleShortVersionString", shortVersion}, {"CFBundleVersion", build}};
  }
  static platform::UserDefaults& defaults() { return platform::UserDefaults::standard(); }

  orrery::AppDelegate& makeDelegate() {
    orrery::AppServices services;
    services.exitEventLoop = [this] { ++exits; };
    services.runPostedMainQueueTasks = [] { uitest::loop().runPending(); };
    services.startTelemetry = [this] {
      ++telemetryStarts;
      if (startTelemetryHook) startTelemetryHook();
      if (telemetryThrows) throw std::runtime_error("configuration rejected");
    };
    if (holdFirstFrameWork)
      services.afterFirstFrame = [this](std::function<void()> work) { firstFrameWork.push_back(std::move(work)); };
    services.handleDropboxRedirect = [this](const QUrl& url, auto completion) {
      redirects.push_back(url);
      if (redirectHandler)
        redirectHandler(url, completion);
      else
        completion(redirectAnswer, redirectAnswer == QLatin1String("success") ? QString() : QStringLiteral("denied"));
    };
    mDelegate = std::make_unique<orrery::AppDelegate>(services);
    return *mDelegate;
  }

  // Starts the delegate and lets the windows fill (creating documents runs on a work queue).
  orrery::AppDelegate& launch(const QStringList& arguments = {}, int expectedWindows = 1) {
    auto& app = makeDelegate();
    app.applicationDidFinishLaunching(arguments);
    settle(expectedWindows);
    return app;
  }

  void settle(int expectedWindows) {
    uitest::loop().runUntil([&] {
      if (static_cast<int>(mDelegate->windowControllers().size()) < expectedWindows) return false;
      for (const auto& c : mDelegate->windowControllers())
        if (!c->myWindow().controller() && !c->controllerClass().isEmpty()) return false;
      return true;
    });
    uitest::advance(0);
  }

  // Ends the delegate as a quit would, keeping what it stored; the quit waits for the saves
  // in flight.
  void quit() {
    const int before = exits;
    mDelegate->terminate();
    EXPECT_TRUE(uitest::loop().runUntil([&] { return exits > before; }));
    mDelegate.reset();
    uitest::advance(0);
  }

  // A local document file with one idea.
  QString writeDocument(const QString& name, const QString& text) {
    const QString path = QDir(mFiles.path()).filePath(name);
    auto doc = orrery::IdeaDocument::createWithFileName(path, orrery::DocumentLocationLocalFile);
    doc->setIdea(orrery::Idea::createWithText(text));
    bool done = false, ok = false;
    doc->writeToLocalFileAt(QUrl::fromLocalFile(path), [&](bool success) {
      ok = success;
      done = true;
    });
    EXPECT_TRUE(uitest::loop().runUntil([&] { return done; }));
    EXPECT_TRUE(ok);
    return path;
  }

  orrery::AppDelegate& app() { return *mDelegate; }
  uitest::PresenterScope presenter;
  std::vector<QUrl> openedURLs;
  std::vector<QUrl> redirects;
  QString redirectAnswer = QStringLiteral("success");
  // When set, redirects go here instead of being answered with redirectAnswer.
  std::function<void(const QUrl&, std::function<void(const QString&, const QString&)>)> redirectHandler;
  int exits = 0;
  int telemetryStarts = 0;
  bool telemetryThrows = false;
  std::function<void()> startTelemetryHook;
  // When set, work the first frame does not need is held here instead of running at once.
  bool holdFirstFrameWork = false;
  std::vector<std::function<void()>> firstFrameWork;
  QTemporaryDir mFiles;

 private:
  std::unique_ptr<orrery::AppDelegate> mDelegate;
  QVariantMap mSavedDefaults;
  QVariantMap mSavedBundle;
  platform::URLOpener mSavedOpener;
};

// The tree of the document file at `path`, or none when it does not read.
inline orrery::IdeaPtr treeIn(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly)
             ? orrery::IdeaDocument::treeFromFileBytes(file.readAll(), /*compressed=*/true)
             : nullptr;
}

// The item of the menu or of its submenus that sends `action`, or none.
inline std::shared_ptr<platform::MenuItem> findItem(const platform::Menu& menu, const QString& action) {
  for (const auto& item : menu.items()) {
    if (item->action() == action) return item;
    if (item->submenu())
      if (auto found = findItem(*item->submenu(), action)) return found;
  }
  return nullptr;
}

}  // namespace apptest
