#pragma once
// The start offers the copies an earlier run kept of edits it could not save (when it was
// ended, or when a window had to close without asking): "Open" makes each copy a new document
// (the copy goes once that document is written), "Not Now" leaves them for the next start.
// Main thread only.

namespace orrery {

class AppDelegate;

// Asks only when there are copies; answers whether it asked.
bool offerRecoveryCopies(AppDelegate& app);

}  // namespace orrery
