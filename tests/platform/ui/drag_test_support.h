#pragma once
// Drags in tests: the window under a screen point is found among the program's visible
// windows by their canvas rectangles, and Qt's drag (the handed-over phase) is a recording
// runner that answers from a script. Restores the kit's defaults when it goes.

#include "platform/ui/application.h"
#include "platform/ui/dragging.h"
#include "platform/ui/window.h"

#include <QDrag>
#include <QMainWindow>
#include <QMimeData>
#include <QPixmap>

#include <functional>
#include <map>

namespace uitest {

struct HandedOverDrag {
  QStringList types;
  std::map<QString, QByteArray> data;  // read while the drag ran, as a receiver would
  QImage image;
  Qt::DropActions actions;
};

class DragSeams {
 public:
  // Runs while Qt's drag is "over" another program, before `readTypes` are read as a
  // receiver would; may run the main queue or send Qt drag events to our windows. Answers the
  // drop action.
  std::function<Qt::DropAction(QDrag&)> outside = [](QDrag&) { return Qt::IgnoreAction; };
  std::vector<HandedOverDrag> handedOver;
  // Types read from the drag's data while it runs (the receiver asking).
  QStringList readTypes;

  DragSeams() {
    platform::DraggingSession::setWindowLocator([](const QPointF& p) -> platform::Window* {
      for (platform::Window* w : platform::Application::shared().windows()) {
        if (!w->isVisible()) continue;
        const QRectF area(w->canvas()->mapToGlobal(QPointF(0, 0)), QSizeF(w->canvas()->size()));
        if (area.contains(p)) return w;
      }
      return nullptr;
    });
    platform::DraggingSession::setDragRunner([this](QDrag& drag, Qt::DropActions actions) {
      HandedOverDrag record;
      record.types = drag.mimeData()->formats();
      record.image = drag.pixmap().toImage();
      record.actions = actions;
      const Qt::DropAction answer = outside(drag);
      for (const QString& t : readTypes) record.data[t] = drag.mimeData()->data(t);
      handedOver.push_back(record);
      return answer;
    });
  }
  ~DragSeams() {
    platform::DraggingSession::setWindowLocator(nullptr);
    platform::DraggingSession::setDragRunner(nullptr);
  }
};

// A window placed at a screen position and shown.
inline void place(platform::Window& window, QPoint topLeft) {
  window.widget()->move(topLeft);
  window.makeKeyAndOrderFront();
}

// The window point in screen coordinates of another window's canvas.
inline QPointF pointIn(const platform::Window& from, const platform::Window& to, QPointF inTo) {
  return from.canvas()->mapFromGlobal(to.canvas()->mapToGlobal(inTo));
}

}  // namespace uitest
