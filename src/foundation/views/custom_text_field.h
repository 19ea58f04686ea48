#pragma once
// One-line text fields with the application's look and a reduced context menu. The text is
// edited in a real QLineEdit hosted through NativeHostView; the frame around it is drawn by
// our view. The context menu keeps only the clipboard items and the case changes of the
// menu Qt would offer. Main thread only.

#include "foundation/views/base_view.h"
#include "platform/ui/native_host_view.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class QLineEdit;

namespace platform {
class Menu;
}

namespace orrery {

// A hosted line edit that tells its owner when it gains or loses first-responder status. Its
// pastes and drops go in as the clipboard or the drag holds the text, a leading U+FEFF kept.
class HostedLineEdit : public platform::NativeHostView {
 public:
  HostedLineEdit();
  QLineEdit* lineEdit() const;
  bool becomeFirstResponder() override;
  bool resignFirstResponder() override;
  std::function<void()> onFocusChange;
};

// The borderless field inside a CustomTextField: black text, no frame, no focus ring.
class CustomInnerTextField : public HostedLineEdit {
 public:
  CustomInnerTextField();
};

class CustomTextField : public BaseView {
 public:
  CustomTextField();

  const std::shared_ptr<CustomInnerTextField>& field() const { return mInnerField; }
  QString text() const;
  void setText(const QString& text);

  // The inner field fills the bounds less 9 points on the sides and 3 above and below;
  // empty bounds leave it where it is.
  void applyLayout() override;
  void drawRect(QPainter& painter, const QRectF& dirtyRect) override;

  // The menu shown for a right click in the field, made from what the field offers.
  std::shared_ptr<platform::Menu> textViewMenu(const platform::Menu& offered) const;

  // The reduced menu: the clipboard items, a separator, the case items, and a closing
  // separator; nothing else of the source survives (submenus are flattened into it).
  static std::shared_ptr<platform::Menu> createTextFieldMenuFrom(const platform::Menu& menu);
  static bool processMenu(const platform::Menu& source, platform::Menu& target);

  // What a line edit offers for its context menu: its editing actions ("undo", "redo",
  // "cut", "copy", "paste", "delete", "selectAll") and a submenu of the case changes
  // ("uppercaseWord", "lowercaseWord", "capitalizeWord") on the selection or the word at the
  // caret.
  static std::shared_ptr<platform::Menu> offeredMenu(QLineEdit* edit);
  // Makes right clicks in the hosted line edit pop up `menuFor(offeredMenu)` at the pointer.
  static void installReducedMenu(HostedLineEdit& host,
                                 std::function<std::shared_ptr<platform::Menu>(const platform::Menu&)> menuFor);

 private:
  std::shared_ptr<CustomInnerTextField> mInnerField;
};

}  // namespace orrery
