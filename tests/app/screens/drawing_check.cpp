#include "drawing_check.h"

#include "editor/parent_title_label.h"
#include "editor/planet_drawer.h"
#include "editor/planet_layer.h"
#include "editor/solar_system.h"
#include "foundation/views/text_view.h"
#include "platform/ui/label_view.h"
#include "platform/ui/layer.h"

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace screencheck {
namespace {

const QChar kEllipsis(0x2026);

// Planets are layers, not views: the layer tree below every view is searched.
void collectPlanets(platform::Layer& layer, std::vector<orrery::PlanetLayer*>& found) {
  if (layer.isHidden() || layer.opacity() <= 0) return;
  if (auto* planet = dynamic_cast<orrery::PlanetLayer*>(&layer)) found.push_back(planet);
  for (const auto& sublayer : layer.sublayers()) collectPlanets(*sublayer, found);
}

std::vector<orrery::PlanetLayer*> planetsBelow(platform::View& root) {
  std::vector<orrery::PlanetLayer*> found;
  if (root.layer()) collectPlanets(*root.layer(), found);
  return found;
}

void collectViews(platform::View& view, std::vector<platform::View*>& found) {
  if (view.isHidden() || view.alphaValue() <= 0) return;
  found.push_back(&view);
  for (const auto& child : view.subviews()) collectViews(*child, found);
}

// Whether `shown` is `whole`, or a beginning of it ending in an ellipsis.
bool wholeOrEllipsised(const QString& whole, const QString& shown) {
  const QString plain = whole.simplified();
  if (shown.simplified() == plain) return true;
  if (!shown.endsWith(kEllipsis)) return false;
  return plain.startsWith(shown.chopped(1).simplified());
}

// Whether `shown` is the beginning of `whole` as a disc draws it: whole lines, no ellipsis.
// Lines broken inside a word come together without the space between them.
bool beginningInLines(const QString& whole, const QString& shown) {
  auto squeezed = [](QString text) {
    text.remove(QChar::LineSeparator);
    return text.simplified().remove(QLatin1Char(' '));
  };
  return !shown.contains(kEllipsis) && squeezed(whole).startsWith(squeezed(shown));
}

// Radial views below `view`, the top one first.
void collectRadialViews(platform::View& view, std::vector<orrery::SolarSystem*>& found) {
  if (view.isHidden() || view.alphaValue() <= 0) return;
  if (auto* radial = dynamic_cast<orrery::SolarSystem*>(&view)) found.push_back(radial);
  for (const auto& child : view.subviews()) collectRadialViews(*child, found);
}

double luminance(QColor c) {
  auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
  return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

}  // namespace

QStringList overlapsOutsideThePile(platform::View& root) {
  QStringList found;
  std::vector<orrery::SolarSystem*> radials;
  collectRadialViews(root, radials);
  for (orrery::SolarSystem* radial : radials) {
    if (!radial->centralView()) continue;
    const std::int64_t count = radial->ideaViewCount();
    const bool compressed = radial->radiusAllowing(count) > radial->radius();
    const QPointF sun = radial->centralView()->frame().center();
    auto angle = [&](QPointF p) {
      const double a = std::atan2(p.y() - sun.y(), p.x() - sun.x()) * 180 / std::numbers::pi;
      return a < 0 ? a + 360 : a;
    };
    auto inPile = [](double degrees) { return degrees > 171.5 && degrees < 183.5; };
    for (std::int64_t i = 0; i < count; ++i)
      for (std::int64_t j = i + 1; j < count; ++j) {
        orrery::PlanetLayer& a = *radial->ideaViewAtIndex(i);
        orrery::PlanetLayer& b = *radial->ideaViewAtIndex(j);
        if (!a.planetDrawer() || !b.planetDrawer()) continue;
        const QPointF d = a.position() - b.position();
        const double apart = std::hypot(d.x(), d.y());
        if (apart >= a.planetDrawer()->scaledRadius() + b.planetDrawer()->scaledRadius() - 1) continue;
        const double angleA = angle(a.position()), angleB = angle(b.position());
        if (compressed && (inPile(angleA) || inPile(angleB))) continue;
        found << QStringLiteral("planets %1 at %2° and %3 at %4° of %5 (%6): centres %7 apart")
                     .arg(i)
                     .arg(angleA, 0, 'f', 1)
                     .arg(j)
                     .arg(angleB, 0, 'f', 1)
                     .arg(count)
                     .arg(compressed ? QStringLiteral("compressed") : QStringLiteral("even spacing"))
                     .arg(apart, 0, 'f', 1);
      }
  }
  return found;
}

QStringList cutTexts(platform::View& root) {
  QStringList found;
  std::vector<platform::View*> views;
  collectViews(root, views);
  for (platform::View* view : views) {
    const QRectF b = view->bounds();
    if (auto* title = dynamic_cast<orrery::ParentTitleLabel*>(view)) {
      const QStringList lines = title->shownLines();
      const QFontMetricsF metrics(title->font());
      if (!beginningInLines(title->text(), lines.join(QLatin1Char(' '))))
        found << QStringLiteral("parent title \"%1\" shown as \"%2\"").arg(title->text(), lines.join(QLatin1Char('/')));
      for (const QString& line : lines)
        if (metrics.horizontalAdvance(line) > b.width() + 1)
          found << QStringLiteral("parent title line \"%1\" wider than %2 points").arg(line).arg(b.width());
      if (lines.size() * metrics.height() > b.height() + 1)
        found << QStringLiteral("parent title \"%1\": %2 lines in %3 points")
                     .arg(title->text())
                     .arg(lines.size())
                     .arg(b.height());
    } else if (auto* label = dynamic_cast<platform::LabelView*>(view)) {
      const QString text = label->stringValue();
      if (text.trimmed().isEmpty()) continue;
      const QString shown = label->shownText().string();
      const QFontMetricsF metrics(label->font());
      if (!wholeOrEllipsised(text, shown) || metrics.horizontalAdvance(shown) > b.width() + 1)
        found << QStringLiteral("label \"%1\" shown as \"%2\" in %3 points").arg(text, shown).arg(b.width());
      if (metrics.ascent() + metrics.descent() > b.height() + 1)
        found << QStringLiteral("label \"%1\" %2 points tall in %3").arg(text).arg(metrics.height()).arg(b.height());
    } else if (auto* textView = dynamic_cast<orrery::TextView*>(view)) {
      if (textView->text().trimmed().isEmpty()) continue;
      const QSizeF used = textView->intrinsicContentSize() + 2 * textView->inset();
      if (used.width() > b.width() + 1 || used.height() > b.height() + 1)
        found << QStringLiteral("text \"%1\" needs %2 × %3, has %4 × %5")
                     .arg(textView->text())
                     .arg(used.width())
                     .arg(used.height())
                     .arg(b.width())
                     .arg(b.height());
    }
  }
  for (orrery::PlanetLayer* planet : planetsBelow(root)) {
    orrery::PlanetDrawer* drawer = planet->planetDrawer();
    if (!drawer || drawer->text().trimmed().isEmpty()) continue;
    const QString shown = drawer->shownTitle();
    if (!beginningInLines(drawer->text(), shown))
      found << QStringLiteral("disc title \"%1\" shown as \"%2\"").arg(drawer->text(), shown);
  }
  return found;
}

double textContrast(const QImage& withText, const QImage& withoutText, const QRectF& area, double scale) {
  const QRect pixels =
      QRectF(area.topLeft() * scale, area.size() * scale).toAlignedRect() & withText.rect() & withoutText.rect();
  std::vector<double> behind, ink;
  for (int y = pixels.top(); y <= pixels.bottom(); ++y)
    for (int x = pixels.left(); x <= pixels.right(); ++x) {
      const QColor a = withText.pixelColor(x, y), b = withoutText.pixelColor(x, y);
      behind.push_back(luminance(b));
      if (a != b) ink.push_back(luminance(a));
    }
  if (behind.empty() || ink.empty()) return 1;
  std::nth_element(behind.begin(), behind.begin() + behind.size() / 2, behind.end());
  const double ground = behind[behind.size() / 2];
  auto ratio = [&](double l) { return (std::max(l, ground) + 0.05) / (std::min(l, ground) + 0.05); };
  std::sort(ink.begin(), ink.end(), [&](double x, double y) { return ratio(x) > ratio(y); });
  return ratio(ink[ink.size() / 10]);
}

int changedPixels(const QImage& before, const QImage& after, const QRectF& area, double scale) {
  int changed = 0;
  const QRect pixels =
      QRectF(area.topLeft() * scale, area.size() * scale).toAlignedRect() & before.rect() & after.rect();
  for (int y = pixels.top(); y <= pixels.bottom(); ++y)
    for (int x = pixels.left(); x <= pixels.right(); ++x) {
      const QColor a = before.pixelColor(x, y), b = after.pixelColor(x, y);
      if (std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) > 24) ++changed;
    }
  return changed;
}

}  // namespace screencheck
