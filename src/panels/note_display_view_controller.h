#pragma once
// The content of the note hover's popover: an idea's note, read-only, in a white 320 × 254
// area that scrolls vertically and wraps lines at its width. Made for one showing; the text
// is fixed when the popover shows. Main thread only.

#include "foundation/views/base_view.h"
#include "foundation/views/visual_object.h"
#include "platform/ui/native_host_view.h"
#include "platform/ui/popover.h"
#include "platform/ui/view_controller.h"
#include "platform/ui/weak_ref.h"

#include <QString>

#include <memory>

class QTextEdit;

namespace orrery {

class NoteDisplayViewControllerDelegate : public virtual platform::Trackable {
 public:
  virtual void noteDisplayViewDidClose() = 0;
};

// Frames the note text. The hosted text scrolls itself; this keeps it 1 point inside.
class NoteDisplayScrollView : public BaseView {
 public:
  static constexpr double kClipInset = 1;
  NoteDisplayScrollView();
  void setDocumentView(std::shared_ptr<platform::NativeHostView> view);
  const std::shared_ptr<platform::NativeHostView>& documentView() const { return mDocumentView; }
  // The text's frame: the bounds inset on every side.
  QRectF contentFrame() const;
  void tile();
  void applyLayout() override { tile(); }

 private:
  std::shared_ptr<platform::NativeHostView> mDocumentView;
};

class NoteDisplayViewController : public platform::ViewController,
                                  public platform::PopoverDelegate,
                                  public Layouter {
  struct Private {};

 public:
  static constexpr double kWidth = 320;
  static constexpr double kHeight = 254;

  // Keeps the popover, lets it fade in, and becomes its content and delegate.
  static std::shared_ptr<NoteDisplayViewController> createForPopover(
      const std::shared_ptr<platform::Popover>& popover);
  explicit NoteDisplayViewController(Private, std::shared_ptr<platform::Popover> popover);
  ~NoteDisplayViewController() override;

  // Makes this panel what the note hover shows. Called once at start-up.
  static void installAsNoteDisplay();

  const QString& noteText() const { return mNoteText; }
  // Read when the popover shows; a shown popover keeps its text.
  void setNoteText(const QString& text) { mNoteText = text; }
  NoteDisplayViewControllerDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(NoteDisplayViewControllerDelegate* delegate) { mDelegate.reset(delegate); }

  void popoverWillShow(platform::Popover& popover) override;
  void popoverDidShow(platform::Popover& popover) override;
  void popoverDidClose(platform::Popover& popover) override;

  void dismissView();
  void closeButtonPressed() { dismissView(); }

  void loadView() override;
  void ensureView();
  void prepareForPresentation();
  void updateFrameWithHeight(double height);
  void applyLayout() override;
  void ensureNoteViewSize();

  QTextEdit* noteEdit() const;
  const std::shared_ptr<NoteDisplayScrollView>& noteScrollView() const { return mNoteScrollView; }

 private:
  bool mPreparedOnce = false;
  std::weak_ptr<platform::Popover> mPopover;  // the popover holds this controller
  std::shared_ptr<BaseView> mView;
  std::shared_ptr<NoteDisplayScrollView> mNoteScrollView;
  std::shared_ptr<platform::NativeHostView> mNoteView;
  platform::WeakRef<NoteDisplayViewControllerDelegate> mDelegate;
  QString mNoteText;
};

}  // namespace orrery
