// Export…: the share sheet over the editor, opened for the document's root idea.

#include "editor_screen/solar_system_view_controller.h"
#include "foundation/views/presentation_transitions.h"
#include "model/idea_document.h"
#include "platform/ui/window.h"

namespace orrery {

namespace {
constexpr char kSharing[] = "Sharing";
constexpr char kExportAction[] = "cmdExport";
}  // namespace

void SolarSystemViewController::registerExportCommands() {
  setActionHandler(QString::fromLatin1(kExportAction), [this](const platform::ActionSender&) { cmdExport(); });
}

void SolarSystemViewController::cmdExport() { launchExportForType(0); }

void SolarSystemViewController::launchExportForType(ShareType type) {
  if (screenOccupied() || mPresentedPanel || !mDoc || !mRootIdea) return;
  auto sheet = std::make_shared<SharingViewController>(mRootIdea, mDoc->dateModified());
  sheet->selectShareType(type);
  sheet->setDelegate(this);
  occupyScreen(QString::fromLatin1(kSharing));
  mPresentedPanel = sheet;
  std::weak_ptr<SolarSystemViewController> weak = self();
  mAfterPanelDismissal = [weak] {
    if (auto me = weak.lock()) me->liberateScreen(QString::fromLatin1(kSharing));
  };
  presentViewController(sheet, std::make_shared<PartialViewTransitionAnimation>());
}

void SolarSystemViewController::pleaseDismissSharingView(SharingViewController& sheet) { dismissPresentedPanel(sheet); }

void SolarSystemViewController::dismissPresentedPanel(platform::ViewController& asking) {
  // Only what this editor presented, and only once.
  if (mPresentedPanel.get() != &asking) return;
  auto presented = std::move(mPresentedPanel);
  mPresentedPanel = nullptr;
  dismissViewController(presented);
  auto block = std::move(mAfterPanelDismissal);
  mAfterPanelDismissal = nullptr;
  if (block) block();
  if (platform::Window* window = myWindow(); window && mSolarSystem) window->makeFirstResponder(mSolarSystem.get());
}

}  // namespace orrery
