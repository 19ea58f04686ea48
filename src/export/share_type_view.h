#pragma once
// The panes of the share sheet: one per export format, each with a description, its
// checkboxes and three buttons ("Export ...", "Send via email ...", "Cancel"). The base holds
// the buttons, the save panel, the mail hand-off (MailHandOff) and the file write; a pane adds its texts,
// checkboxes, suffix and the one writer call. Main thread only.

#include "foundation/my_result.h"
#include "foundation/views/base_view.h"
#include "foundation/views/button_view.h"
#include "foundation/views/rounded_text_button.h"
#include "foundation/views/user_interaction_protocol.h"
#include "model/idea.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>

namespace orrery {

class TextView;
class TabItem;
class SpinningProgressIndicator;

using ShareType = std::uint64_t;

class ShareTypeViewDelegate : public virtual platform::Trackable {
 public:
  virtual void pleaseClose() = 0;
  virtual IdeaPtr idea() const = 0;
  virtual QDateTime lastModified() const = 0;
};

class ShareTypeView : public BaseView,
                      public RoundedTextButtonDelegate,
                      public ButtonViewDelegate,
                      public UserInteractionProtocol {
 public:
  using ResultCompletion = std::function<void(const MyResultPtr&)>;

  explicit ShareTypeView(ShareTypeViewDelegate* delegate);

  virtual std::shared_ptr<TabItem> createTabItem() { return nullptr; }
  virtual QString fileTypeSuffix() const { return {}; }
  // Writes the pane's format to `path`; the completion runs once on the main thread.
  virtual void saveToFileAtURL(const QString& path, ResultCompletion completion);
  void applyLayout() override;

  void saveToFile();
  void shareViaEmail();
  void presentSaveDestinationChooserWithProposedName(const QString& name, const QString& suffix,
                                                     std::function<void(const QString&)> completion);
  // Atomic write; a nil completion is allowed.
  static void saveData(const QByteArray& data, const QString& path, const ResultCompletion& completion);
  // Makes the bytes with `make` on a background queue (from copies the caller took) and writes
  // them there; the completion runs on the main queue. A non-empty error from `make` fails it.
  using BytesMaker = std::function<QByteArray(QString* error)>;
  static void saveInBackground(BytesMaker make, const QString& path, ResultCompletion completion);

  void roundedTextButtonPressed(RoundedTextButton& button) override;
  void buttonPressed(ButtonView& button) override;
  bool userInteractionEnabled() const override { return mUserInteractionEnabled; }
  void setUserInteractionEnabled(bool enabled) override { mUserInteractionEnabled = enabled; }
  ShareTypeViewDelegate* delegate() const { return mDelegate.get(); }

  RoundedTextButton& exportButton() const { return *mExportButton; }
  RoundedTextButton& shareButton() const { return *mShareButton; }
  RoundedTextButton& cancelButton() const { return *mCancelButton; }
  // Spins beside the buttons while a write runs.
  SpinningProgressIndicator& progressIndicator() const { return *mProgress; }

 protected:
  std::shared_ptr<RoundedTextButton> addButtonWithTitle(const QString& title, bool isCancel);
  std::shared_ptr<TextView> addDescriptionView(const QString& text);
  std::shared_ptr<ButtonView> addCheckbox(bool on);
  std::shared_ptr<TextView> addCheckboxExplanation(const QString& text);
  // One checkbox with its explanation below the description.
  void layoutCheckbox(ButtonView& box, TextView& label, double top);
  std::shared_ptr<TabItem> makeTab(const QString& icon, const QString& title, ShareType type);
  IdeaPtr rootIdea() const;

  std::shared_ptr<TextView> mDescriptionView;

 private:
  // Shown without the pane: a write may fail after the sheet is gone.
  static void reportFailure(const MyResultPtr& result);
  // The buttons off and the indicator spinning while a write runs, or back.
  void setWriting(bool writing);

  platform::WeakRef<ShareTypeViewDelegate> mDelegate;
  std::shared_ptr<RoundedTextButton> mExportButton;
  std::shared_ptr<RoundedTextButton> mShareButton;
  std::shared_ptr<RoundedTextButton> mCancelButton;
  std::shared_ptr<SpinningProgressIndicator> mProgress;
  bool mUserInteractionEnabled = true;
};

class OrreryShareTypeView : public ShareTypeView {
 public:
  explicit OrreryShareTypeView(ShareTypeViewDelegate* delegate);
  std::shared_ptr<TabItem> createTabItem() override;
  QString fileTypeSuffix() const override { return QStringLiteral("orrery"); }
  void saveToFileAtURL(const QString& path, ResultCompletion completion) override;
  void applyLayout() override;
};

class PDFShareTypeView : public ShareTypeView {
 public:
  explicit PDFShareTypeView(ShareTypeViewDelegate* delegate);
  std::shared_ptr<TabItem> createTabItem() override;
  QString fileTypeSuffix() const override { return QStringLiteral("pdf"); }
  void saveToFileAtURL(const QString& path, ResultCompletion completion) override;
  void applyLayout() override;
  ButtonView& notesButton() const { return *mNotesButton; }

