#pragma once
// The text part of the idea edit popover: a one-line title field and, on demand, a multi-line
// note area. It starts compact (title and a note button) and opens the note area for an idea
// with a note, on the note button, or on Tab in the title field. Return in the title asks the
// panel to close; Return in the note is a new line. Main thread only.

#include "foundation/views/base_view.h"
#include "foundation/views/button_view.h"
#include "foundation/views/custom_text_field.h"
#include "panels/edit_idea_view_subordinate.h"
#include "panels/note_display_view_controller.h"
#include "platform/ui/menu.h"
#include "platform/ui/native_host_view.h"
#include "platform/ui/weak_ref.h"

#include <QString>

#include <memory>
#include <optional>

class QTextEdit;

namespace orrery {

class IdeaTextEditTabViewDelegate : public virtual platform::Trackable {
 public:
  virtual void pleaseUpdateIdeaTextEditTabViewHeight() {}
  virtual void pleaseCloseEditView() {}
  // Asked before the title or the note becomes `text`: empty when it may (the room it takes in
  // the map is then held), else why not.
  virtual QString refuseTitle(const QString& /*text*/) { return {}; }
  virtual QString refuseNote(const QString& /*text*/) { return {}; }
};

// The note's frame: the text 1 point inside a rounded 2-point border.
class NoteScrollView : public NoteDisplayScrollView {
 public:
  void drawRect(QPainter& painter, const QRectF& dirtyRect) override;
};

class IdeaTextEditTabView : public BaseView, public ButtonViewDelegate, public EditIdeaViewSubordinate {
 public:
  static constexpr double kCompactHeight = 62;
  static constexpr double kExtendedHeight = 320;

  IdeaTextEditTabView();
  ~IdeaTextEditTabView() override;

  IdeaTextEditTabViewDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(IdeaTextEditTabViewDelegate* delegate) { mDelegate.reset(delegate); }

  QString selectedTitleText() const;
  // None while the note area is closed; else the note as the editor holds it (noteTextOf), and
  // exactly the note loaded while it holds that unchanged.
  std::optional<QString> selectedNoteText() const;
  double currentPreferredHeight() const override { return isExtended() ? kExtendedHeight : kCompactHeight; }
  bool isExtended() const { return mNoteView != nullptr; }

  // Fills the tab: a non-empty note opens the note area, anything else closes it.
  void reloadFrom(const QString& title, const QString& note);
  void reloadFrom(const EditIdeaViewController& controller, bool isInitialLoad) override;
  // The title field takes the keys with the caret at the end of its text.
  void activate() override;
  void deactivate() override {}

  void switchToExtendedMode();
  void switchFromTitleFieldToNote();

  const std::shared_ptr<CustomTextField>& titleTextField() const { return mTitleTextField; }
  QTextEdit* noteEdit() const;
  platform::NativeHostView* noteHost() const { return mNoteView.get(); }
  NoteScrollView* noteScrollView() const { return mNoteScrollView.get(); }
  const std::shared_ptr<ButtonView>& noteButton() const { return mNoteButton; }

  void buttonPressed(ButtonView& button) override;
  void applyLayout() override;

  // The note's context menu: what the note offers, reduced as the title field's menu is.
  static std::shared_ptr<platform::Menu> noteMenuFor(QTextEdit* edit);

 private:
  class KeyFilter;
  class TitleValidator;
  void ensureExtendedPortion();
  void removeExtendedPortion();

  std::shared_ptr<CustomTextField> mTitleTextField;
  std::shared_ptr<NoteScrollView> mNoteScrollView;
  std::shared_ptr<platform::NativeHostView> mNoteView;
  std::shared_ptr<ButtonView> mNoteButton;
  platform::WeakRef<IdeaTextEditTabViewDelegate> mDelegate;
  std::unique_ptr<KeyFilter> mKeyFilter;  // watches the title's line edit, owned here
  TitleValidator* mTitleValidator = nullptr;  // owned by the title's line edit
  // The note last loaded, and the note editor's text right after.
  QString mLoadedNote;
  QString mLoadedNoteAsHeld;
};

}  // namespace orrery
