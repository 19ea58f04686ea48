#include "cloud/cloud_engines.h"

#include "cloud/cloud_mode.h"
#include "cloud_container_fixture.h"
#include "foundation/globals.h"
#include "model/persistence_controller.h"
#include "model/support/virtual_main_queue.h"

#include <gtest/gtest.h>

using namespace orrery;

TEST(CloudEnginesTest, ChoosingICloudBringsUpItsWorkspaceOverTheContainer) {
  orrery::testing::VirtualMainQueue main;
  testsupport::CloudContainerFixture container;
  container.addDocuments(2);
  EXPECT_TRUE(std::dynamic_pointer_cast<CloudMode>(cloudEngineForLocation(DocumentLocationICloud)));
  EXPECT_FALSE(cloudEngineForLocation(DocumentLocationLocalFile));

  auto& facade = PersistenceController::singleton();
  Globals::optForICloud(true);
  installCloudEngines();
  main.runPending();
  ASSERT_TRUE(facade.workspaceForLocation(DocumentLocationICloud));
  EXPECT_TRUE(main.runUntil([&] { return facade.statusForLocation(DocumentLocationICloud) == WorkspaceStatusReady; }));
  EXPECT_TRUE(facade.findProxy("iCloud:/doc00001.orrx"));

  // Withdrawing the choice closes it; the facade is left as it was found.
  Globals::optForICloud(false);
  main.runPending();
  EXPECT_FALSE(facade.workspaceForLocation(DocumentLocationICloud));
  facade.setWorkspaceFactory(nullptr);
}
