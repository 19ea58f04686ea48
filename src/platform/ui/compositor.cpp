#include "platform/ui/compositor.h"

#include <QPaintEngine>
#include <QPainter>
#include <QVarLengthArray>
#include <algorithm>
#include <cmath>
#include <list>
#include <vector>

#include "platform/core/clock.h"
#include "platform/ui/layer.h"
#include "platform/ui/transparent_image.h"

namespace platform::compositor {
namespace {

// Three box-blur passes over the alpha channel approximate a Gaussian of `radius`.
void blurAlpha(QImage& image, int radius) {
  if (radius < 1) return;
  const int w = image.width(), h = image.height();
  std::vector<int> alpha(static_cast<size_t>(w) * h), tmp(alpha.size());
  for (int y = 0; y < h; ++y) {
    const QRgb* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < w; ++x) alpha[static_cast<size_t>(y) * w + x] = qAlpha(row[x]);
  }
  const int r = std::max(1, radius / 2);
  auto pass = [&](std::vector<int>& src, std::vector<int>& dst, bool horizontal) {
    const int n = horizontal ? w : h, lines = horizontal ? h : w;
    for (int line = 0; line < lines; ++line) {
      auto at = [&](int i) -> int& {
        return horizontal ? src[static_cast<size_t>(line) * w + i] : src[static_cast<size_t>(i) * w + line];
      };
      auto out = [&](int i) -> int& {
        return horizontal ? dst[static_cast<size_t>(line) * w + i] : dst[static_cast<size_t>(i) * w + line];
      };
      int sum = 0;
      for (int i = -r; i <= r; ++i) sum += (i >= 0 && i < n) ? at(i) : 0;
      for (int i = 0; i < n; ++i) {
        out(i) = sum / (2 * r + 1);
        const int add = i + r + 1, sub = i - r;
        if (add < n) sum += at(add);
        if (sub >= 0) sum -= at(sub);
      }
    }
  };
  for (int k = 0; k < 3; ++k) {
    pass(alpha, tmp, true);
    pass(tmp, alpha, false);
  }
  for (int y = 0; y < h; ++y) {
    QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < w; ++x) {
      const int a = alpha[static_cast<size_t>(y) * w + x];
      row[x] = qRgba(0, 0, 0, a);
    }
  }
}

QPainterPath shapeOf(const Layer& layer, const Layer::State& s) {
  if (layer.shadowPath()) return *layer.shadowPath();
  QPainterPath path;
  if (s.cornerRadius > 0)
    path.addRoundedRect(s.bounds, s.cornerRadius, s.cornerRadius);
  else
    path.addRect(s.bounds);
  return path;
}

void drawShadow(QPainter& painter, const Layer& layer, const Layer::State& s) {
  const QPainterPath shape = shapeOf(layer, s);
  const double radius = std::max(0.0, layer.shadowRadius());
  const QRectF rect = shape.boundingRect().adjusted(-radius * 2, -radius * 2, radius * 2, radius * 2);
  if (rect.isEmpty()) return;
  // Keyed by the outline itself: another shape of the same size (a new path, a new corner
  // radius) must not reuse the blur of the old one.
  QString key =
      QStringLiteral("%1,%2,%3,%4,%5").arg(rect.x()).arg(rect.y()).arg(rect.width()).arg(rect.height()).arg(radius);
  auto& cache = layer.shadowCache();
  if (cache.key != key || cache.shape != shape || cache.image.isNull()) {
    QImage mask(rect.size().toSize() + QSize(1, 1), QImage::Format_ARGB32_Premultiplied);
    mask.fill(Qt::transparent);
    {
      QPainter p(&mask);
      p.setRenderHint(QPainter::Antialiasing);
      p.translate(-rect.topLeft());
      p.fillPath(shape, Qt::black);
    }
    blurAlpha(mask, static_cast<int>(std::lround(radius)));
    cache = {mask, rect, key, shape};
  }
  QImage tinted = cache.image;
  {
    QPainter p(&tinted);
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(tinted.rect(), layer.shadowColor());
  }
  painter.save();
  painter.setOpacity(painter.opacity() * s.shadowOpacity);
  painter.drawImage(cache.rect.topLeft() + layer.shadowOffset(), tinted);
  painter.restore();
}

