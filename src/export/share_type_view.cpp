#include "export/share_type_view.h"

#include "export/image_exporter.h"
#include "export/mail_hand_off.h"
#include "export/mind_map_to_pdf.h"
#include "export/sharing_view_controller.h"
#include "export/text_exporter.h"
#include "export/web_exporter.h"
#include "foundation/globals.h"
#include "foundation/image_extensions.h"
#include "foundation/logging.h"
#include "foundation/views/kit_font.h"
#include "foundation/views/spinning_progress_indicator.h"
#include "foundation/views/text_view.h"
#include "foundation/views/view_extensions.h"
#include "model/document_file_writer.h"
#include "model/file_utils.h"
#include "model/idea_document.h"
#include "model/opml_writer.h"
#include "platform/core/dispatch.h"
#include "platform/ui/modal_presenter.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

namespace orrery {

namespace {
const QString kFailedToWrite = QStringLiteral("mac:Error:FailedToWriteFile");

// The alert's text under its "Failed to save file" title: the file and the reason, as they are
// (looked up as a table key's default, they would give way to the title's own text).
MyResultPtr failedToWrite(const QString& path, const QString& reason) {
  return MyResult::errorWithText(path.isEmpty() ? reason : QStringLiteral("%1: %2").arg(path, reason));
}

MyResultPtr writeFile(const QByteArray& data, const QString& path) {
  QString reason;
  if (writeFileReplacing(path, data, &reason) != FileWriteResult::Written) return failedToWrite(path, reason);
  return MyResult::OK();
}
}  // namespace

ShareTypeView::ShareTypeView(ShareTypeViewDelegate* delegate) : mDelegate(delegate) {
  mExportButton = addButtonWithTitle(QStringLiteral("Export ..."), false);
  mShareButton = addButtonWithTitle(QStringLiteral("Send via email ..."), false);
  mCancelButton = addButtonWithTitle(QStringLiteral("Cancel"), true);
  mProgress = std::make_shared<SpinningProgressIndicator>(QRectF(0, 0, 24, 24));
  mProgress->setDisplayedWhenStopped(false);
  mProgress->setHidden(true);
  addSubview(mProgress);
}

void ShareTypeView::setWriting(bool writing) {
  setUserInteractionEnabled(!writing);
  mProgress->setHidden(!writing);
  if (writing) mProgress->startAnimation();
  else mProgress->stopAnimation();
}

std::shared_ptr<RoundedTextButton> ShareTypeView::addButtonWithTitle(const QString& title, bool isCancel) {
  auto button = std::make_shared<RoundedTextButton>(this, isCancel ? 1 : 0);
  button->setButtonTitle(Globals::normalUppercaseStringForKey(QString(), title));
  button->setFrame(QRectF(0, 0, 150, button->preferredHeight()));
  addSubview(button);
  return button;
}

std::shared_ptr<TextView> ShareTypeView::addDescriptionView(const QString& text) {
  auto view = std::make_shared<TextView>();
  view->setTextColor(Globals::colorBlack());
  view->setLineSpacing(0);
  view->setLineHeightMultiple(1.0);
  view->setFont(kitFont(Globals::fontAvenirBook(16), 16));
  view->setKern(0.6);
  view->setText(text);
  view->sizeToFitWidth(440);
  addSubview(view);
  viewext::ensureFrameHeightAsMultipleOf(*view, 12);
  return view;
}

std::shared_ptr<ButtonView> ShareTypeView::addCheckbox(bool on) {
  auto box = std::make_shared<ButtonView>(imageext::deviceImageNamed(QStringLiteral("checkbox")),
                                          imageext::deviceImageNamed(QStringLiteral("checkbox_x")));
  box->setDelegate(this);
  box->setFrame(QRectF(0, 0, 28, 28));
  box->setIsToggleButton(true);
  box->setToggled(on);
  addSubview(box);
  return box;
}

std::shared_ptr<TextView> ShareTypeView::addCheckboxExplanation(const QString& text) {
  auto view = std::make_shared<TextView>();
  view->setFont(kitFont(Globals::fontAvenirBook(16), 16));
  view->setKern(-0.1);
  view->setText(text);
  view->sizeToFitWidth(300);
  addSubview(view);
  viewext::ensureFrameHeightAsMultipleOf(*view, 12);
  return view;
}

std::shared_ptr<TabItem> ShareTypeView::makeTab(const QString& icon, const QString& title, ShareType type) {
  return std::make_shared<TabItem>(imageext::deviceImageNamed(icon), title, type);
}

IdeaPtr ShareTypeView::rootIdea() const {
  ShareTypeViewDelegate* d = delegate();
  IdeaPtr idea = d ? d->idea() : nullptr;
  return idea ? idea->root() : nullptr;
}

void ShareTypeView::layoutCheckbox(ButtonView& box, TextView& label, double top) {
  label.setFrameOrigin(QPointF(120, top));
  const double middle = label.frame().center().y();
  box.setFrameOrigin(QPointF(80, middle - box.frame().height() / 2));
}

void ShareTypeView::applyLayout() {
  if (mDescriptionView) mDescriptionView->setFrameOrigin(QPointF(80, 36));
  const double height = bounds().height();
  QRectF cancel = mCancelButton->frame();
  cancel.moveBottomLeft(QPointF(80, height - 10));
  mCancelButton->setFrame(cancel);
  QRectF share = mShareButton->frame();
  share.moveBottomLeft(QPointF(80, cancel.top() - 10));
  mShareButton->setFrame(share);
  QRectF exportFrame = mExportButton->frame();
  exportFrame.moveBottomLeft(QPointF(share.right() + 10, cancel.top() - 10));
  mExportButton->setFrame(exportFrame);
  QRectF progress = mProgress->frame();
  progress.moveCenter(QPointF(exportFrame.right() + 10 + progress.width() / 2, exportFrame.center().y()));
  mProgress->setFrame(progress);
}

void ShareTypeView::saveToFileAtURL(const QString& /*path*/, ResultCompletion completion) {
  completion(MyResult::error(kFailedToWrite, QString()));
}

void ShareTypeView::saveData(const QByteArray& data, const QString& path, const ResultCompletion& completion) {
  const MyResultPtr result = writeFile(data, path);
  if (completion) completion(result);
}

void ShareTypeView::saveInBackground(BytesMaker make, const QString& path, ResultCompletion completion) {
  platform::globalQueue().async([make = std::move(make), path, completion = std::move(completion)] {
    QString error;
    const QByteArray data = make(&error);
    const MyResultPtr result = error.isEmpty() ? writeFile(data, path) : failedToWrite(path, error);
    if (completion) platform::mainQueue().async([completion, result] { completion(result); });
  });
}

void ShareTypeView::reportFailure(const MyResultPtr& result) {
  ORRERY_SOFT_ASSERT(false, "-[ShareTypeView saveToFileAtURL:onCompletion:]");
  const QString title = Globals::normalLocalizedStringForKey(kFailedToWrite, QStringLiteral("Failed to save file"));
  platform::AlertRequest request;
  request.messageText = title;
  request.informativeText = result ? result->description() : QString();
  platform::runModalAlert(request);
}

void ShareTypeView::saveToFile() {
  const IdeaPtr root = rootIdea();
  if (!root) return;
  const QString suffix = fileTypeSuffix();
  const QString proposed = root->exportFileNameForType(suffix);
  setUserInteractionEnabled(false);
  platform::WeakRef<ShareTypeView> self(this);
  presentSaveDestinationChooserWithProposedName(proposed, suffix, [self](const QString& path) {
    ShareTypeView* pane = self.get();
    if (!pane) return;
    pane->setUserInteractionEnabled(true);
    if (path.isEmpty()) return;
    pane->setWriting(true);
    pane->saveToFileAtURL(path, [self](const MyResultPtr& result) {
      ShareTypeView* pane = self.get();
      if (!result || !result->isOK()) {
        // Also when the sheet was dismissed while the file was written: the user must hear of it.
        if (pane) pane->setWriting(false);
        reportFailure(result);
        return;
      }
      if (!pane) return;
      if (ShareTypeViewDelegate* d = pane->delegate()) d->pleaseClose();
    });
  });
}

void ShareTypeView::presentSaveDestinationChooserWithProposedName(const QString& name, const QString& suffix,
                                                                  std::function<void(const QString&)> completion) {
  platform::FilePanelRequest request;
  request.kind = platform::FilePanelRequest::Kind::Save;
  request.allowedFileTypes = QStringList{suffix};
  QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  if (desktop.isEmpty() || !QFileInfo(desktop).isDir()) desktop = QDir::homePath();
  request.directory = desktop;
  request.nameFieldStringValue = name;
  platform::beginFilePanel(request, window(), [completion = std::move(completion)](platform::FilePanelResult result) {
    if (result.response != platform::kModalResponseOK || result.paths.isEmpty()) {
      completion(QString());
      return;
    }
    completion(result.paths.first());
  });
}

void ShareTypeView::shareViaEmail() {
  const IdeaPtr root = rootIdea();
  if (!root) return;
  // A folder of its own per hand-off: names never collide. It outlives the next start, which
  // empties the scratch folder: the user may still have to attach the file by hand.
  const QString folder = FileUtil::handOffDirectoryForFile();
  if (!ORRERY_SOFT_ASSERT(!folder.isEmpty(), "-[ShareTypeView shareViaEmail]")) return;
  const QString path = QDir(folder).filePath(root->exportFileNameForType(fileTypeSuffix()));
  setWriting(true);
  platform::WeakRef<ShareTypeView> self(this);
  saveToFileAtURL(path, [self, path](const MyResultPtr& result) {
    ShareTypeView* pane = self.get();
    if (pane) pane->setWriting(false);
    if (!result || !result->isOK()) {
      reportFailure(result);
      return;
    }
    if (pane) MailHandOff::handOff(path);
  });
}

void ShareTypeView::roundedTextButtonPressed(RoundedTextButton& button) {
  if (!mUserInteractionEnabled) return;
  if (&button == mCancelButton.get()) {
    if (ShareTypeViewDelegate* d = delegate()) d->pleaseClose();
  } else if (&button == mShareButton.get()) {
    shareViaEmail();
  } else if (&button == mExportButton.get()) {
    saveToFile();
  }
}

void ShareTypeView::buttonPressed(ButtonView& button) { button.setToggled(!button.toggled()); }

// --- the panes ---

OrreryShareTypeView::OrreryShareTypeView(ShareTypeViewDelegate* delegate) : ShareTypeView(delegate) {
  mDescriptionView = addDescriptionView(QStringLiteral("Export as Orrery document."));
}

std::shared_ptr<TabItem> OrreryShareTypeView::createTabItem() {
  return makeTab(QStringLiteral("orrery_icon_inactive"), QStringLiteral("Orrery"), 0);
}

void OrreryShareTypeView::saveToFileAtURL(const QString& path, ResultCompletion completion) {
  auto document = IdeaDocument::createWithFileName(QString(), DocumentLocation(0));
  document->setIdea(rootIdea());
  document->writeToLocalFileAt(QUrl::fromLocalFile(path), [document, path, completion](bool ok) {
    completion(ok ? MyResult::OK() : failedToWrite(path, document->lastUserFriendlyError()));
  });
}

void OrreryShareTypeView::applyLayout() { ShareTypeView::applyLayout(); }

PDFShareTypeView::PDFShareTypeView(ShareTypeViewDelegate* delegate) : ShareTypeView(delegate) {
  mDescriptionView = addDescriptionView(QStringLiteral(
      "Export as PDF document. Can be easily printed or viewed in web browser or PDF reader."));
  mNotesLabel = addCheckboxExplanation(QStringLiteral("Include notes"));
  mNotesButton = addCheckbox(true);
}

std::shared_ptr<TabItem> PDFShareTypeView::createTabItem() {
  return makeTab(QStringLiteral("pdf_icon_inactive"), QStringLiteral("PDF"), 1);
}

void PDFShareTypeView::saveToFileAtURL(const QString& path, ResultCompletion completion) {
  ShareTypeViewDelegate* d = delegate();
  auto writer = std::make_shared<MindMapToPDF>(rootIdea(), d ? d->lastModified() : QDateTime());
  writer->setShowNotes(mNotesButton->toggled());
  writer->writePDFIntoURL(path, [writer, completion](const MyResultPtr& result) { completion(result); });
}

void PDFShareTypeView::applyLayout() {
  ShareTypeView::applyLayout();
  layoutCheckbox(*mNotesButton, *mNotesLabel, mDescriptionView->frame().bottom() + 38);
}

PresentationShareTypeView::PresentationShareTypeView(ShareTypeViewDelegate* delegate) : ShareTypeView(delegate) {
  mDescriptionView = addDescriptionView(QStringLiteral("Export interactive mind map for offline presentation.") +
                                        QString(16, QLatin1Char(' ')));
}

std::shared_ptr<TabItem> PresentationShareTypeView::createTabItem() {
  return makeTab(QStringLiteral("presentation_icon_inactive"), QStringLiteral("Presen-\ntation"), 2);
}

void PresentationShareTypeView::saveToFileAtURL(const QString& path, ResultCompletion completion) {
  WebExporter::saveWebExportFrom(rootIdea(), 0, path, std::move(completion));
}

void PresentationShareTypeView::applyLayout() { ShareTypeView::applyLayout(); }

TextShareTypeView::TextShareTypeView(ShareTypeViewDelegate* delegate) : ShareTypeView(delegate) {
  mDescriptionView = addDescriptionView(QStringLiteral(
      "Export nested list of element titles. Result is easy to embed in other documents."));
  mNotesLabel = addCheckboxExplanation(QStringLiteral("Include notes"));
  mNotesLabel->sizeToFit();
  mNotesButton = addCheckbox(true);
  mHtmlFormatLabel = addCheckboxExplanation(QStringLiteral("HTML formatting"));
  mHtmlFormatLabel->sizeToFit();
  mHtmlFormatButton = addCheckbox(false);
}

std::shared_ptr<TabItem> TextShareTypeView::createTabItem() {
  return makeTab(QStringLiteral("text_icon_inactive"), QStringLiteral("Text"), 3);
}

QString TextShareTypeView::fileTypeSuffix() const {
  return mHtmlFormatButton->toggled() ? QStringLiteral("html") : QStringLiteral("txt");
}

void TextShareTypeView::saveToFileAtURL(const QString& path, ResultCompletion completion) {
  const IdeaPtr root = rootIdea();
  if (!root) return completion(MyResult::error(kFailedToWrite, QString()));
  const bool notes = mNotesButton->toggled();
  const bool html = mHtmlFormatButton->toggled();
  saveInBackground(
      [frozen = root->snapshotCopy(), notes, html](QString*) {
        return (html ? TextExporter::ideaAsNestedHTMLList(*frozen, notes) : TextExporter::ideaAsTextOutline(*frozen, notes))
            .toUtf8();
      },
      path, std::move(completion));
}

void TextShareTypeView::applyLayout() {
  ShareTypeView::applyLayout();
  layoutCheckbox(*mNotesButton, *mNotesLabel, mDescriptionView->frame().bottom() + 38);
  const QRectF notes = mNotesLabel->frame();
  mHtmlFormatLabel->setFrameOrigin(QPointF(notes.right() + 100, notes.top()));
  const double middle = mHtmlFormatLabel->frame().center().y();
  mHtmlFormatButton->setFrameOrigin(QPointF(notes.right() + 60, middle - mHtmlFormatButton->frame().height() / 2));
}

ImageShareTypeView::ImageShareTypeView(ShareTypeViewDelegate* delegate) : ShareTypeView(delegate) {
  mDescriptionView = addDescriptionView(QStringLiteral("Export mindmap as PNG image."));
  mTransparencyLabel = addCheckboxExplanation(QStringLiteral("Transparent background"));
  mTransparencyButton = addCheckbox(false);
}

std::shared_ptr<TabItem> ImageShareTypeView::createTabItem() {
  return makeTab(QStringLiteral("image_icon_inactive"), QStringLiteral("Image"), 5);
}

void ImageShareTypeView::saveToFileAtURL(const QString& path, ResultCompletion completion) {
  const IdeaPtr root = rootIdea();
  if (!root) return completion(MyResult::error(kFailedToWrite, QString()));
  saveInBackground(
      [frozen = root->snapshotCopy(), transparency = mTransparencyButton->toggled()](QString* error) {
        QByteArray png = ImageExporter::generatePNGImageFromIdea(frozen, transparency, error);
        if (png.isEmpty() && error->isEmpty()) *error = QStringLiteral("the picture cannot be made");
        return png;
      },
      path, std::move(completion));
}

void ImageShareTypeView::applyLayout() {
  ShareTypeView::applyLayout();
  layoutCheckbox(*mTransparencyButton, *mTransparencyLabel, mDescriptionView->frame().bottom() + 38);
}

WebShareTypeView::WebShareTypeView(ShareTypeViewDelegate* delegate) : ShareTypeView(delegate) {
  mDescriptionView = addDescriptionView(QStringLiteral(
      "Export interactive mind map for embedding in a web-page. Resulting archive contains instructions."));
  mCoverPageLabel = addCheckboxExplanation(QStringLiteral("Include cover page"));
  mCoverPageLabel->sizeToFit();
  mCoverPageButton = addCheckbox(true);
}

std::shared_ptr<TabItem> WebShareTypeView::createTabItem() {
  return makeTab(QStringLiteral("web_icon_inactive"), QStringLiteral("Web"), 6);
}

void WebShareTypeView::saveToFileAtURL(const QString& path, ResultCompletion completion) {
  WebExporter::saveWebExportFrom(rootIdea(), mCoverPageButton->toggled() ? 1 : 2, path, std::move(completion));
}

void WebShareTypeView::applyLayout() {
  ShareTypeView::applyLayout();
  layoutCheckbox(*mCoverPageButton, *mCoverPageLabel, mDescriptionView->frame().bottom() + 38);
}

OPMLShareTypeView::OPMLShareTypeView(ShareTypeViewDelegate* delegate) : ShareTypeView(delegate) {
  mDescriptionView = addDescriptionView(QStringLiteral(
      "Export as OPML document. Contains titles and notes. Mainly for interoperability between apps."));
}

std::shared_ptr<TabItem> OPMLShareTypeView::createTabItem() {
  return makeTab(QStringLiteral("opml_icon_inactive"), QStringLiteral("OPML"), 4);
}

void OPMLShareTypeView::saveToFileAtURL(const QString& path, ResultCompletion completion) {
  const IdeaPtr root = rootIdea();
  if (!root) return completion(MyResult::error(kFailedToWrite, QString()));
  saveInBackground([frozen = root->snapshotCopy()](QString*) { return OPMLWriter::ideaAsOPML(*frozen).toUtf8(); }, path,
                   std::move(completion));
}

void OPMLShareTypeView::applyLayout() { ShareTypeView::applyLayout(); }

}  // namespace orrery
