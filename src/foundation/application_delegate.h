#pragma once
// What the foundation and the model ask of the application delegate. The application shell
// implements it and hands it to Globals::setApp at start-up; it lives for the whole run.

#include "foundation/my_result.h"

#include <QString>
#include <QUrl>

namespace platform {
class Window;
}

namespace orrery {

class ApplicationDelegate {
 public:
  virtual ~ApplicationDelegate() = default;
  // Moves the file to the front of the recent local files.
  virtual void addNewRecentDocumentURL(const QUrl& fileUrl) = 0;
  // Asks every window's controller in turn; false as soon as one refuses.
  virtual bool canWeSafelyDeleteIdea(const QString& ideaIdentifier, const QString& docIdentifier) = 0;
  // True when some window shows the document at that URL.
  virtual bool isFileCurrentlyOpen(const QUrl& fileUrl) = 0;
  // The next window-state cycle stores the window state.
  virtual void markPersistentAppStateDirty() = 0;
  // Opens the document again in a new window centred on the idea.
  virtual void openDocumentInNewWindow(const QString& docIdentifier, const QString& ideaIdentifier) = 0;
  // A window of the stored state is closing without having shown its document: `why`, when an
  // error, tells the user which and why; a window that was the last leaves the start's first
  // window in its place rather than ending the program.
  virtual void storedWindowCannotShow(platform::Window* /*window*/, const MyResultPtr& /*why*/) {}
};

}  // namespace orrery
