// The web-link panel: a URL idea's confirmed address and page picture are stored when the panel
// closes; a new link lands in the window's dock.

#include "editor_screen/solar_system_view_controller.h"
#include "foundation/kit_image.h"
#include "platform/core/dispatch.h"
#include "foundation/views/presentation_transitions.h"
#include "shell/my_window.h"

namespace orrery {

namespace {

constexpr char kWebLinkAddition[] = "WebLinkAddition";

}  // namespace

void SolarSystemViewController::doEditURLIdea(const IdeaPtr& idea) {
  if (!idea || screenOccupied() || mPresentedPanel) return;
  auto panel = HTMLPageViewController::createShowingPages(this, idea->URL());
  if (!panel) return;
  auto room = std::make_shared<IdeaEditRoom>(mDoc, idea);
  panel->setEditRoom(room);
  presentIdeaPanel(panel, idea->identifier(), room, [panel](Idea& target) { return panel->storeResultInto(target); });
}

void SolarSystemViewController::pleaseStartWebLinkAddition() {
  if (screenOccupied() || mPresentedPanel) return;
  auto panel = HTMLPageViewController::createShowingPages(this, QString());
  if (!panel) return;
  occupyScreen(QString::fromLatin1(kWebLinkAddition));
  mPresentedPanel = panel;
  std::weak_ptr<SolarSystemViewController> weak = self();
  mAfterPanelDismissal = [weak, panel] {
    auto me = weak.lock();
    if (!me) return;
    me->liberateScreen(QString::fromLatin1(kWebLinkAddition));
    if (panel->resultURL().isNull()) return;
    if (DragSupportWindow* window = me->dragWindow())
      window->setDockedIdea(Idea::createWithURL(panel->resultURL(), KitImage(panel->resultPageImage())), QString());
    me->updateStatusDueToPossibleDockingUpdate();
  };
  presentViewController(panel, std::make_shared<SlideUpViewTransitionAnimation>());
}

void SolarSystemViewController::pleaseDismissHTMLPageView(HTMLPageViewController& panel) {
  // The request may come from a key the panel's field or page is handling: the panel and its
  // widgets go on a later turn.
  if (mPresentedPanel.get() == &panel) platform::mainQueue().async([keep = mPresentedPanel] {});
  dismissPresentedPanel(panel);
}

}  // namespace orrery
