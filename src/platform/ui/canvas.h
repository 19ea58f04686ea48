#pragma once
// The Qt side of a window: the top-level frame and the canvas widget that composes the
// layer tree and turns Qt input into Events. Private to the kit.

#include <QMainWindow>
#include <QPointF>
#include <QString>
#include <QWidget>

namespace platform {

class Window;
struct Event;

class WindowFrame final : public QMainWindow {
 public:
  explicit WindowFrame(Window* window);
  void detach() { mWindow = nullptr; }
  void closeForReal();

 protected:
  // Key equivalents typed into a hosted native control reach the main menu first, as keys
  // typed on the canvas do.
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  Window* mWindow;
  bool mAllowClose = false;
};

class WindowCanvas final : public QWidget {
 public:
  WindowCanvas(Window* window, QWidget* parent);
  void detach() { mWindow = nullptr; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dragLeaveEvent(QDragLeaveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool event(QEvent* event) override;
  bool focusNextPrevChild(bool next) override;

 private:
  void deliver(Event& event);
  bool forwardToFirstResponderWidget(QKeyEvent* event);
  Window* mWindow;
  double mLastPressTime = -1;
  QPointF mLastPressPos;
  int mLastPressButton = -1;
  // The title of the last frame noted for start-up measurements (see paintEvent).
  QString mNotedTitle;
  int mClickCount = 0;
  bool mForwardingKey = false;
};

}  // namespace platform
