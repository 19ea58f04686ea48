#include "platform/ui/clipboard_text.h"

#include "platform/services/utf8_text.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace platform {

void offerExactTextOnTheClipboard() {
  static bool installed = false;
  if (installed || !qGuiApp) return;
  installed = true;
  QClipboard* clipboard = QGuiApplication::clipboard();
  // Told at once, inside the copy, before any other program can ask for the data.
  QObject::connect(clipboard, &QClipboard::changed, clipboard, [clipboard](QClipboard::Mode mode) {
    const bool ours = mode == QClipboard::Clipboard   ? clipboard->ownsClipboard()
                      : mode == QClipboard::Selection ? clipboard->ownsSelection()
                                                      : false;
    // Another program's data is only read, never changed.
    if (!ours) return;
    if (auto* data = const_cast<QMimeData*>(clipboard->mimeData(mode))) offerExactUtf8Text(*data);
  });
}

}  // namespace platform