QRectF placeContents(const QSizeF& content, const QRectF& b, ContentsGravity gravity) {
  const double w = content.width(), h = content.height();
  switch (gravity) {
    case ContentsGravity::Resize: return b;
    case ContentsGravity::ResizeAspect:
    case ContentsGravity::ResizeAspectFill: {
      if (w <= 0 || h <= 0) return b;
      const double fx = b.width() / w, fy = b.height() / h;
      const double f = gravity == ContentsGravity::ResizeAspect ? std::min(fx, fy) : std::max(fx, fy);
      const QSizeF size(w * f, h * f);
      return QRectF(b.center() - QPointF(size.width() / 2, size.height() / 2), size);
    }
    default: break;
  }
  double x = b.x() + (b.width() - w) / 2, y = b.y() + (b.height() - h) / 2;
  switch (gravity) {
    case ContentsGravity::Top: y = b.y(); break;
    case ContentsGravity::Bottom: y = b.bottom() - h; break;
    case ContentsGravity::Left: x = b.x(); break;
    case ContentsGravity::Right: x = b.right() - w; break;
    case ContentsGravity::TopLeft:
      x = b.x();
      y = b.y();
      break;
    case ContentsGravity::TopRight:
      x = b.right() - w;
      y = b.y();
      break;
    case ContentsGravity::BottomLeft:
      x = b.x();
      y = b.bottom() - h;
      break;
    case ContentsGravity::BottomRight:
      x = b.right() - w;
      y = b.bottom() - h;
      break;
    default: break;
  }
  return QRectF(x, y, w, h);
}

// Pictures resampled for layers resting at another scale (the home grid's shrunk tiles while
// a drag is over it): resampled once, then blitted on every frame, which costs a fraction of
// resampling them again. Only small pictures, and only once seen at that size on an earlier
// draw, so an animated scale never pays for pictures used once. One per drawing thread; the
// least recently used go beyond a byte budget.
class ResampledPictures {
 public:
  static constexpr qsizetype kBudget = 48 << 20;
  static constexpr int kLargest = 512;

  // The kept picture, or none where the caller should resample itself.
  const QImage* picture(const QImage& image, const QSize& pixels) {
    const Key key{image.cacheKey(), pixels};
    for (auto it = mEntries.begin(); it != mEntries.end(); ++it) {
      if (it->key != key) continue;
      mEntries.splice(mEntries.begin(), mEntries, it);
      return &mEntries.front().image;
    }
    const auto seen = std::find_if(mSeen.begin(), mSeen.end(), [&](const Key& k) { return !(k != key); });
    if (seen == mSeen.end()) {
      mSeen.push_front(key);
      if (mSeen.size() > kSeenKept) mSeen.pop_back();
      return nullptr;
    }
    mSeen.erase(seen);
    QImage scaled = image.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    scaled.setDevicePixelRatio(1);
    mBytes += scaled.sizeInBytes();
    mEntries.push_front({key, std::move(scaled)});
    while (mBytes > kBudget && mEntries.size() > 1) {
      mBytes -= mEntries.back().image.sizeInBytes();
      mEntries.pop_back();
    }
    return &mEntries.front().image;
  }

 private:
  static constexpr std::size_t kSeenKept = 512;
  struct Key {
    qint64 image;
    QSize pixels;
    bool operator!=(const Key& other) const { return image != other.image || pixels != other.pixels; }
  };
  struct Entry {
    Key key;
    QImage image;
  };
  std::list<Entry> mEntries;
  std::list<Key> mSeen;
  qsizetype mBytes = 0;
};

ResampledPictures& resampledPictures() {
  thread_local ResampledPictures pictures;
  return pictures;
}

// Draws `image` with its top left corner at the device point, one pixel per device pixel.
void blitAtDevicePoint(QPainter& painter, const QPointF& mapped, const QImage& image) {
  const QTransform device = painter.deviceTransform();
  const QPointF at(std::floor(mapped.x() + 0.5), std::floor(mapped.y() + 0.5));
  const QTransform world = painter.worldTransform();
  painter.setWorldTransform((world.inverted() * device).inverted());
  painter.drawImage(at, image);
  painter.setWorldTransform(world);
}

