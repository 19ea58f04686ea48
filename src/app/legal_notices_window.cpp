#include "app/legal_notices_window.h"

#include "app/app_delegate.h"
#include "app/preferences_window_controller.h"
#include "app/window_placement.h"
#include "foundation/globals.h"
#include "foundation/views/base_scroll_view.h"
#include "foundation/views/container_view.h"
#include "foundation/views/kit_font.h"
#include "foundation/views/text_view.h"
#include "platform/services/qt_regular_file.h"
#include "platform/services/resources.h"
#include "platform/ui/window.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>

#include <vector>

namespace orrery {

namespace {

// A rule: a line of one repeated drawing character, the text file's underline.
const QRegularExpression& ruleLine() {
  static const QRegularExpression rule(QStringLiteral("^([=\\-_*~#])\\1{2,}\\s*$"));
  return rule;
}

// The scroller of the notices takes the window's keys, so the reading keys scroll the text.
class KeyedScrollView : public BaseScrollView {
 public:
  bool acceptsFirstResponder() const override { return true; }
};

}  // namespace

QString LegalNoticesView::fittedRules(const QString& text, const QFont& font, double width) {
  const QFontMetricsF metrics(font);
  QStringList lines = text.split(QLatin1Char('\n'));
  for (QString& line : lines) {
    const QRegularExpressionMatch match = ruleLine().match(line);
    if (!match.hasMatch()) continue;
    line = line.trimmed();
    // Cut to what the width holds, so that a rule stays one line wherever the text wraps.
    while (line.size() > 3 && metrics.horizontalAdvance(line) > width) line.chop(1);
  }
  return lines.join(QLatin1Char('\n'));
}

LegalNoticesView::LegalNoticesView() : ColoredView(Globals::colorGray93()) {
  mScrollView = std::make_shared<KeyedScrollView>();
  mScrollView->setHasVerticalScroller(true);
  mScrollView->setHasHorizontalScroller(false);
  mScrollView->setAutohidesScrollers(false);
  addSubview(mScrollView);
  mTextView = std::make_shared<TextView>();
  mTextView->setInset(QSizeF(kHorizontalInset, kVerticalInset));
  mTextView->setFont(mFont);
  mScrollView->setDocumentView(mTextView);
  setText(loadText(platform::pathForResource(QStringLiteral("legal"), QStringLiteral("txt"))));
}

void LegalNoticesView::setText(const QString& text) {
  mText = text;
  mTextView->setText(fittedRules(text, mFont, wrapWidth()));
  setNeedsLayout();
}

// Lines wrap at the view's width less 20 and the insets; the scroller has the rest.
double LegalNoticesView::wrapWidth() const { return std::max(0.0, bounds().width() - 20 - 2 * kHorizontalInset); }

QString LegalNoticesView::loadText(const QString& path) {
  QByteArray bytes;
  if (path.isEmpty() ||
      platform::readRegularFile(path, platform::kMaxInstalledFileBytes, &bytes) != platform::RegularFileRead::Read)
    return QStringLiteral("(error occurred loading resource file)");
  return QString::fromUtf8(bytes);
}

void LegalNoticesView::applyLayout() {
  const QString shown = fittedRules(mText, mFont, wrapWidth());
  if (shown != mTextView->text()) mTextView->setText(shown);
  mTextView->sizeToFitWidth(std::max(0.0, bounds().width() - 20));
  mScrollView->setFrame(bounds());
  mScrollView->tile();
  ColoredView::applyLayout();
}

namespace {

class ClosingCounts : public platform::WindowDelegate {
 public:
  void windowWillClose(platform::Window&) override {
    if (AppDelegate* app = AppDelegate::current()) app->windowDidClose();
  }
};

}  // namespace

platform::Window& showKeptWindow(KeptWindow& kept, const QSizeF& contentSize, const QString& title,
                                 const std::function<std::shared_ptr<BaseView>()>& makeView) {
  if (!kept.window) {
    // Widgets go before the application object does.
    static std::vector<KeptWindow*> made;
    if (made.empty())
      qAddPostRoutine([] {
        for (KeptWindow* each : made) {
          each->window.reset();
          each->view.reset();
          each->delegate.reset();
        }
        made.clear();
      });
    made.push_back(&kept);
    kept.window = std::make_unique<platform::Window>(contentSize, platform::Window::Titled | platform::Window::Closable);
    kept.delegate = std::make_unique<ClosingCounts>();
    kept.window->setDelegate(kept.delegate.get());
    kept.window->setMinSize(contentSize);
    kept.window->setShowsMenuBar(false);
    closesByKey(*kept.window);
    if (!title.isEmpty()) kept.window->setTitle(title);
    auto container = ContainerView::create(QStringLiteral("example_about"));
    kept.view = makeView();
    container->addHostedView(kept.view, [](platform::View& view, const QRectF& host) { view.setFrame(host); });
    kept.window->setContentView(container);
    const QScreen* screen = QGuiApplication::primaryScreen();
    kept.window->setFrameOrigin(
        placement::centredOrigin(kept.window->frame().size(), screen ? QRectF(screen->availableGeometry()) : QRectF()));
    kept.window->makeFirstResponder(container.get());
  }
  kept.window->makeKeyAndOrderFront();
  return *kept.window;
}

namespace {

KeptWindow& legalWindow() {
  static KeptWindow kept;
  return kept;
}

}  // namespace

platform::Window& LegalNoticesWindow::show() {
  platform::Window& window = showKeptWindow(
      legalWindow(), kContentSize, Globals::normalLocalizedStringForKey(QString(), QStringLiteral("Legal Notices")),
      [] { return std::make_shared<LegalNoticesView>(); });
  window.makeFirstResponder(&view()->scrollView());
  return window;
}

LegalNoticesView* LegalNoticesWindow::view() { return static_cast<LegalNoticesView*>(legalWindow().view.get()); }

}  // namespace orrery
