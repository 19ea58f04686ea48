#pragma once
// A view showing one image, scaled and aligned like the platform's image view.

#include "platform/ui/view.h"

#include <QImage>
#include <QStringList>

namespace platform {

// The platform's values.
enum class ImageScaling { ProportionallyDown = 0, AxesIndependently = 1, None = 2, ProportionallyUpOrDown = 3 };
enum class ImageAlignment { Center = 0, Top = 1, TopLeft = 2, TopRight = 3, Left = 4, Bottom = 5,
                            BottomLeft = 6, BottomRight = 7, Right = 8 };

class ImageView : public View {
 public:
  ImageView() = default;
  explicit ImageView(const QRectF& frame) : View(frame) {}

  const QImage& image() const { return mImage; }
  // `pointSize` is the image's size in points (its pixel size over its device pixel ratio
  // when empty).
  void setImage(const QImage& image, const QSizeF& pointSize = {});
  QSizeF imageSize() const { return mImageSize; }
  void setImageSize(const QSizeF& size);

  ImageScaling imageScaling() const { return mScaling; }
  void setImageScaling(ImageScaling scaling);
  ImageAlignment imageAlignment() const { return mAlignment; }
  void setImageAlignment(ImageAlignment alignment);
  bool isEditable() const { return mEditable; }
  void setEditable(bool editable) { mEditable = editable; }
  const QStringList& registeredDraggedTypes() const { return mDraggedTypes; }
  void registerForDraggedTypes(const QStringList& types) { mDraggedTypes = types; }
  void unregisterDraggedTypes() { mDraggedTypes.clear(); }

  // Where the image lands in the bounds.
  QRectF imageRect() const;
  void drawRect(QPainter& painter, const QRectF& dirtyRect) override;

 private:
  QImage mImage;
  QSizeF mImageSize;
  ImageScaling mScaling = ImageScaling::ProportionallyDown;
  ImageAlignment mAlignment = ImageAlignment::Center;
  bool mEditable = false;
  QStringList mDraggedTypes;
};

}  // namespace platform
