#pragma once
// A retained layer: geometry, appearance, a cached contents image redrawn only when marked,
// ordered sublayers and running animations. Coordinates are top-left (y grows downwards).
// Main thread only.

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "platform/ui/anim_value.h"
#include "platform/ui/weak_ref.h"

class QPainter;

namespace platform {

class Animation;
class CompletionGroup;
class Layer;

// How a layer places its contents image inside its bounds.
enum class ContentsGravity {
  Resize,
  ResizeAspect,
  ResizeAspectFill,
  Center,
  Top,
  Bottom,
  Left,
  Right,
  TopLeft,
  TopRight,
  BottomLeft,
  BottomRight
};

// A delegate's answer when a layer asks what to do about a property change: go on with
// the layer's default action, no action at all, or this animation.
struct LayerAction {
  enum class Kind { Continue, None, Animate };
  Kind kind = Kind::Continue;
  std::shared_ptr<Animation> animation;

  static LayerAction continueSearch() { return {}; }
  static LayerAction none() { return {Kind::None, nullptr}; }
  static LayerAction animate(std::shared_ptr<Animation> a) { return {Kind::Animate, std::move(a)}; }
};

class LayerDelegate : public virtual Trackable {
 public:
  virtual LayerAction actionForLayer(Layer& layer, const QString& key) {
    (void)layer;
    (void)key;
    return LayerAction::continueSearch();
  }
  // Capability query: whether drawLayer paints the layer's contents.
  virtual bool drawsLayer(const Layer& layer) const {
    (void)layer;
    return false;
  }
  // Paints into a painter set up in the layer's own coordinates.
  virtual void drawLayer(Layer& layer, QPainter& painter) {
    (void)layer;
    (void)painter;
  }
  // Whether the last drawLayer may have painted nothing; the layer then drops a fully
  // transparent image instead of keeping it, and reports the outcome.
  virtual bool drawingMayBeBlank(const Layer& layer) const {
    (void)layer;
    return false;
  }
  virtual void drawingWasBlank(const Layer& layer, bool blank) {
    (void)layer;
    (void)blank;
  }
};

// What composes a root layer: a window's canvas.
class LayerHost {
 public:
  virtual ~LayerHost() = default;
  virtual void layerTreeNeedsDisplay() = 0;
};

// A transform that is most often the identity, kept out of line: the identity costs a null
// pointer where a QTransform takes 80 bytes, and copies (presentation states) share the value.
class SparseTransform {
 public:
  SparseTransform() = default;
  SparseTransform(const QTransform& transform) { *this = transform; }  // NOLINT: stands for a QTransform
  SparseTransform& operator=(const QTransform& transform);
  const QTransform& value() const { return mValue ? *mValue : identity(); }
  operator const QTransform&() const { return value(); }  // NOLINT: reads as the QTransform it keeps
  bool isIdentity() const { return !mValue || mValue->isIdentity(); }

 private:
  static const QTransform& identity();
  std::shared_ptr<const QTransform> mValue;  // none: exactly the identity
};

class Layer : public std::enable_shared_from_this<Layer>, public virtual Trackable {
 public:
  // The animatable and drawn properties: the model, or a presentation at some time.
  struct State {
    QRectF bounds;
    QPointF position;
    QPointF anchorPoint{0.5, 0.5};
    SparseTransform transform;
    SparseTransform sublayerTransform;
    double zPosition = 0;
    double opacity = 1;
    bool hidden = false;
    QColor backgroundColor;  // invalid: none
    double cornerRadius = 0;
    double borderWidth = 0;
    QColor borderColor{Qt::black};
    double shadowOpacity = 0;

    QRectF frame() const;
    // Maps this layer's coordinates into its superlayer's.
    QTransform toSuperlayer() const;
  };

  Layer();
  ~Layer() override;
  Layer(const Layer&) = delete;
  Layer& operator=(const Layer&) = delete;

  static std::shared_ptr<Layer> layer() { return std::make_shared<Layer>(); }

  // Geometry.
  QRectF bounds() const { return mModel.bounds; }
  void setBounds(const QRectF& bounds);
  QPointF position() const { return mModel.position; }
  void setPosition(const QPointF& position);
  QPointF anchorPoint() const { return mModel.anchorPoint; }
  void setAnchorPoint(const QPointF& anchor);
  // Setting sets the bounds size and the position; with a transform the bounding box of
  // the transformed bounds is read back.
  QRectF frame() const { return mModel.frame(); }
  void setFrame(const QRectF& frame);
  QTransform transform() const { return mModel.transform.value(); }
  void setTransform(const QTransform& transform);
  // Applied to the sublayers (not the contents), mapping their coordinates into this layer's.
  QTransform sublayerTransform() const { return mModel.sublayerTransform.value(); }
  void setSublayerTransform(const QTransform& transform);
  double zPosition() const { return mModel.zPosition; }
  void setZPosition(double z);

