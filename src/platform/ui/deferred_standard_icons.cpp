#include "platform/ui/deferred_standard_icons.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QWidget>

#include <functional>
#include <optional>

namespace platform {

namespace {

// An icon made by `make` the first time anything but its existence is asked of it.
class DeferredIconEngine final : public QIconEngine {
 public:
  explicit DeferredIconEngine(std::function<QIcon()> make) : mMake(std::move(make)) {}

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
    icon().paint(painter, rect, Qt::AlignCenter, mode, state);
  }
  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    return icon().pixmap(size, mode, state);
  }
  QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override {
    return icon().pixmap(size, scale, mode, state);
  }
  QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    return icon().actualSize(size, mode, state);
  }
  QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
    return icon().availableSizes(mode, state);
  }
  // Asked when widgets are set up; a standard icon is there, so its file need not be read yet.
  bool isNull() override { return mIcon ? mIcon->isNull() : false; }
  QString key() const override { return QStringLiteral("DeferredIconEngine"); }
  QIconEngine* clone() const override { return new DeferredIconEngine(*this); }

 private:
  const QIcon& icon() {
    if (!mIcon) mIcon = mMake();
    return *mIcon;
  }

  std::function<QIcon()> mMake;
  std::optional<QIcon> mIcon;
};

class DeferredStandardIconStyle final : public QProxyStyle {
 public:
  // An option asked with may be gone when the icon is made: only icons asked for without one
  // are deferred; a widget is asked about while it lives.
  QIcon standardIcon(StandardPixmap which, const QStyleOption* option, const QWidget* widget) const override {
    if (option) return QProxyStyle::standardIcon(which, option, widget);
    const QPointer<QStyle> base = baseStyle();
    const QPointer<QWidget> asking = const_cast<QWidget*>(widget);
    return QIcon(new DeferredIconEngine([base, asking, which] {
      QStyle* style = base ? base.data() : QApplication::style();
      return style->standardIcon(which, nullptr, asking.data());
    }));
  }
};

}  // namespace

void installDeferredStandardIcons() { QApplication::setStyle(new DeferredStandardIconStyle()); }

}  // namespace platform
