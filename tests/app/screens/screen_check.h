#pragma once
// Checks a shown window the way a user would look at it, and keeps its picture: every view
// that is drawn lies inside the window, no text reads as a localisation key, every
// control (buttons, pictures) has pixels, and a translucent window is shaped to what it draws.

#include "platform/ui/view.h"
#include "platform/ui/window.h"

#include <QImage>
#include <QString>
#include <QStringList>

namespace screencheck {

struct Findings {
  QStringList outside;    // views drawn past the window's edge
  QStringList keys;       // texts that are localisation keys
  QStringList invisible;  // controls without a pixel
  QStringList black;      // clear pixels a server without compositing shows black
  QStringList texts;      // every text found, for the reader of a failure
  bool clean() const { return outside.isEmpty() && keys.isEmpty() && invisible.isEmpty() && black.isEmpty(); }
  QString report() const;
};

// Whether a text reads as a key of the localisation table rather than as words.
bool looksLikeKey(const QString& text);

// Draws the window, keeps the picture as `<name>.png` in the screenshot folder and checks it.
Findings checkWindow(platform::Window& window, const QString& name);
// Checks the texts a menu would show (its titles and those of its submenus).
void checkTexts(const QStringList& texts, const QString& where, Findings& findings);

// Where the pictures are kept: screenshots/ in the build folder.
QString screenshotFolder();
void keepPicture(const QImage& image, const QString& name);

}  // namespace screencheck