// The contents image is `contentsScale` pixels per point, whatever its own pixel ratio.
void drawContents(QPainter& painter, const QImage& image, double scale, const QRectF& bounds, ContentsGravity gravity) {
  const QSizeF natural(image.width() / scale, image.height() / scale);
  const QRectF target = placeContents(natural, bounds, gravity);
  const QTransform device = painter.deviceTransform();
  const bool axisAligned =
      device.type() <= QTransform::TxScale && device.m11() > 0 && std::abs(device.m11() - device.m22()) < 1e-9;
  // A picture drawn for bounds of a fractional pixel size is the next whole number of pixels
  // wide: it is shown at its own size too, never resampled by a fraction of a pixel.
  const double extraWidth = image.width() - target.width() * device.m11();
  const double extraHeight = image.height() - target.height() * device.m22();
  if (axisAligned && extraWidth > -1e-3 && extraWidth < 1 && extraHeight > -1e-3 && extraHeight < 1) {
    // One image pixel per device pixel: blit in device coordinates, no resampling. The corner
    // is snapped the same way for every image, so neighbouring tiles meet at any offset.
    const QPointF mapped = device.map(target.topLeft());
    const QPointF at(std::floor(mapped.x() + 0.5), std::floor(mapped.y() + 0.5));
    if (device.type() <= QTransform::TxTranslate) {
      painter.drawImage(target.topLeft() + (at - mapped), image);
      return;
    }
    blitAtDevicePoint(painter, mapped, image);
    return;
  }
  const QSize pixels(static_cast<int>(std::lround(target.width() * device.m11())),
                     static_cast<int>(std::lround(target.height() * device.m22())));
  if (axisAligned && !pixels.isEmpty() && pixels.width() <= ResampledPictures::kLargest &&
      pixels.height() <= ResampledPictures::kLargest && painter.paintEngine() &&
      painter.paintEngine()->type() == QPaintEngine::Raster) {
    if (const QImage* kept = resampledPictures().picture(image, pixels)) {
      blitAtDevicePoint(painter, device.map(target.topLeft()), *kept);
      return;
    }
  }
  painter.save();
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(target, image, QRectF(image.rect()));
  painter.restore();
}

// Only the tiles that meet what is shown are drawn (made when missing); those farther than
// one shown extent in any direction are dropped, so scrolling a little back costs nothing.
void drawTiles(QPainter& painter, Layer& layer, const QRectF& b, const Options& options) {
  const QTransform toDevice = painter.deviceTransform();
  if (!toDevice.isInvertible() || !options.deviceVisible) return;
  QRectF visible = toDevice.inverted().mapRect(*options.deviceVisible);
  if (painter.hasClipping()) visible &= painter.clipBoundingRect();
  visible &= b;
  layer.dropTilesOutside(visible.adjusted(-visible.width(), -visible.height(), visible.width(), visible.height()));
  if (visible.isEmpty()) return;
  const double side = Layer::kTileSide / layer.contentsScale();
  const int firstColumn = static_cast<int>(std::floor((visible.left() - b.left()) / side));
  const int lastColumn = static_cast<int>(std::ceil((visible.right() - b.left()) / side)) - 1;
  const int firstRow = static_cast<int>(std::floor((visible.top() - b.top()) / side));
  const int lastRow = static_cast<int>(std::ceil((visible.bottom() - b.top()) / side)) - 1;
  for (int row = firstRow; row <= lastRow; ++row)
    for (int column = firstColumn; column <= lastColumn; ++column)
      drawContents(painter, layer.tileImage(column, row), layer.contentsScale(), layer.tileRect(column, row),
                   ContentsGravity::Resize);
}

