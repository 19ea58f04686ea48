#pragma once
// The alert an edit panel shows when it refuses what the user typed, pasted or chose (a text
// longer than a map holds, a change the map has no room for). Main thread only.

class QString;

namespace platform {
class View;
}

namespace orrery {

// Shown on a later turn, not from inside the key, the paste or the click being handled, over
// the window `from` is in; refusals told while one waits (keys held at the limit) add no second.
void tellRefusal(platform::View* from, const QString& message);

}  // namespace orrery
