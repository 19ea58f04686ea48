#pragma once
// Key equivalents matched the way Qt matches shortcuts: an item's key and modifier flags read as
// a QKeySequence, and a key press read as the key combinations it can stand for on the keyboard
// ("+" typed with Shift on the main keyboard is Ctrl++ as well as Ctrl+Shift++).

#include "platform/ui/event.h"

#include <QKeyCombination>
#include <QKeySequence>
#include <QList>
#include <QString>

namespace platform {

// The one-key sequence of a menu item's key equivalent ("s", "+", "F1") and modifier flags
// (Command is the Ctrl key); empty for an empty key.
QKeySequence keySequenceFor(const QString& keyEquivalent, uint32_t modifierFlags);

// The key combinations a key-down event can stand for: the key with every modifier held and,
// for a symbol the Shift key produced, the key without Shift.
QList<QKeyCombination> keyCombinationsOf(const Event& event);

bool eventMatchesKeySequence(const Event& event, const QKeySequence& sequence);

}  // namespace platform
