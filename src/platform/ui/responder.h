#pragma once
// The responder chain. An event handler that does not handle an event passes it to the
// next responder (superview, …, the view's controller, the window, the application).
// Actions (menu commands, Escape as cancel) are named strings that travel the same chain
// from the first responder to the first responder that has a handler for them.

#include "platform/ui/event.h"
#include "platform/ui/weak_ref.h"

#include <QHash>
#include <QString>

#include <functional>

namespace platform {

class MenuItem;
class Responder;
class ToolbarItem;

// Who sent an action: the chosen menu item or toolbar item, or a responder.
struct ActionSender {
  MenuItem* menuItem = nullptr;
  Responder* responder = nullptr;
  ToolbarItem* toolbarItem = nullptr;
};

// Action names the window sends for keys that no responder handled.
namespace Actions {
inline const QString cancelOperation = QStringLiteral("cancelOperation");
inline const QString insertNewline = QStringLiteral("insertNewline");
inline const QString insertTab = QStringLiteral("insertTab");
inline const QString insertBacktab = QStringLiteral("insertBacktab");
inline const QString deleteBackward = QStringLiteral("deleteBackward");
}  // namespace Actions

class Responder : public virtual Trackable {
 public:
  using ActionHandler = std::function<void(const ActionSender&)>;

  ~Responder() override = default;

  virtual Responder* nextResponder() const { return mNextResponder.get(); }
  void setNextResponder(Responder* next) { mNextResponder.reset(next); }

  virtual bool acceptsFirstResponder() const { return false; }
  virtual bool becomeFirstResponder() { return true; }
  virtual bool resignFirstResponder() { return true; }

  virtual void mouseDown(const Event& e) { pass(&Responder::mouseDown, e); }
  virtual void mouseDragged(const Event& e) { pass(&Responder::mouseDragged, e); }
  virtual void mouseUp(const Event& e) { pass(&Responder::mouseUp, e); }
  virtual void mouseMoved(const Event& e) { pass(&Responder::mouseMoved, e); }
  virtual void mouseEntered(const Event& e) { pass(&Responder::mouseEntered, e); }
  virtual void mouseExited(const Event& e) { pass(&Responder::mouseExited, e); }
  virtual void rightMouseDown(const Event& e) { pass(&Responder::rightMouseDown, e); }
  virtual void rightMouseDragged(const Event& e) { pass(&Responder::rightMouseDragged, e); }
  virtual void rightMouseUp(const Event& e) { pass(&Responder::rightMouseUp, e); }
  virtual void otherMouseDown(const Event& e) { pass(&Responder::otherMouseDown, e); }
  virtual void otherMouseDragged(const Event& e) { pass(&Responder::otherMouseDragged, e); }
  virtual void otherMouseUp(const Event& e) { pass(&Responder::otherMouseUp, e); }
  virtual void scrollWheel(const Event& e) { pass(&Responder::scrollWheel, e); }
  virtual void magnifyWithEvent(const Event& e) { pass(&Responder::magnifyWithEvent, e); }
  virtual void keyDown(const Event& e) { pass(&Responder::keyDown, e); }
  virtual void keyUp(const Event& e) { pass(&Responder::keyUp, e); }
  virtual void flagsChanged(const Event& e) { pass(&Responder::flagsChanged, e); }
  virtual void cursorUpdate(const Event& e) { pass(&Responder::cursorUpdate, e); }
  virtual void tabletPoint(const Event& e) { pass(&Responder::tabletPoint, e); }
  virtual void tabletProximity(const Event& e) { pass(&Responder::tabletProximity, e); }

  // Dispatches an event to the handler its type names.
  void handleEvent(const Event& e);

  // Actions.
  void setActionHandler(const QString& action, ActionHandler handler);
  void removeActionHandler(const QString& action) { mActions.remove(action); }
  virtual bool respondsToAction(const QString& action) const { return mActions.contains(action); }
  virtual void performAction(const QString& action, const ActionSender& sender);
  // The first responder from here along the chain that responds to the action, or null.
  Responder* targetForAction(const QString& action);
  // Performs the action on that target; false when nobody handles it.
  bool tryToPerform(const QString& action, const ActionSender& sender = {});
  // Whether a menu item naming an action of this responder is enabled now.
  virtual bool validateUserInterfaceItem(const MenuItem& item) {
    (void)item;
    return true;
  }
  // Whether a toolbar item naming an action of this responder is enabled now.
  virtual bool validateToolbarItem(const ToolbarItem& /*item*/) { return true; }

 private:
  void pass(void (Responder::*handler)(const Event&), const Event& e) {
    if (Responder* next = nextResponder()) (next->*handler)(e);
  }

  WeakRef<Responder> mNextResponder;
  QHash<QString, ActionHandler> mActions;
};

}  // namespace platform
