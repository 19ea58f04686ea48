#include "panels/picture_view_controller.h"

#include <QImageReader>

#include "foundation/globals.h"
#include "foundation/image_extensions.h"
#include "foundation/kit_image.h"
#include "foundation/logging.h"
#include "foundation/views/base_scroll_view.h"
#include "foundation/views/colored_view.h"
#include "foundation/views/custom_alert_view.h"
#include "foundation/views/modal_choice_controller.h"
#include "model/document_open_failure.h"
#include "model/idea.h"
#include "panels/refusal_alert.h"
#include "platform/ui/event.h"
#include "platform/ui/image_view.h"
#include "platform/ui/menu.h"
#include "platform/ui/modal_presenter.h"
#include "platform/ui/window.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <initializer_list>

namespace orrery {

namespace {
const QString kZoomIn = QStringLiteral("cmdZoomIn");
const QString kZoomOut = QStringLiteral("cmdZoomOut");
const QString kActualSize = QStringLiteral("cmdActualSize");
}  // namespace

PictureView::PictureView() {
  setActionHandler(kZoomIn, [this](const platform::ActionSender&) { cmdZoomIn(); });
  setActionHandler(kZoomOut, [this](const platform::ActionSender&) { cmdZoomOut(); });
  setActionHandler(kActualSize, [this](const platform::ActionSender&) { cmdActualSize(); });
}

void PictureView::setImage(const QImage& image) {
  ORRERY_SOFT_ASSERT(!image.isNull(), "-[PictureView setImage:]");
  mImage = image;
  if (mScrollView) mScrollView->removeFromSuperview();
  mScrollView = std::make_shared<BaseScrollView>();
  addSubview(mScrollView);
  mContentView = std::make_shared<platform::View>();
  mImageView = std::make_shared<platform::ImageView>();
  mContentView->addSubview(mImageView);
  updateViewImage(image);
  mScrollView->setDocumentView(mContentView);
  mScrollView->setAutohidesScrollers(true);
  mScrollView->setAllowsMagnification(true);
  fitZoomToContent();
}

void PictureView::updateViewImage(const QImage& image) {
  const QSizeF size = image.isNull() ? QSizeF(0, 0) : image.deviceIndependentSize();
  mImageView->setImage(image, size);
  mImageView->setFrame(QRectF(QPointF(0, 0), size));
  mContentSize = size;
  mContentView->setFrame(QRectF(QPointF(0, 0), size));
  forceDirtyLayout();
}

void PictureView::fitZoomToContent() {
  mIsFittingExactly = true;
  if (mScrollView) {
    mScrollView->setHasHorizontalScroller(false);
    mScrollView->setHasVerticalScroller(false);
  }
  applyLayout();
}

double PictureView::fittingZoomForSize(const QSizeF& size) const {
  // An empty picture has nothing to fit: it shows at its own size.
  if (mContentSize.width() <= 0 || mContentSize.height() <= 0) return 1;
  return std::min(size.width() / mContentSize.width(), size.height() / mContentSize.height());
}

double PictureView::magnification() const { return mScrollView ? mScrollView->magnification() : 1; }

double PictureView::tentativeZoom(double factor) const {
  if (!mScrollView) return 1;
  const double z = factor < 0 ? fittingZoomForSize(bounds().size()) : factor * mScrollView->magnification();
  return std::clamp(z, mScrollView->minMagnification(), mScrollView->maxMagnification());
}

void PictureView::zoomInCenter(double factor) {
  if (!mScrollView) return;
  mIsFittingExactly = false;
  mScrollView->setHasHorizontalScroller(true);
  mScrollView->setHasVerticalScroller(true);
  mScrollView->setMagnification(tentativeZoom(factor));
  applyLayout();
}

bool PictureView::canZoomIn() const { return tentativeZoom(kZoomInFactor) != magnification(); }
bool PictureView::canZoomOut() const { return tentativeZoom(kZoomOutFactor) != magnification(); }
bool PictureView::canZoomToActualSize() const { return tentativeZoom(-10000) != magnification(); }

bool PictureView::validateUserInterfaceItem(const platform::MenuItem& item) {
  if (item.action() == kZoomIn) return canZoomIn();
  if (item.action() == kZoomOut) return canZoomOut();
  if (item.action() == kActualSize) return canZoomToActualSize();
  return true;
}

void PictureView::keyDown(const platform::Event& event) {
  if (event.modifierFlags & platform::ModifierFlag::Command) {
    const QString key = event.charactersIgnoringModifiers.isEmpty() ? event.characters : event.charactersIgnoringModifiers;
    if (key == QLatin1String("+") || key == QLatin1String("=")) return cmdZoomIn();
    if (key == QLatin1String("-")) return cmdZoomOut();
    if (key == QLatin1String("9")) return cmdActualSize();
  }
  BaseView::keyDown(event);
}

std::shared_ptr<platform::Menu> PictureView::menuForEvent(const platform::Event& /*event*/) {
  auto menu = std::make_shared<platform::Menu>(QString());
  menu->addItem(platform::MenuItem::separator());
  auto add = [&](const QString& title, const QString& action, const QString& key) {
    auto item = std::make_shared<platform::MenuItem>(title, action, key);
    item->setTarget(this);
    item->setEnabled(validateUserInterfaceItem(*item));
    menu->addItem(item);
  };
  add(QStringLiteral("Zoom In"), kZoomIn, QStringLiteral("+"));
  add(QStringLiteral("Zoom Out"), kZoomOut, QStringLiteral("-"));
  add(QStringLiteral("Zoom to Fit"), kActualSize, QStringLiteral("9"));
  return menu;
}

void PictureView::applyLayout() {
  if (!mScrollView) return;
  if (mIsFittingExactly) mScrollView->setMagnification(fittingZoomForSize(bounds().size()));
  // Twice: the clip view's size depends on the scrollers the first pass shows or hides.
  for (int pass = 0; pass < 2; ++pass) {
    mScrollView->setFrame(bounds());
    if (mImage.isNull() && mContentSize.isEmpty()) continue;
    const QSizeF clip = mScrollView->contentView()->bounds().size();
    mContentView->setFrame(QRectF(0, 0, std::max(clip.width() - 1, mContentSize.width()),
                                  std::max(clip.height() - 1, mContentSize.height())));
    QRectF image = mImageView->frame();
    image.moveCenter(QPointF(mContentView->frame().width() / 2, mContentView->frame().height() / 2));
    mImageView->setFrame(image);
  }
}

// --- the panel ---

const QStringList& PictureViewController::allowedFileTypes() {
  // Each type with every name its files go by; the reader knows a type by its content, so
  // "jpe" opens as JPEG although no plugin names it. TIFF and GIF come from image plugins that
  // a machine may lack: offer only what opens here.
  struct PictureType {
    const char* format;
    std::initializer_list<const char*> extensions;
  };
  static const QStringList types = [] {
    const QList<QByteArray> readable = QImageReader::supportedImageFormats();
    QStringList offered;
    for (const PictureType& type :
         {PictureType{"png", {"png"}}, PictureType{"jpeg", {"jpg"}}, PictureType{"tiff", {"tiff", "tif"}},
          PictureType{"jpeg", {"jpeg", "jpe"}}, PictureType{"gif", {"gif"}}})
      if (readable.contains(QByteArray(type.format)))
        for (const char* extension : type.extensions) offered << QString::fromLatin1(extension);
    return offered;
  }();
  return types;
}

KitImage PictureViewController::readChosenPicture(const QString& path) {
  QString reason;
  KitImage picture = KitImage::readFromURL(path, &reason);
  if (!picture.isNull() && !picture.pixelSize().isEmpty()) return picture;
  // A name typed into the panel can be of any type, not only of those it lists.
  if (reason.isEmpty()) reason = QStringLiteral("The file holds no picture");
  CustomAlertView::showErrorResult(namedFileOpenFailure(path, reason));
  return {};
}

PictureViewController::PictureViewController() {
  setActionHandler(platform::Actions::cancelOperation, [this](const platform::ActionSender&) { handleDismissal(); });
}

void PictureViewController::setImage(const QImage& image) {
  view();
  ORRERY_SOFT_ASSERT(!image.isNull(), "-[PictureViewController setImage:]");
  mImage = image;
  mPictureView->setImage(image);
}

void PictureViewController::loadView() {
  const QImage pattern = imageext::deviceImageNamed(QStringLiteral("bg_pattern"));
  auto root = std::make_shared<ColoredView>(pattern.isNull() ? QBrush(Qt::white) : QBrush(pattern), this);
  root->setFrame(QRectF(0, 0, 1000, 700));
  mPictureView = std::make_shared<PictureView>();
  root->addSubview(mPictureView);
  mTopAreaView = std::make_shared<ColoredView>(QBrush(Globals::colorGrayD7DEE4()));
  root->addSubview(mTopAreaView);
  auto makeButton = [&](const char* normal, const char* active) {
    auto button = std::make_shared<ButtonView>(imageext::deviceImageNamed(QString::fromLatin1(normal)),
                                               imageext::deviceImageNamed(QString::fromLatin1(active)));
    button->setFrame(QRectF(0, 0, 28, 28));
    button->setDelegate(this);
    root->addSubview(button);
    return button;
  };
  mCloseButton = makeButton("close", "close_active");
  mChangeContentButton = makeButton("add_image_icon", "add_image_icon_active");
  setView(root);
}

void PictureViewController::applyLayout() {
  if (!isViewLoaded()) return;
  const QRectF b = view()->bounds();
  const QRectF bar(b.left(), b.top(), b.width(), kTopBarHeight);
  mTopAreaView->setFrame(bar);
  mPictureView->setFrame(QRectF(b.left(), bar.bottom(), b.width(), std::max(0.0, b.height() - kTopBarHeight)));
  mPictureView->callApplyLayout();
  mCloseButton->setFrameOrigin(QPointF(10, bar.height() / 2 - mCloseButton->frame().height() / 2));
  const QSizeF change = mChangeContentButton->frame().size();
  mChangeContentButton->setFrameOrigin(QPointF(bar.width() - 10 - change.width(), bar.height() / 2 - change.height() / 2));
}

void PictureViewController::viewWillAppear() {
  if (mFirstAppearanceDone) return;
  mFirstAppearanceDone = true;
  view();
  mPictureView->fitZoomToContent();
}

void PictureViewController::viewDidAppear() {
  if (platform::Window* window = viewWindow()) window->makeFirstResponder(mPictureView.get());
}

void PictureViewController::buttonPressed(ButtonView& button) {
  if (&button == mCloseButton.get()) return handleDismissal();
  if (&button != mChangeContentButton.get()) return;
  mChoice = ModalChoiceController::create();
  platform::WeakRef<PictureViewController> self(this);
  mChoice->addButton(Globals::normalLocalizedStringForKey(QString(), QStringLiteral("Change Image")), [self] {
    if (PictureViewController* me = self.get()) me->pleaseStartImageChange();
  });
  mChoice->showModallyFromRect(mChangeContentButton->frame(), view().get());
}

void PictureViewController::pleaseStartImageChange() {
  platform::FilePanelRequest request;
  request.kind = platform::FilePanelRequest::Kind::Open;
  request.allowedFileTypes = allowedFileTypes();
  QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  if (desktop.isEmpty() || !QFileInfo(desktop).isDir()) desktop = QDir::homePath();
  request.directory = desktop;
  platform::WeakRef<PictureViewController> self(this);
  platform::beginFilePanel(request, viewWindow(), [self](platform::FilePanelResult result) {
    PictureViewController* me = self.get();
    if (!me || result.response != platform::kModalResponseOK || result.paths.isEmpty()) return;
    const KitImage picture = readChosenPicture(result.paths.first());
    if (picture.isNull()) return;
    if (me->mEditRoom && !me->mEditRoom->holdRoomFor(IdeaEditRoom::Picture,
                                                     [&](Idea& idea) { idea.replaceWithOriginalImage(picture); })) {
      tellRefusal(me->view().get(), me->mEditRoom->refusal());
      return;
    }
    me->mImage = picture.nsImage();
    me->mDidChangeImage = true;
    me->mPictureView->setImage(me->mImage);
  });
}

void PictureViewController::handleDismissal() {
  if (PictureViewControllerDelegate* d = delegate()) d->pleaseDismissPictureView(*this);
}

}  // namespace orrery
