#include "platform/ui/shaped_window.h"

#include "platform/ui/window.h"

#include <QBitmap>
#include <QByteArray>
#include <QGuiApplication>
#include <QImage>
#include <QMainWindow>
#include <QPainter>
#include <QPainterPath>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace platform {
namespace {

struct FreeReply {
  void operator()(void* reply) const { std::free(reply); }
};
template <typename Reply>
using ReplyPtr = std::unique_ptr<Reply, FreeReply>;

// The number of the X screen whose root holds the widget's window (0 where the server has one
// screen, or the window is not made yet).
int xScreenNumber(xcb_connection_t* connection, const QWidget* widget) {
  const xcb_setup_t* setup = xcb_get_setup(connection);
  if (xcb_setup_roots_length(setup) < 2 || !widget || !widget->window()->testAttribute(Qt::WA_WState_Created)) return 0;
  const auto window = xcb_window_t(widget->window()->winId());
  const ReplyPtr<xcb_get_geometry_reply_t> geometry(
      xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr));
  if (!geometry) return 0;
  int number = 0;
  for (auto it = xcb_setup_roots_iterator(setup); it.rem; xcb_screen_next(&it), ++number)
    if (it.data->root == geometry->root) return number;
  return 0;
}

}  // namespace

bool blendsTranslucentWindows(const QWidget* onScreenOf) {
  // Only windows on an X server are shown unblended (the offscreen platform answers for X too).
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return true;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
  if (!connection) return true;
  // A compositing manager owns the selection "_NET_WM_CM_S<screen number>" while it runs.
  const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(xScreenNumber(connection, onScreenOf));
  const ReplyPtr<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, /*only_if_exists=*/1, uint16_t(name.size()), name.constData()), nullptr));
  if (!atom || atom->atom == XCB_ATOM_NONE) return false;
  const ReplyPtr<xcb_get_selection_owner_reply_t> owner(
      xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr));
  return owner && owner->owner != XCB_NONE;
}

void prepareShapedWindow(Window& window, const QWidget* onScreenOf, const QColor& edgeColor) {
  // The visual is chosen when the native window is made: translucency is set before.
  const bool translucent = blendsTranslucentWindows(onScreenOf);
  window.widget()->setAttribute(Qt::WA_TranslucentBackground, translucent);
  window.setBackgroundColor(translucent ? QColor(Qt::transparent) : edgeColor);
}

void setWindowShape(Window& window, const QPainterPath& outline) {
  QMainWindow* widget = window.widget();
  QImage image(widget->size(), QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(Qt::black, 1.0));
  painter.setBrush(Qt::black);
  painter.drawPath(outline);
  painter.end();
  // Every pixel the outline touches, however little, is kept: the mask image paints the clear
  // pixels white, which a bitmap leaves out of a shape.
  widget->setMask(QBitmap::fromImage(image.createMaskFromColor(qRgba(0, 0, 0, 0), Qt::MaskInColor)));
}

}  // namespace platform