void renderBody(QPainter& painter, Layer& layer, const Layer::State& s, const Options& options) {
  const QRectF& b = s.bounds;
  if (s.shadowOpacity > 0) drawShadow(painter, layer, s);

  const bool clips = layer.masksToBounds() || layer.maskPath();
  if (clips) {
    QPainterPath clip;
    if (layer.masksToBounds()) {
      if (s.cornerRadius > 0)
        clip.addRoundedRect(b, s.cornerRadius, s.cornerRadius);
      else
        clip.addRect(b);
      if (layer.maskPath()) clip = clip.intersected(*layer.maskPath());
    } else {
      clip = *layer.maskPath();
    }
    painter.setClipPath(clip, Qt::IntersectClip);
  }

  if (s.backgroundColor.isValid() && s.backgroundColor.alpha() > 0) {
    if (s.cornerRadius > 0) {
      painter.setRenderHint(QPainter::Antialiasing);
      painter.setPen(Qt::NoPen);
      painter.setBrush(s.backgroundColor);
      painter.drawRoundedRect(b, s.cornerRadius, s.cornerRadius);
    } else {
      painter.fillRect(b, s.backgroundColor);
    }
  }

  const QImage& contents = layer.contents();
  if (layer.drawsEachComposition()) {
    painter.save();
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing);
    layer.drawInContext(painter);
    painter.restore();
  } else if (layer.isTiled())
    drawTiles(painter, layer, b, options);
  else if (!contents.isNull())
    drawContents(painter, contents, layer.contentsScale(), layer.drawnArea(b), layer.contentsGravity());

  const auto& subs = layer.sublayers();
  if (!subs.empty()) {
    const bool transformed = !s.sublayerTransform.isIdentity();
    if (transformed) {
      painter.save();
      painter.setTransform(s.sublayerTransform, true);
    }
    // A covered layer is passed over before anything else of it is read, and the sublayers
    // are looked at once: a crowded view may hold many, most of them covered.
    QVarLengthArray<std::pair<double, Layer*>, 32> order;
    bool zOrdered = false;
    for (const auto& sub : subs) {
      if (sub->isCovered()) continue;
      const double z = sub->zPosition();
      zOrdered = zOrdered || z != 0;
      order.append({z, sub.get()});
    }
    if (zOrdered)
      std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& c) { return a.first < c.first; });
    for (auto& [z, sub] : order) renderLayer(painter, *sub, options);
    if (transformed) painter.restore();
  }

  if (s.borderWidth > 0 && s.borderColor.isValid()) {
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(s.borderColor, s.borderWidth));
    painter.setBrush(Qt::NoBrush);
    const double inset = s.borderWidth / 2;
    const QRectF r = b.adjusted(inset, inset, -inset, -inset);
    if (s.cornerRadius > 0)
      painter.drawRoundedRect(r, std::max(0.0, s.cornerRadius - inset), std::max(0.0, s.cornerRadius - inset));
    else
      painter.drawRect(r);
  }
}

Options resolved(const Options& options, const QPainter& painter) {
  Options o = options;
  if (o.time <= 0) o.time = mediaTime();
  if (!o.deviceVisible) {
    // A widget measures itself in points, other devices (images, printers) in their pixels.
    const QPaintDevice* device = painter.device();
    const double ratio = device && device->devType() == QInternal::Widget ? device->devicePixelRatio() : 1.0;
    QRectF area = device ? QRectF(0, 0, device->width() * ratio, device->height() * ratio) : QRectF();
    if (painter.hasClipping()) area &= painter.deviceTransform().mapRect(painter.clipBoundingRect());
    o.deviceVisible = area;
  }
  return o;
}

}  // namespace

void renderLayer(QPainter& painter, Layer& layer, const Options& optionsIn) {
  const Options options = resolved(optionsIn, painter);
  const bool animated = options.presentation && layer.hasAnimations();
  const Layer::State s = animated ? layer.presentationAt(options.time) : layer.model();
  layer.markCommitted();
  if (s.hidden || s.opacity <= 0.0005) return;
  layer.displayIfNeededForComposition();
  painter.save();
  painter.setTransform(s.toSuperlayer(), true);
  if (s.opacity < 1) painter.setOpacity(painter.opacity() * s.opacity);
  renderBody(painter, layer, s, options);
  painter.restore();
}

void renderLayerContents(QPainter& painter, Layer& layer, const Options& optionsIn) {
  const Options options = resolved(optionsIn, painter);
  const bool animated = options.presentation && layer.hasAnimations();
  const Layer::State s = animated ? layer.presentationAt(options.time) : layer.model();
  layer.markCommitted();
  if (s.hidden) return;
  layer.displayIfNeededForComposition();
  painter.save();
  painter.translate(-s.bounds.topLeft());
  renderBody(painter, layer, s, options);
  painter.restore();
}

QImage renderToImage(Layer& layer, double scale, const Options& options) {
  const QRectF b = layer.bounds();
  const QSize pixels(static_cast<int>(std::ceil(b.width() * scale)), static_cast<int>(std::ceil(b.height() * scale)));
  if (pixels.isEmpty()) return {};
  QImage image = makeTransparentImage(pixels, scale);
  if (image.isNull()) return {};
  QPainter painter(&image);
  renderLayerContents(painter, layer, options);
  return image;
}

void displayTree(Layer& root) {
  if (root.isCovered()) return;
  root.displayIfNeeded();
  for (const auto& sub : root.sublayers()) displayTree(*sub);
}

}  // namespace platform::compositor
