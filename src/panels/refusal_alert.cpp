#include "panels/refusal_alert.h"

#include "foundation/globals.h"
#include "foundation/views/custom_alert_view.h"
#include "platform/core/dispatch.h"
#include "platform/ui/view.h"
#include "platform/ui/weak_ref.h"
#include "platform/ui/window.h"

#include <QMainWindow>
#include <QString>

namespace orrery {

namespace {
bool gRefusalPending = false;
}  // namespace

void tellRefusal(platform::View* from, const QString& message) {
  if (gRefusalPending) return;
  gRefusalPending = true;
  platform::WeakRef<platform::View> view(from);
  platform::mainQueue().async([view, message] {
    CustomAlertView alert(QString(), message);
    alert.addButton(Globals::normalLocalizedStringForKey(QStringLiteral("Choice.Close"), QStringLiteral("Close")),
                    CAVButton::kCancel, [] {});
    platform::View* shown = view.get();
    alert.showFromWindow(shown ? shown->window() : nullptr);
    gRefusalPending = false;
    // The alert took the keyboard: it goes back to the window the refusal came from, where the
    // user goes on (without a window manager nothing else gives it back).
    if (platform::View* back = view.get(); back && back->window() && back->window()->isVisible())
      back->window()->widget()->activateWindow();
  });
}

}  // namespace orrery
