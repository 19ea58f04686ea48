#pragma once
// The Edit menu's Undo and Redo act on the typing in the hosted text control (a line or text
// edit) that is first responder in the window the menu serves. Every responder that ends a
// window's chain of text fields (the program's windows, the content of a popover, whose own
// window is no program window) handles both through these. Main thread only.

#include "platform/ui/menu.h"
#include "platform/ui/responder.h"
#include "platform/ui/window.h"

#include <QString>

#include <functional>

namespace orrery {

// Whether `action` is the Edit menu's undo or redo.
bool isTextUndoAction(const QString& action);
// Whether the text control first responder in `window` has that step to take.
bool canPerformTextUndo(platform::Window* window, const QString& action);
// Lets `responder` perform undo and redo on the text control first responder in the window
// `window` names when the action arrives (none: nothing happens).
void installTextUndoActions(platform::Responder& responder, std::function<platform::Window*()> window);

}  // namespace orrery
