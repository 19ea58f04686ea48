// A picture idea's panel: the big picture over the window; a replaced picture goes to the idea
// as it is when the panel closes, and the document is saved.

#include "editor/controller/solar_system_view_controller.h"
#include "foundation/kit_image.h"
#include "foundation/views/presentation_transitions.h"

namespace orrery {

void SolarSystemViewController::doEditImageIdea(const IdeaPtr& idea) {
  if (!idea || screenOccupied() || mPresentedPanel) return;
  auto panel = std::make_shared<PictureViewController>();
  panel->setImage(idea->bigImage().nsImage());
  panel->setDelegate(this);
  setUserInteractionEnabled(false);
  mPresentedPanel = panel;
  std::weak_ptr<SolarSystemViewController> weak = self();
  const QString identifier = idea->identifier();
  mAfterPanelDismissal = [weak, panel, identifier] {
    auto me = weak.lock();
    if (!me) return;
    me->setUserInteractionEnabled(true);
    if (!panel->didChangeImage()) return;
    // The tree may have been reloaded meanwhile: the picture goes to the idea as it is now.
    const IdeaPtr target = me->mRootIdea ? me->mRootIdea->findIdeaInSubTreeWithIdentifier(identifier) : nullptr;
    if (!target) return;
    target->replaceWithOriginalImage(KitImage(panel->image()));
    me->updateSolarSystemAndSaveDocument();
  };
  presentViewController(panel, std::make_shared<SlideUpViewTransitionAnimation>());
}

void SolarSystemViewController::pleaseDismissPictureView(PictureViewController& panel) { dismissPresentedPanel(panel); }

}  // namespace orrery
