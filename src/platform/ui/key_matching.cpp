#include "platform/ui/key_matching.h"

namespace platform {
namespace {

Qt::KeyboardModifiers qtModifiers(uint32_t flags) {
  Qt::KeyboardModifiers m;
  if (flags & ModifierFlag::Shift) m |= Qt::ShiftModifier;
  if (flags & ModifierFlag::Command) m |= Qt::ControlModifier;  // Ctrl stands for Command
  if (flags & ModifierFlag::Option) m |= Qt::AltModifier;
  if (flags & ModifierFlag::Control) m |= Qt::MetaModifier;
  return m;
}

// The Qt key of a key equivalent's text: one character, or "F1".."F12".
int qtKeyOfText(const QString& text) {
  if (text.size() == 1) {
    const QChar c = text.at(0);
    // Qt's keys for printable characters are their upper-case code points.
    return c.isPrint() ? static_cast<int>(c.toUpper().unicode()) : 0;
  }
  if (text.size() > 1 && text.startsWith(QLatin1Char('F'))) {
    bool ok = false;
    const int n = text.mid(1).toInt(&ok);
    if (ok && n >= 1 && n <= 12) return Qt::Key_F1 + n - 1;
  }
  return 0;
}

int qtKeyOfFunctionKeyCode(int keyCode) {
  for (int n = 1; n <= 12; ++n)
    if (KeyCode::functionKey(n) == keyCode) return Qt::Key_F1 + n - 1;
  return 0;
}

}  // namespace

QKeySequence keySequenceFor(const QString& keyEquivalent, uint32_t modifierFlags) {
  const int key = qtKeyOfText(keyEquivalent);
  if (key == 0) return {};
  return QKeySequence(QKeyCombination(qtModifiers(modifierFlags), static_cast<Qt::Key>(key)));
}

QList<QKeyCombination> keyCombinationsOf(const Event& event) {
  int key = event.qtKey;
  if (key == 0) key = qtKeyOfFunctionKeyCode(event.keyCode);
  if (key == 0) key = qtKeyOfText(event.charactersIgnoringModifiers);
  if (key == 0 || key == Qt::Key_unknown) return {};
  const Qt::KeyboardModifiers held = qtModifiers(event.modifierFlags);
  QList<QKeyCombination> combinations{QKeyCombination(held, static_cast<Qt::Key>(key))};
  // A symbol typed with Shift ("+" on the main keyboard) is that symbol: Shift only picked it.
  const bool symbol = key < 0x100 && QChar(key).isPrint() && !QChar(key).isLetterOrNumber() && key != Qt::Key_Space;
  if ((held & Qt::ShiftModifier) && symbol)
    combinations.append(QKeyCombination(held & ~Qt::ShiftModifier, static_cast<Qt::Key>(key)));
  return combinations;
}

bool eventMatchesKeySequence(const Event& event, const QKeySequence& sequence) {
  if (sequence.isEmpty() || event.type != EventType::KeyDown) return false;
  for (const QKeyCombination combination : keyCombinationsOf(event))
    if (QKeySequence(combination).matches(sequence) == QKeySequence::ExactMatch) return true;
  return false;
}

}  // namespace platform
