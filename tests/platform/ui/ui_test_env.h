#pragma once
// What the view tests share: the virtual media clock and the main-queue loop driven by it,
// and the modal presenter that answers from a script (tests/support).

#include "platform/core/clock.h"
#include "platform/core/run_loop.h"
#include "support/scripted_presenter.h"

namespace uitest {

platform::VirtualClock& clock();
platform::RunLoop& loop();
// Runs what is due and moves the clock forward by `seconds`, firing timers in order.
void advance(double seconds);

// The scripted presenter lives with the other shared test pieces; the view tests name it here.
using testsupport::PresenterScope;
using testsupport::ScriptedPresenter;

}  // namespace uitest
