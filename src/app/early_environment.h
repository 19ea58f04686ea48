#pragma once
// The environment as the program needs it before the application object reads it: Qt takes
// the XDG folders as they stand, so a relative value would put files under whatever folder the
// program was started in, and it warns on the terminal when the session has no runtime folder.

#include <QString>

namespace orrery {

// Drops relative XDG folder values (the base-directory rules say to ignore them) and names the
// program's own runtime folder when the session gives none of this user's own. Answers why the
// program cannot start here (a relative HOME, under which nothing could be found again), or
// empty.
QString prepareEnvironmentBeforeApplication();

}  // namespace orrery