  // Appearance.
  double opacity() const { return mModel.opacity; }
  void setOpacity(double opacity);
  bool isHidden() const { return mModel.hidden; }
  void setHidden(bool hidden);
  QColor backgroundColor() const { return mModel.backgroundColor; }
  void setBackgroundColor(const QColor& color);
  double cornerRadius() const { return mModel.cornerRadius; }
  void setCornerRadius(double radius);
  double borderWidth() const { return mModel.borderWidth; }
  void setBorderWidth(double width);
  QColor borderColor() const { return mModel.borderColor; }
  void setBorderColor(const QColor& color);
  double shadowOpacity() const { return mModel.shadowOpacity; }
  void setShadowOpacity(double opacity);
  QColor shadowColor() const { return mExtras ? mExtras->shadowColor : QColor(Qt::black); }
  void setShadowColor(const QColor& color);
  double shadowRadius() const { return mExtras ? mExtras->shadowRadius : 3; }
  void setShadowRadius(double radius);
  QPointF shadowOffset() const { return mExtras ? mExtras->shadowOffset : QPointF(0, 3); }
  void setShadowOffset(const QPointF& offset);
  const std::optional<QPainterPath>& shadowPath() const;
  void setShadowPath(std::optional<QPainterPath> path);
  bool masksToBounds() const { return mMasksToBounds; }
  void setMasksToBounds(bool masks);
  // Only what lies inside the path (layer coordinates) is drawn, sublayers included.
  const std::optional<QPainterPath>& maskPath() const;
  void setMaskPath(std::optional<QPainterPath> path);
  bool isOpaque() const { return mOpaque; }
  void setOpaque(bool opaque) { mOpaque = opaque; }

  // Contents: an image of contentsScale pixels per point (its own pixel ratio is not used).
  const QImage& contents() const { return mContents; }
  void setContents(const QImage& image);
  double contentsScale() const { return mContentsScale; }
  void setContentsScale(double scale);
  ContentsGravity contentsGravity() const { return mGravity; }
  void setContentsGravity(ContentsGravity gravity);
  void setNeedsDisplay();
  bool needsDisplay() const { return mNeedsDisplay; }
  bool needsDisplayOnBoundsChange() const { return mNeedsDisplayOnBoundsChange; }
  void setNeedsDisplayOnBoundsChange(bool v) { mNeedsDisplayOnBoundsChange = v; }
  void displayIfNeeded();
  // displayIfNeeded for a composition about to draw the layer: the new picture asks for no
  // composition after this one, so a frame that shows a layer anew is composed once.
  void displayIfNeededForComposition();
  // Redraws the contents image through drawInContext.
  virtual void display();
  // Paints the contents; the painter is in the layer's coordinates. The base asks the
  // delegate when it draws.
  virtual void drawInContext(QPainter& painter);
  // Whether display has anything to paint (a subclass that draws answers true).
  virtual bool drawsContent() const;
  // The part of `bounds` the drawing can touch: the contents image covers only it, so a
  // layer that draws little in large bounds keeps (and composes) a small picture.
  virtual QRectF drawnArea(const QRectF& bounds) const { return bounds; }
  // Whether drawInContext paints straight into every composition instead of into a kept
  // picture: a thin stroke across a large area costs less to stroke than its picture costs
  // to blend, and a change of its geometry then redraws nothing.
  virtual bool drawsEachComposition() const { return false; }
  // How many times the contents were drawn (diagnostics and benchmarks).
  int displayCount() const { return mDisplayCount; }

  // Known to lie wholly under what is drawn above it: compositions leave it and its sublayers
  // out, and it keeps no picture until it shows again. Its owner decides; hit tests, the model
  // and the presentation are not affected.
  bool isCovered() const { return mCovered; }
  void setCovered(bool covered);

  // Tall contents. A contents image may not pass kMaxBackingSide pixels on a side; a layer that
  // would need more keeps kTileSide-pixel tiles of its contents instead, each drawn when a
  // composition first shows it and dropped once it lies far from what is shown.
  static constexpr int kMaxBackingSide = 16384;
  static constexpr int kTileSide = 512;
  bool isTiled() const { return mTiled; }
  int tileCount() const { return mExtras ? static_cast<int>(mExtras->tiles.size()) : 0; }
  // How many tiles were drawn since the contents were last marked (diagnostics and tests).
  int tileDrawCount() const { return mExtras ? mExtras->tileDrawCount : 0; }
  // The tile (column, row) in the layer's coordinates, and its image, drawn when missing.
  QRectF tileRect(int column, int row) const;
  const QImage& tileImage(int column, int row);
  // Tiles that do not meet `keep` (layer coordinates) are dropped.
  void dropTilesOutside(const QRectF& keep);

