#pragma once
// A workspace over an in-memory engine, reporting to a recorder, on a virtual main queue.

#include "model/workspace.h"

#include "memory_persistence_state.h"
#include "recording_workspace_delegate.h"
#include "virtual_main_queue.h"

#include <memory>

namespace orrery::testing {

struct MemoryWorkspace {
  VirtualMainQueue main;
  RecordingWorkspaceDelegate delegate;
  std::shared_ptr<MemoryPersistenceState> engine = std::make_shared<MemoryPersistenceState>();
  std::shared_ptr<Workspace> workspace = Workspace::create(engine, &delegate);
};

}  // namespace orrery::testing
