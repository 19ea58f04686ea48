#pragma once
// Everything that asks the user in a modal loop: application-modal alerts, pop-up menus and
// window-modal open and save panels. All go through one replaceable presenter, so tests
// answer them with a script instead of clicking dialogs.

#include <QPointF>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class QPrinter;

namespace platform {

class Menu;
class MenuItem;
class Window;

struct AlertButton {
  enum class Role { Normal, Destructive, Cancel };
  QString title;
  Role role = Role::Normal;
};

struct AlertRequest {
  QString messageText;      // the title line
  QString informativeText;  // the message below it
  std::vector<AlertButton> buttons;  // shown in this order; the first is the default one
};

// The platform's answers: the first button added answers 1000, the next 1001, …
constexpr int kAlertFirstButtonReturn = 1000;
// A presenter's answer when the alert was closed without a button (Escape, close box).
constexpr int kAlertDismissed = -1;

constexpr int kModalResponseCancel = 0;
constexpr int kModalResponseOK = 1;

struct FilePanelRequest {
  enum class Kind { Open, Save };
  Kind kind = Kind::Open;
  QString title;
  QString directory;
  QString nameFieldStringValue;  // save panels: the proposed file name
  QStringList allowedFileTypes;  // extensions without the dot; empty: any
  bool canChooseFiles = true;
  bool canChooseDirectories = false;
  bool allowsMultipleSelection = false;
};

struct FilePanelResult {
  int response = kModalResponseCancel;
  QStringList paths;
};

class ModalPresenter {
 public:
  virtual ~ModalPresenter() = default;
  // Runs an application-modal alert; answers 1000 + the button index, or kAlertDismissed.
  virtual int runAlert(const AlertRequest& request) = 0;
  // Pops a menu up at a point of the window and returns the chosen item (null when the
  // menu closed without a choice).
  virtual std::shared_ptr<MenuItem> popUpMenu(Menu& menu, QPointF locationInWindow, Window* window) = 0;
  // Shows a window-modal open or save panel; the completion runs once on the main thread.
  virtual void beginFilePanel(const FilePanelRequest& request, Window* window,
                              std::function<void(FilePanelResult)> completion) = 0;
  // Runs the application-modal print panel on `printer`; kModalResponseOK leaves the user's
  // choices (printer or file, paper, orientation, pages) in it. Presenters without a panel
  // answer cancel.
  virtual int runPrintPanel(QPrinter& /*printer*/) { return kModalResponseCancel; }
};

// The presenter in use: Qt dialogs unless replaced.
ModalPresenter& modalPresenter();
std::shared_ptr<ModalPresenter> setModalPresenter(std::shared_ptr<ModalPresenter> presenter);

// The button that Escape and the close box stand for: the first cancel button, else the
// first button. Never a destructive or confirming button when a cancel button exists.
int alertEscapeButtonIndex(const AlertRequest& request);

// Runs the alert through the presenter; a dismissal answers for the escape button, other
// answers pass unchanged.
// An alert without buttons shows one "OK" button and answers 1000.
int runModalAlert(const AlertRequest& request);

void beginFilePanel(const FilePanelRequest& request, Window* window,
                    std::function<void(FilePanelResult)> completion);

}  // namespace platform
