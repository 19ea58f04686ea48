#include "editor_screen/editor_screens.h"

#include "editor_screen/solar_system_view_controller.h"
#include "panels/note_display_view_controller.h"
#include "shell/screen_factory.h"

namespace orrery {

void installEditorScreens() {
  // The other screens keep their parts of the factory.
  ScreenFactory factory = screenFactory();
  factory.makeEditor = [](const std::shared_ptr<IdeaDocument>& doc, DocumentToken token, const QString& ideaIdentifier) {
    return std::static_pointer_cast<BaseViewController>(SolarSystemViewController::create(doc, token, ideaIdentifier));
  };
  factory.makeEditorForRestoration = [] {
    return std::static_pointer_cast<BaseViewController>(SolarSystemViewController::createForRestoration());
  };
  factory.onEditIdea = [](BaseViewController& editor, const QString& ideaIdentifier) {
    if (auto* solar = dynamic_cast<SolarSystemViewController*>(&editor)) solar->onEditIdea(ideaIdentifier);
  };
  factory.askBeforeLeavingLocation = [](BaseViewController& screen, DocumentLocation location,
                                        std::function<void(bool mayGo)> answer) {
    if (auto* solar = dynamic_cast<SolarSystemViewController*>(&screen))
      return solar->askBeforeLeavingLocation(location, std::move(answer));
    answer(true);
  };
  setScreenFactory(std::move(factory));
  NoteDisplayViewController::installAsNoteDisplay();
}

}  // namespace orrery
