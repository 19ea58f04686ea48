#include "shell/text_undo.h"

#include "platform/ui/native_host_view.h"

#include <QLineEdit>
#include <QTextEdit>

namespace orrery {

namespace {

constexpr char kUndoAction[] = "cmdUndo";
constexpr char kRedoAction[] = "cmdRedo";

// The hosted text control that is first responder, if any.
QWidget* editedTextWidget(platform::Window* window) {
  auto* host = window ? dynamic_cast<platform::NativeHostView*>(window->firstResponder()) : nullptr;
  if (!host || !host->widget()) return nullptr;
  if (qobject_cast<QLineEdit*>(host->widget()) || qobject_cast<QTextEdit*>(host->widget())) return host->widget();
  return nullptr;
}

bool canUndo(QWidget* w, bool redo) {
  if (auto* line = qobject_cast<QLineEdit*>(w)) return redo ? line->isRedoAvailable() : line->isUndoAvailable();
  if (auto* text = qobject_cast<QTextEdit*>(w))
    return redo ? text->document()->isRedoAvailable() : text->document()->isUndoAvailable();
  return false;
}

void undo(QWidget* w, bool redo) {
  if (auto* line = qobject_cast<QLineEdit*>(w)) redo ? line->redo() : line->undo();
  if (auto* text = qobject_cast<QTextEdit*>(w)) redo ? text->redo() : text->undo();
}

}  // namespace

bool isTextUndoAction(const QString& action) {
  return action == QLatin1String(kUndoAction) || action == QLatin1String(kRedoAction);
}

bool canPerformTextUndo(platform::Window* window, const QString& action) {
  QWidget* edited = isTextUndoAction(action) ? editedTextWidget(window) : nullptr;
  return edited && canUndo(edited, action == QLatin1String(kRedoAction));
}

void installTextUndoActions(platform::Responder& responder, std::function<platform::Window*()> window) {
  for (bool redo : {false, true}) {
    responder.setActionHandler(QString::fromLatin1(redo ? kRedoAction : kUndoAction),
                               [window, redo](const platform::ActionSender&) {
                                 QWidget* edited = editedTextWidget(window ? window() : nullptr);
                                 if (edited && canUndo(edited, redo)) undo(edited, redo);
                               });
  }
}

}  // namespace orrery