  // Tree.
  Layer* superlayer() const { return mSuperlayer; }
  const std::vector<std::shared_ptr<Layer>>& sublayers() const { return mSublayers; }
  void addSublayer(std::shared_ptr<Layer> layer);
  // Room for `count` more sublayers, for a caller about to add many in a row.
  void reserveSublayers(std::size_t count) { mSublayers.reserve(mSublayers.size() + count); }
  void insertSublayer(std::shared_ptr<Layer> layer, size_t index);
  void insertSublayerBelow(std::shared_ptr<Layer> layer, const Layer* sibling);
  void insertSublayerAbove(std::shared_ptr<Layer> layer, const Layer* sibling);
  void removeFromSuperlayer();
  // Puts the sublayers into the order given, in one pass; `order` holds exactly the current
  // sublayers, or nothing changes.
  void reorderSublayers(std::vector<std::shared_ptr<Layer>> order);
  // Turns the sublayers from `from` on so that the one at `middle` comes first among them: a
  // cyclic order shifted without a look at any layer.
  void rotateSublayers(std::size_t from, std::size_t middle);
  bool isDescendantOf(const Layer* ancestor) const;
  Layer* rootLayer();

  LayerDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(LayerDelegate* delegate) { mDelegate.reset(delegate); }

  // Actions and animations.
  virtual LayerAction actionForKey(const QString& key);
  static LayerAction defaultActionForKey(const QString& key);
  // Replaces a running animation of the same (non-empty) key.
  void addAnimation(const std::shared_ptr<Animation>& animation, const QString& key = {});
  void removeAnimation(const QString& key);
  void removeAllAnimations();
  std::shared_ptr<const Animation> animationForKey(const QString& key) const;
  QStringList animationKeys() const;
  bool hasAnimations() const { return !mAnimations.empty(); }
  // Retires animations that ended by `time`; true while some still run.
  bool advanceAnimations(double time);

  // The model values, and what is on screen at a media time (now by default).
  const State& model() const { return mModel; }
  State presentation() const;
  State presentationAt(double time) const;

  // Conversions between layers of one tree (model geometry).
  QTransform transformToAncestor(const Layer* ancestor, bool usePresentation = false) const;
  QPointF convertPointToLayer(const QPointF& point, const Layer* target) const;
  // The deepest visible layer containing a point given in the superlayer's coordinates.
  Layer* hitTest(const QPointF& pointInSuperlayer);

  // Where the tree is shown.
  void setHost(LayerHost* host) { mHost = host; }
  LayerHost* host() const;
  void setNeedsComposite();

  // Made layers animate implicitly only once committed (the first flush or composition).
  bool isCommitted() const;
  void markCommitted() { mCommitted = true; }

  // Shadow image cache used by the compositor.
  struct ShadowCache {
    QImage image;
    QRectF rect;
    QString key;
    QPainterPath shape;  // the outline the image was blurred from
  };
  ShadowCache& shadowCache() const { return extras().shadowCache; }

 protected:
  // A contents image sized for the current bounds and scale, transparent.
  QImage makeBackingImage() const;
  // For a display() that finds its picture still current: clears the mark without drawing.
  void keepContents() { mNeedsDisplay = false; }

 private:
  struct Running {
    QString key;
    std::shared_ptr<Animation> animation;
    LayerProperty property;
    std::vector<std::shared_ptr<CompletionGroup>> groups;
    bool done = false;
  };

  void changeProperty(LayerProperty property, AnimValue value);
  AnimValue modelValue(LayerProperty property) const;
  static void applyValue(State& state, LayerProperty property, const AnimValue& value);
  AnimValue presentationValue(LayerProperty property, double time) const;
  void stopAnimation(Running& running, bool finished);
  void adopt(const std::shared_ptr<Layer>& layer);

  // What few layers use, made when first set or drawn: the shadow's look and its drawn picture,
  // the mask and the tiles of tall contents. Most layers (the planets of a crowded orbit) never
  // have any of it, and a layer stays smaller without it.
  struct Extras {
    QColor shadowColor{Qt::black};
    double shadowRadius = 3;
    QPointF shadowOffset{0, 3};
    std::optional<QPainterPath> shadowPath;
    ShadowCache shadowCache;
    std::optional<QPainterPath> maskPath;
    std::map<std::pair<int, int>, QImage> tiles;  // (column, row) → image at contentsScale
    int tileDrawCount = 0;
  };
  Extras& extras() const;
  // Drops the tiles without making the extras of a layer that has none.
  void dropTiles();

  // What the passes over every layer of a crowded view (its layout, its composition) read of
  // each besides its geometry, kept together ahead of the rest.
  Layer* mSuperlayer = nullptr;
  LayerHost* mHost = nullptr;
  std::uint64_t mMadeAtFlush;  // the flushes done when the layer was made
  double mContentsScale = 1;
  bool mCommitted = false;
  bool mCovered = false;
  bool mNeedsDisplay = false;

  State mModel;
  mutable std::unique_ptr<Extras> mExtras;
  bool mMasksToBounds = false;
  bool mOpaque = false;
  bool mTiled = false;
  bool mNeedsDisplayOnBoundsChange = false;
  ContentsGravity mGravity = ContentsGravity::Resize;
  int mDisplayCount = 0;

  QImage mContents;

  std::vector<std::shared_ptr<Layer>> mSublayers;
  WeakRef<LayerDelegate> mDelegate;

  std::vector<Running> mAnimations;
};

}  // namespace platform
