#pragma once
// A paint device that records what is drawn on it: every text run with its origin in device
// coordinates (y down), and every filled rectangle. For checking where a page writer put its
// texts without reading a PDF back.

#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QTextItem>

#include <memory>
#include <vector>

namespace exporttest {

struct DrawnText {
  QString text;
  QPointF origin;  // baseline start, device coordinates
};

class RecordingEngine : public QPaintEngine {
 public:
  RecordingEngine() : QPaintEngine(QPaintEngine::AllFeatures) {}
  bool begin(QPaintDevice*) override { return true; }
  bool end() override { return true; }
  void updateState(const QPaintEngineState&) override {}
  void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
  void drawTextItem(const QPointF& p, const QTextItem& item) override {
    texts.push_back({item.text(), painter()->combinedTransform().map(p)});
  }
  void drawRects(const QRectF* rects, int count) override {
    for (int i = 0; i < count; ++i) fills.push_back(painter()->combinedTransform().mapRect(rects[i]));
  }
  void drawPath(const QPainterPath&) override {}
  void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
  Type type() const override { return QPaintEngine::User; }

  std::vector<DrawnText> texts;
  std::vector<QRectF> fills;
};

class RecordingDevice : public QPaintDevice {
 public:
  RecordingDevice(int width, int height) : mWidth(width), mHeight(height) {}
  QPaintEngine* paintEngine() const override { return &mEngine; }
  RecordingEngine& engine() { return mEngine; }

 protected:
  int metric(PaintDeviceMetric m) const override {
    switch (m) {
      case PdmWidth: return mWidth;
      case PdmHeight: return mHeight;
      case PdmWidthMM: return mWidth * 254 / 720;
      case PdmHeightMM: return mHeight * 254 / 720;
      case PdmDpiX: case PdmDpiY: case PdmPhysicalDpiX: case PdmPhysicalDpiY: return 72;
      case PdmDevicePixelRatio: return 1;
      case PdmDevicePixelRatioScaled: return static_cast<int>(devicePixelRatioFScale());
      case PdmDepth: return 32;
      case PdmNumColors: return 0;
    }
    return 0;
  }

 private:
  int mWidth;
  int mHeight;
  mutable RecordingEngine mEngine;
};

}  // namespace exporttest
