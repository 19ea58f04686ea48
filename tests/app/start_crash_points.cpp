// The test build of the program dies of SIGSEGV at the point of its start named in
// ORRERY_CRASH_AT ("start", "application", "launch", "hand-over"), or stops there for good,
// saying so on its standard error, at the point named in ORRERY_HOLD_AT, as a start waiting on
// something that never comes would; the program itself has no such switch. ORRERY_HOLD_AT
// "open" holds the main thread on its first turn after the start, while the files handed to it
// are being opened, as a long open would; with ORRERY_WRITE_WHILE_HELD naming a file, a thread
// meanwhile replaces that file and is still writing it when the program begins to end.
// ORRERY_HOLD_AT "edit" retitles each map's sun "<title> edited" in its edit popover, with
// Return, then holds; with ORRERY_FIRST_SAVE "slow" the first map's file stays locked, as by a
// long write, until the end begins, and the hold comes a turn later, once the saves are queued;
// with ORRERY_EDIT_TWICE set, each sun is then retitled "<title> edited again" as well. With
// ORRERY_EDIT_DROPBOX naming a document of the Dropbox location, that document is saved
// instead, holding a map "Dropbox map edited", once the location's engine has read its
// mirror, and the hold follows at once.
#include "app/start_crash_capture.h"

#include "app/app_delegate.h"
#include "cloud/dropbox_folder_manager.h"
#include "editor/solar_system.h"
#include "editor_screen/solar_system_view_controller.h"
#include "foundation/globals.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "model/persistence_controller.h"
#include "model/workspace.h"
#include "panels/edit_idea_view_controller.h"
#include "platform/core/atomic_file.h"
#include "platform/core/dispatch.h"
#include "platform/core/writes_under_way.h"
#include "platform/services/file_coordinator.h"
#include "platform/ui/popover.h"
#include "shell/my_window.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace orrery {

namespace {

void holdHere(const char* point) {
  std::fprintf(stderr, "orrery: held at %s\n", point);
  std::fflush(stderr);
  for (;;) ::pause();  // a handled signal returns here
}

// "whole\n" 100 000 times: half of it, then the rest once the program has begun to end.
void writeUntilTheEnd(const std::string& path) {
  std::string content;
  for (int i = 0; i < 100000; ++i) content += "whole\n";
  platform::writeFileAtomically(path, [&content](int fd) {
    std::fprintf(stderr, "orrery: writing\n");
    std::fflush(stderr);
    if (!platform::writeAllBytes(fd, std::string_view(content).substr(0, content.size() / 2))) return false;
    while (!platform::writesClosed()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return platform::writeAllBytes(fd, std::string_view(content).substr(content.size() / 2));
  });
}

// The editors of the maps handed over, once each shows and takes input; none before.
std::vector<std::shared_ptr<SolarSystemViewController>> readyEditors() {
  int maps = 0;
  for (const QString& argument : QCoreApplication::arguments().mid(1)) maps += argument.endsWith(".orrery");
  auto* app = dynamic_cast<AppDelegate*>(Globals::app());
  if (!app) return {};
  std::vector<std::shared_ptr<SolarSystemViewController>> editors;
  for (const auto& window : app->windowControllers()) {
    auto editor = std::dynamic_pointer_cast<SolarSystemViewController>(window->myWindow().controller());
    if (!editor) continue;
    if (!editor->realIdea() || !editor->solarSystem() || !editor->solarSystem()->userInteractionEnabled()) return {};
    editors.push_back(std::move(editor));
  }
  if (static_cast<int>(editors.size()) != maps) return {};
  return editors;
}

// Locks `path` for writing, as a long write would, until the program begins to end.
void lockFileForWriting(const QString& path) {
  auto locked = std::make_shared<std::promise<void>>();
  std::future<void> held = locked->get_future();
  std::thread([path, locked] {
    platform::FileCoordinator().coordinateWriting(path, [&](const QString&) {
      locked->set_value();
      while (!platform::writesClosed()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
  }).detach();
  held.wait();
}

void saveToDropboxAndHold(const QString& identifier) {
  auto* workspace =
      dynamic_cast<Workspace*>(PersistenceController::singleton().workspaceForLocation(DocumentLocationDropbox));
  const auto engine = workspace ? std::dynamic_pointer_cast<DropboxFolderManager>(workspace->currentState()) : nullptr;
  if (!engine || !engine->state().isLocalStatusFileLoaded())
    return void(platform::mainQueue().after(platform::Millis(20), [identifier] { saveToDropboxAndHold(identifier); }));
  auto doc = IdeaDocument::createWithIdentifier(identifier);
  doc->setIdea(Idea::createWithText(QStringLiteral("Dropbox map edited")));
  PersistenceController::singleton().saveDocument(doc, 1, nullptr);
  holdHere("edit");
}

void editAndHold() {
  if (const char* dropbox = std::getenv("ORRERY_EDIT_DROPBOX")) return saveToDropboxAndHold(QString::fromUtf8(dropbox));
  const auto editors = readyEditors();
  if (editors.empty()) return void(platform::mainQueue().after(platform::Millis(20), editAndHold));
  const char* firstSave = std::getenv("ORRERY_FIRST_SAVE");
  const bool slow = firstSave && std::strcmp(firstSave, "slow") == 0;
  if (slow) lockFileForWriting(editors.front()->document()->openFilePath());
  const int edits = std::getenv("ORRERY_EDIT_TWICE") ? 2 : 1;
  for (const auto& editor : editors) {
    const IdeaPtr sun = editor->realIdea();
    const QString was = sun->text();
    for (int edit = 0; edit < edits; ++edit) {
      editor->onEditIdea(sun->identifier());
      const auto& popover = editor->editPopover();
      auto* panel = popover ? dynamic_cast<EditIdeaViewController*>(popover->contentViewController().get()) : nullptr;
      if (!panel || !popover->isShown()) {
        std::fputs("orrery: no edit popover\n", stderr);
        std::abort();
      }
      QLineEdit* title = panel->textTabView()->titleTextField()->field()->lineEdit();
      title->setText(was + (edit ? " edited again" : " edited"));
      QKeyEvent accept(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
      QApplication::sendEvent(title, &accept);
    }
  }
  if (slow) return platform::mainQueue().async([] { holdHere("edit"); });
  holdHere("edit");
}

}  // namespace

void startPointReached(const char* point) {
  const char* asked = std::getenv("ORRERY_CRASH_AT");
  if (asked && std::strcmp(asked, point) == 0) std::raise(SIGSEGV);
  const char* held = std::getenv("ORRERY_HOLD_AT");
  if (held && std::strcmp(held, "open") == 0 && std::strcmp(point, "launch") == 0) {
    platform::mainQueue().async([] {
      if (const char* path = std::getenv("ORRERY_WRITE_WHILE_HELD"))
        std::thread(writeUntilTheEnd, std::string(path)).detach();
      holdHere("open");
    });
    return;
  }
  if (held && std::strcmp(held, "edit") == 0 && std::strcmp(point, "launch") == 0) {
    platform::mainQueue().async(editAndHold);
    return;
  }
  if (held && std::strcmp(held, point) == 0) holdHere(point);
}

}  // namespace orrery
