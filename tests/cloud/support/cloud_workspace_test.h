#pragma once
// An iCloud workspace over a fresh stand-in container, with what the engine's tests read back:
// the listed documents and the documents on disk, by their root texts.

#include "cloud/cloud_mode.h"

#include "cloud_container_fixture.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "model/persistence_controller.h"
#include "model/support/recording_workspace_delegate.h"
#include "model/support/virtual_main_queue.h"
#include "model/workspace.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <utime.h>

namespace cloudtest {

using testsupport::CloudContainerFixture;

class CloudWorkspaceTest : public ::testing::Test {
 protected:
  void startWorkspace() {
    workspace = orrery::Workspace::create(orrery::CloudMode::create(), &screens);
    ASSERT_TRUE(main.runUntil([&] { return workspace->status() == orrery::WorkspaceStatusReady; }));
    settle();
  }
  void TearDown() override {
    if (workspace) workspace->closeWorkspace();
  }
  // Lets the work queue and the main queue finish what they were given.
  void settle() {
    for (int i = 0; i < 4; ++i) {
      orrery::PersistenceController::singleton().workQueue().drain();
      main.loop->runUntil([] { return false; }, platform::Millis(20));
    }
  }
  // The root texts of the listed documents, sorted.
  QStringList listedTexts() const {
    QStringList texts;
    if (auto list = workspace->proxyListOrNilIfNotReady())
      for (const orrery::IdeaProxyPtr& proxy : *list) texts << proxy->text();
    texts.sort();
    return texts;
  }
  // The root texts of the document files of the container (or of another Documents folder),
  // sorted.
  QStringList textsOnDisk() { return textsOnDisk(container.documents()); }
  QStringList textsOnDisk(const QString& documents) {
    QStringList texts;
    for (const QString& name : QDir(documents).entryList({"*.orrx"}, QDir::Files)) {
      auto doc = orrery::IdeaDocument::createWithFileName(name, orrery::DocumentLocationICloud);
      int read = -1;
      doc->readFromURL(QUrl::fromLocalFile(documents + "/" + name), [&](bool ok) { read = ok; });
      main.runUntil([&] { return read >= 0; });
      texts << (read == 1 && doc->idea() ? doc->idea()->text() : "(unreadable " + name + ")");
    }
    texts.sort();
    return texts;
  }
  // Settles the conflict of a listed document: 1 settled, 0 not, -1 no answer; what was kept.
  struct Settled {
    int result = -1;
    std::vector<orrery::KeptConflictVersion> kept;
  };
  Settled settleConflict(const orrery::IdeaProxyPtr& proxy) {
    Settled settled;
    workspace->handleConflictForProxy(proxy, [&](bool ok, const std::vector<orrery::KeptConflictVersion>& kept) {
      settled.result = ok;
      settled.kept = kept;
    });
    main.runUntil([&] { return settled.result >= 0; });
    settle();
    return settled;
  }
  void writeCopy(const QString& name, const QString& text, qint64 modified) {
    const QString path = container.documentPath(name);
    ASSERT_TRUE(CloudContainerFixture::writeFile(path, CloudContainerFixture::documentBytes(name, text)));
    struct utimbuf times {
      modified, modified
    };
    ::utime(QFile::encodeName(path).constData(), &times);
  }

  CloudContainerFixture container;
  orrery::testing::VirtualMainQueue main;
  orrery::testing::RecordingWorkspaceDelegate screens;
  std::shared_ptr<orrery::Workspace> workspace;
};

}  // namespace cloudtest
