// A picture idea's panel: the big picture over the window; a replaced picture goes to the idea
// as it is when the panel closes, and the document is saved.

#include "editor_screen/solar_system_view_controller.h"
#include "foundation/kit_image.h"
#include "foundation/views/presentation_transitions.h"

namespace orrery {

void SolarSystemViewController::doEditImageIdea(const IdeaPtr& idea) {
  if (!idea || screenOccupied() || mPresentedPanel) return;
  auto panel = std::make_shared<PictureViewController>();
  panel->setImage(idea->bigImage().nsImage());
  panel->setDelegate(this);
  presentIdeaPanel(panel, idea->identifier(), [panel](const IdeaPtr& target) {
    if (!panel->didChangeImage()) return false;
    target->replaceWithOriginalImage(KitImage(panel->image()));
    return true;
  });
}

void SolarSystemViewController::presentIdeaPanel(const std::shared_ptr<platform::ViewController>& panel,
                                                 const QString& identifier,
                                                 std::function<bool(const IdeaPtr&)> apply) {
  setUserInteractionEnabled(false);
  mPresentedPanel = panel;
  std::weak_ptr<SolarSystemViewController> weak = self();
  mAfterPanelDismissal = [weak, identifier, apply = std::move(apply)] {
    auto me = weak.lock();
    if (!me) return;
    me->setUserInteractionEnabled(true);
    // The tree may have been reloaded meanwhile: the change goes to the idea as it is now.
    const IdeaPtr target = me->mRootIdea ? me->mRootIdea->findIdeaInSubTreeWithIdentifier(identifier) : nullptr;
    if (target && apply(target)) me->updateSolarSystemAndSaveDocument();
  };
  presentViewController(panel, std::make_shared<SlideUpViewTransitionAnimation>());
}

void SolarSystemViewController::pleaseDismissPictureView(PictureViewController& panel) { dismissPresentedPanel(panel); }

}  // namespace orrery
