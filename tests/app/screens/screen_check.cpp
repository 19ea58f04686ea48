#include "screen_check.h"

#include "foundation/views/button_view.h"
#include "foundation/views/text_label.h"
#include "foundation/views/text_view.h"
#include "foundation/views/titled_button_base.h"
#include "platform/services/localization.h"
#include "platform/ui/image_view.h"
#include "platform/ui/label_view.h"
#include "platform/ui/layer.h"
#include "platform/ui/native_host_view.h"

#include <QAbstractButton>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QRegion>
#include <QRegularExpression>
#include <QTextEdit>

#include <algorithm>
#include <cstdlib>
#include <cxxabi.h>
#include <typeinfo>

namespace screencheck {
namespace {

QString typeName(const platform::View& view) {
  int status = 0;
  char* readable = abi::__cxa_demangle(typeid(view).name(), nullptr, nullptr, &status);
  const QString name = QString::fromLatin1(status == 0 && readable ? readable : typeid(view).name());
  std::free(readable);
  return name;
}

QString describe(const platform::View& view, const QRectF& rect) {
  return QStringLiteral("%1 at (%2, %3, %4 × %5)")
      .arg(typeName(view))
      .arg(rect.x())
      .arg(rect.y())
      .arg(rect.width())
      .arg(rect.height());
}

void noteText(const QString& text, const QString& where, Findings& findings) {
  const QString trimmed = text.trimmed();
  if (trimmed.isEmpty()) return;
  findings.texts << trimmed;
  if (looksLikeKey(trimmed)) findings.keys << QStringLiteral("\"%1\" in %2").arg(trimmed, where);
}

void noteWidgetTexts(QWidget& widget, const QString& where, Findings& findings) {
  QList<QWidget*> widgets = widget.findChildren<QWidget*>();
  widgets.prepend(&widget);
  for (QWidget* w : widgets) {
    if (!w->isVisible()) continue;
    if (auto* label = qobject_cast<QLabel*>(w)) noteText(label->text(), where, findings);
    if (auto* button = qobject_cast<QAbstractButton*>(w)) noteText(button->text(), where, findings);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      noteText(edit->text(), where, findings);
      noteText(edit->placeholderText(), where, findings);
    }
    if (auto* text = qobject_cast<QTextEdit*>(w)) noteText(text->toPlainText().section(QLatin1Char('\n'), 0, 0), where, findings);
  }
}

bool hasPixels(const QImage& image) {
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (qAlpha(image.pixel(x, y)) > 0) return true;
  return false;
}

bool isControl(platform::View& view) {
  return dynamic_cast<orrery::ButtonView*>(&view) || dynamic_cast<orrery::TitledButtonBase*>(&view) ||
         dynamic_cast<platform::ImageView*>(&view);
}

// Walks the drawn views; `clip` is what the masking ancestors leave visible, in the window.
void walk(platform::View& view, const QRectF& clip, const QRectF& window, Findings& findings) {
  if (view.isHidden() || view.alphaValue() <= 0) return;
  const QRectF inWindow = view.convertRectToView(view.bounds(), nullptr);
  const QRectF shown = inWindow.intersected(clip);
  if (shown.isEmpty()) return;
  if (!window.adjusted(-1, -1, 1, 1).contains(shown)) findings.outside << describe(view, inWindow);
  const QString where = describe(view, inWindow);
  if (auto* label = dynamic_cast<platform::LabelView*>(&view)) noteText(label->stringValue(), where, findings);
  if (auto* text = dynamic_cast<orrery::TextView*>(&view)) noteText(text->text(), where, findings);
  if (auto* host = dynamic_cast<platform::NativeHostView*>(&view); host && host->widget())
    noteWidgetTexts(*host->widget(), where, findings);
  if (isControl(view) && !hasPixels(view.snapshot())) findings.invisible << where;
  const QRectF inner = view.layer()->masksToBounds() ? shown : clip;
  for (const auto& child : view.subviews()) walk(*child, inner, window, findings);
}

// Without a compositing manager only the window's shape hides what lies under it: a clear
// pixel inside the shape shows black.
void expectShapedIfTranslucent(platform::Window& window, const QImage& picture, Findings& findings) {
  const QWidget* widget = window.widget();
  if (!widget || !widget->testAttribute(Qt::WA_TranslucentBackground) || picture.isNull()) return;
  const QRegion shape = widget->mask().isEmpty() ? QRegion(widget->rect()) : widget->mask();
  const double scale = picture.width() / std::max(1.0, window.contentSize().width());
  int clear = 0;
  for (const QRect& band : shape)
    for (int y = band.top(); y <= band.bottom(); ++y)
      for (int x = band.left(); x <= band.right(); ++x) {
        const QPoint at(int((x + 0.5) * scale), int((y + 0.5) * scale));
        if (picture.valid(at) && qAlpha(picture.pixel(at)) == 0) ++clear;
      }
  if (clear > 0) findings.black << QStringLiteral("%1 clear pixels inside the window's shape").arg(clear);
}

}  // namespace

QString Findings::report() const {
  QString out;
  if (!outside.isEmpty()) out += QStringLiteral("Outside the window:\n  ") + outside.join(QStringLiteral("\n  ")) + '\n';
  if (!keys.isEmpty()) out += QStringLiteral("Texts that are keys:\n  ") + keys.join(QStringLiteral("\n  ")) + '\n';
  if (!invisible.isEmpty()) out += QStringLiteral("Controls without pixels:\n  ") + invisible.join(QStringLiteral("\n  ")) + '\n';
  if (!black.isEmpty()) out += QStringLiteral("Shown black without compositing:\n  ") + black.join(QStringLiteral("\n  ")) + '\n';
  return out;
}

bool looksLikeKey(const QString& text) {
  // Keys are words joined by points or colons ("Choice.MoveHere", "mac:Error:FailedToOpenFile").
  static const QRegularExpression shape(QStringLiteral("^[A-Za-z][A-Za-z0-9_]*([.:][A-Za-z0-9_]+)+$"));
  if (shape.match(text).hasMatch() && !text.contains(QLatin1String("://")) && !text.endsWith(QLatin1String(".orrery")))
    return true;
  const platform::LocalizationTable& table = platform::LocalizationTable::main();
  return table.contains(text) && table.localizedString(text, QString()) != text;
}

QString screenshotFolder() {
  const QString folder = QStringLiteral(ORRERY_SCREENSHOT_DIR);
  QDir().mkpath(folder);
  return folder;
}

void keepPicture(const QImage& image, const QString& name) {
  image.save(QDir(screenshotFolder()).filePath(name + QStringLiteral(".png")));
}

void checkTexts(const QStringList& texts, const QString& where, Findings& findings) {
  for (const QString& text : texts) noteText(text, where, findings);
}

Findings checkWindow(platform::Window& window, const QString& name) {
  window.displayIfNeeded();
  const QImage picture = window.snapshot();
  keepPicture(picture, name);
  Findings findings;
  const QRectF bounds(QPointF(0, 0), window.contentSize());
  if (const auto& content = window.contentView()) walk(*content, bounds, bounds, findings);
  expectShapedIfTranslucent(window, picture, findings);
  return findings;
}

}  // namespace screencheck