 private:
  std::shared_ptr<TextView> mNotesLabel;
  std::shared_ptr<ButtonView> mNotesButton;
};

class PresentationShareTypeView : public ShareTypeView {
 public:
  explicit PresentationShareTypeView(ShareTypeViewDelegate* delegate);
  std::shared_ptr<TabItem> createTabItem() override;
  QString fileTypeSuffix() const override { return QStringLiteral("zip"); }
  void saveToFileAtURL(const QString& path, ResultCompletion completion) override;
  void applyLayout() override;
};

class TextShareTypeView : public ShareTypeView {
 public:
  explicit TextShareTypeView(ShareTypeViewDelegate* delegate);
  std::shared_ptr<TabItem> createTabItem() override;
  QString fileTypeSuffix() const override;
  void saveToFileAtURL(const QString& path, ResultCompletion completion) override;
  void applyLayout() override;
  ButtonView& notesButton() const { return *mNotesButton; }
  ButtonView& htmlFormatButton() const { return *mHtmlFormatButton; }

 private:
  std::shared_ptr<TextView> mNotesLabel;
  std::shared_ptr<ButtonView> mNotesButton;
  std::shared_ptr<TextView> mHtmlFormatLabel;
  std::shared_ptr<ButtonView> mHtmlFormatButton;
};

class ImageShareTypeView : public ShareTypeView {
 public:
  explicit ImageShareTypeView(ShareTypeViewDelegate* delegate);
  std::shared_ptr<TabItem> createTabItem() override;
  QString fileTypeSuffix() const override { return QStringLiteral("png"); }
  void saveToFileAtURL(const QString& path, ResultCompletion completion) override;
  void applyLayout() override;
  ButtonView& transparencyButton() const { return *mTransparencyButton; }

 private:
  std::shared_ptr<TextView> mTransparencyLabel;
  std::shared_ptr<ButtonView> mTransparencyButton;
};

class WebShareTypeView : public ShareTypeView {
 public:
  explicit WebShareTypeView(ShareTypeViewDelegate* delegate);
  std::shared_ptr<TabItem> createTabItem() override;
  QString fileTypeSuffix() const override { return QStringLiteral("zip"); }
  void saveToFileAtURL(const QString& path, ResultCompletion completion) override;
  void applyLayout() override;
  ButtonView& coverPageButton() const { return *mCoverPageButton; }

 private:
  std::shared_ptr<TextView> mCoverPageLabel;
  std::shared_ptr<ButtonView> mCoverPageButton;
};

class OPMLShareTypeView : public ShareTypeView {
 public:
  explicit OPMLShareTypeView(ShareTypeViewDelegate* delegate);
  std::shared_ptr<TabItem> createTabItem() override;
  QString fileTypeSuffix() const override { return QStringLiteral("opml"); }
  void saveToFileAtURL(const QString& path, ResultCompletion completion) override;
  void applyLayout() override;
};

}  // namespace orrery
