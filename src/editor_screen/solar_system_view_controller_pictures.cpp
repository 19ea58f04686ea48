// A picture idea's panel: the big picture over the window; a replaced picture goes to the idea
// as it is when the panel closes, and the document is saved.

#include "editor_screen/solar_system_view_controller.h"
#include "foundation/kit_image.h"
#include "foundation/views/presentation_transitions.h"
#include "model/idea_document.h"

namespace orrery {

void SolarSystemViewController::doEditImageIdea(const IdeaPtr& idea) {
  if (!idea || screenOccupied() || mPresentedPanel) return;
  auto panel = std::make_shared<PictureViewController>();
  panel->setImage(idea->bigImage().nsImage());
  panel->setDelegate(this);
  auto room = std::make_shared<IdeaEditRoom>(mDoc, idea);
  panel->setEditRoom(room);
  presentIdeaPanel(panel, idea->identifier(), room, [panel](Idea& target) {
    if (!panel->didChangeImage()) return false;
    target.replaceWithOriginalImage(KitImage(panel->image()));
    return true;
  });
}

void SolarSystemViewController::presentIdeaPanel(const std::shared_ptr<platform::ViewController>& panel,
                                                 const QString& identifier, const std::shared_ptr<IdeaEditRoom>& room,
                                                 std::function<bool(Idea&)> apply) {
  setUserInteractionEnabled(false);
  mPresentedPanel = panel;
  std::weak_ptr<SolarSystemViewController> weak = self();
  // What the panel showed: a value that differs from it at the close came from elsewhere.
  const IdeaPtr idea = mRootIdea ? mRootIdea->findIdeaInSubTreeWithIdentifier(identifier) : nullptr;
  const IdeaPtr shown = idea ? ideaValuesOf(*idea) : nullptr;
  const IdeaPlace place = idea ? placeOf(*idea) : IdeaPlace();
  mAfterPanelDismissal = [weak, identifier, shown, place, room, apply = std::move(apply)] {
    auto me = weak.lock();
    if (!me) return;
    me->setUserInteractionEnabled(true);
    // The tree may have been reloaded meanwhile: the change goes to the idea as it is now, or,
    // deleted elsewhere, to a new one where it stood, which asks for its own room.
    const IdeaPtr target = me->mRootIdea ? me->mRootIdea->findIdeaInSubTreeWithIdentifier(identifier) : nullptr;
    const IdeaPtr kept = shown ? shown->deepCopyWithNewIdentifiersNoExternalLinks() : nullptr;
    if (!target) {
      room->giveBack();
      if (kept && apply(*kept)) me->keepEditOfDeletedIdea(kept, place, identifier, *shown);
      return;
    }
    const IdeaPtr replaced = ideaValuesOf(*target);
    bool changed = false;
    if (!room->applyTo(*target, [&](Idea& idea) { changed = apply(idea); })) {
      if (kept && apply(*kept)) me->keepEditWithoutRoom(kept);
      return;
    }
    if (!changed) return;
    if (me->mDoc && shown) me->mDoc->noteReplacedOutsideValues(identifier, *shown, *replaced);
    me->updateSolarSystemAndSaveDocument();
  };
  presentViewController(panel, std::make_shared<SlideUpViewTransitionAnimation>());
}

void SolarSystemViewController::pleaseDismissPictureView(PictureViewController& panel) { dismissPresentedPanel(panel); }

}  // namespace orrery
