#include "app/about_window.h"

#include "app/legal_notices_window.h"
#include "foundation/globals.h"
#include "foundation/image_extensions.h"
#include "foundation/views/base_image_view.h"
#include "foundation/views/text_label.h"
#include "platform/services/qt_regular_file.h"
#include "platform/services/resources.h"
#include "platform/services/url_opener.h"
#include "platform/ui/attributed_string.h"
#include "platform/ui/native_host_view.h"
#include "platform/ui/window.h"
#include "shell/bundle_info.h"

#include <QScrollBar>
#include <QTextBrowser>

#include <algorithm>

namespace orrery {

namespace {

constexpr char kCopyright[] = "© 2026 The Orrery developers";
constexpr double kCopyFontSize = 12;
constexpr double kMinCopyFontSize = 9;
constexpr double kCopyGap = 8;

std::shared_ptr<TextLabel> grayLabel(const QString& text) {
  auto label = std::make_shared<TextLabel>();
  label->setFont(Globals::fontAvenirBook(12));
  label->setTextColor(Globals::colorGray46());
  label->setText(text);
  label->sizeToFit();
  return label;
}

}  // namespace

AboutView::AboutView() : ColoredView(Globals::colorGray93()) {
  mLogoView = std::make_shared<BaseImageView>(imageext::deviceImageNamed(QStringLiteral("about_logo")));
  mLogoView->setFrame(QRectF(QPointF(), mLogoView->imageSize()));
  addSubview(mLogoView);
  mTextLabel = grayLabel(QStringLiteral("Orrery v") + BundleInfo::shortVersionString());
  addSubview(mTextLabel);

  mBrowser = new QTextBrowser;
  mBrowser->setOpenLinks(false);
  mBrowser->setOpenExternalLinks(false);
  mBrowser->setFrameShape(QFrame::NoFrame);
  QObject::connect(mBrowser, &QTextBrowser::anchorClicked, mBrowser, [](const QUrl& url) { linkClicked(url); });
  mWebView = std::make_shared<platform::NativeHostView>(mBrowser);
  addSubview(mWebView);

  mCopyLabel = grayLabel(QString::fromUtf8(kCopyright));
  addSubview(mCopyLabel);

  auto legal = std::make_shared<TextLabel>();
  QFont oblique = Globals::fontAvenirOblique(10);
  oblique.setUnderline(true);
  legal->setAttributedText(
      platform::AttributedString(Globals::normalLocalizedStringForKey(QString(), QStringLiteral("Legal Notices")),
                                 {oblique, Globals::colorGray46(), {}, {}}));
  legal->sizeToFit();
  mButtonView = std::make_shared<ButtonView>();
  mButtonView->setFrame(legal->frame());
  mButtonView->addView(legal, 0);
  mButtonView->setDelegate(this);
  addSubview(mButtonView);

  mBrowser->setHtml(loadPage(platform::pathForResource(QStringLiteral("credits"), QStringLiteral("html"))));
  webViewDidFinishLoad();
}

QString AboutView::loadPage(const QString& path) {
  QByteArray bytes;
  if (path.isEmpty() ||
      platform::readRegularFile(path, platform::kMaxInstalledFileBytes, &bytes) != platform::RegularFileRead::Read)
    return QString();
  return QString::fromUtf8(bytes);
}

void AboutView::linkClicked(const QUrl& url) {
  const QString scheme = url.scheme().toLower();
  if (scheme == QLatin1String("http") || scheme == QLatin1String("https")) platform::openURL(url);
}

void AboutView::webViewDidFinishLoad() {
  ++mPageLoads;
  mBrowser->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

void AboutView::applyLayout() {
  const double w = bounds().width();
  const double h = bounds().height();
  const QSizeF logo = mLogoView->frame().size();
  mLogoView->setFrameOrigin(QPointF(w / 2 - logo.width() / 2, 70 - logo.height() / 2));
  const QSizeF version = mTextLabel->frame().size();
  const double logoBottom = mLogoView->frame().bottom();
  mTextLabel->setFrameOrigin(QPointF(w / 2 - version.width() / 2, logoBottom + 28 - version.height() / 2));
  mWebView->setFrame(QRectF(0, 170, w, std::max(0.0, h - 170 - 44)));
  const QSizeF button = mButtonView->frame().size();
  mButtonView->setFrameOrigin(QPointF(w - 15 - button.width(), h - 22 - button.height() / 2));
  // The copyright line shares its line with the button: in a wide font it gets smaller rather
  // than run under the button, and is cut only below the smallest readable size.
  const double room = mButtonView->frame().left() - kCopyGap - 15;
  mCopyLabel->setFontSize(kCopyFontSize);
  mCopyLabel->sizeToFit();
  for (double size = kCopyFontSize - 0.5; mCopyLabel->frame().width() > room && size >= kMinCopyFontSize; size -= 0.5) {
    mCopyLabel->setFontSize(size);
    mCopyLabel->sizeToFit();
  }
  const QSizeF copy(std::min(mCopyLabel->frame().width(), std::max(0.0, room)), mCopyLabel->frame().height());
  mCopyLabel->setFrame(QRectF(QPointF(15, h - 22 - copy.height() / 2), copy));
  ColoredView::applyLayout();
}

void AboutView::buttonPressed(ButtonView&) { LegalNoticesWindow::show(); }

void AboutView::resetCursorRects() { addCursorRect(mButtonView->frame(), platform::Cursor::PointingHand); }

namespace {

KeptWindow& aboutWindow() {
  static KeptWindow kept;
  return kept;
}

}  // namespace

platform::Window& AboutWindow::show() {
  return showKeptWindow(aboutWindow(), kContentSize, QString(), [] { return std::make_shared<AboutView>(); });
}

AboutView* AboutWindow::view() { return static_cast<AboutView*>(aboutWindow().view.get()); }

}  // namespace orrery
