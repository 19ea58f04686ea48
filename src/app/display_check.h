#pragma once
// Whether the platform Qt is about to use has its plugin and can reach its window system. Qt
// cannot start without them and aborts, which would look like a crash; the program checks first
// and ends saying why.

#include <QString>
#include <QStringList>

struct xcb_connection_t;

namespace orrery {

// Checks the platforms Qt would try (the -platform argument, else QT_QPA_PLATFORM, each of a ";"
// list in turn) on construction. An X11 display that answered stays connected until release():
// an X server whose last client leaves resets itself and turns new clients away meanwhile, Qt's
// among them.
class DisplayCheck {
 public:
  // `arguments` are the command line's, without the program's name.
  explicit DisplayCheck(const QStringList& arguments);
  ~DisplayCheck();
  DisplayCheck(const DisplayCheck&) = delete;
  DisplayCheck& operator=(const DisplayCheck&) = delete;

  // Why no platform can load or open its display, or empty when one can (the offscreen one
  // needs no display).
  const QString& whyNot() const { return mWhyNot; }
  // Drops the check's own connection; called once Qt holds its own.
  void release();

 private:
  QString whyNoX11Display(const QString& named);

  xcb_connection_t* mConnection = nullptr;  // owned; null once released
  QString mWhyNot;
};

}  // namespace orrery
