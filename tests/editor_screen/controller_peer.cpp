// Another running instance of the program, for the two-process tests: opens a local document
// through the facade, makes one edit, saves it and exits (0 when the edit is on disk).
//   controller_peer <file> add <text>
//   controller_peer <file> delete <idea identifier>
//   controller_peer <file> text <idea identifier>=<text>
// "text" changes the idea's text, prints "edited", and saves only once a line arrives on its
// standard input: the test's own instance saves its change of that idea meanwhile.

#include "model/idea.h"
#include "model/idea_document.h"
#include "model/persistence_controller.h"
#include "platform/core/dispatch.h"
#include "platform/core/run_loop.h"

#include <QCoreApplication>

#include <cstdio>
#include <iostream>
#include <string>

#include <memory>

using namespace orrery;

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setOrganizationName("Orrery");
  QCoreApplication::setApplicationName("Orrery");
  const QStringList args = app.arguments();
  if (args.size() != 4) return 2;
  auto loop = std::make_shared<platform::RunLoop>();
  platform::installMainQueuePoster(loop);
  auto& persistence = PersistenceController::singleton();
  auto doc = persistence.documentForIdentifier(IdeaDocument::docIdentifierFromPath(args[1], DocumentLocationLocalFile));
  DocumentToken token = 0;
  bool opened = false;
  persistence.openDocument(doc, [&](DocumentToken t) {
    token = t;
    opened = true;
  });
  if (!loop->runUntil([&] { return opened; }) || token < 1 || !doc->idea()) return 3;

  IdeaPtr root = doc->idea();
  if (args[2] == QLatin1String("add")) {
    root->addIdea(Idea::createWithText(args[3]));
  } else if (args[2] == QLatin1String("delete")) {
    IdeaPtr gone = root->findIdeaInSubTreeWithIdentifier(args[3]);
    if (!gone || !gone->parent() || !gone->parent()->removeIdea(args[3])) return 4;
  } else if (args[2] == QLatin1String("text")) {
    IdeaPtr changed = root->findIdeaInSubTreeWithIdentifier(args[3].section(QLatin1Char('='), 0, 0));
    if (!changed) return 4;
    changed->setText(args[3].section(QLatin1Char('='), 1));
    std::printf("edited\n");
    std::fflush(stdout);
    std::string line;
    if (!std::getline(std::cin, line)) return 7;
  } else {
    return 2;
  }
  bool saved = false, ok = false;
  persistence.saveDocument(doc, token, [&](bool result) {
    ok = result;
    saved = true;
  });
  if (!loop->runUntil([&] { return saved; })) return 5;
  persistence.releaseDocument(doc, token, nullptr);
  return ok ? 0 : 6;
}
