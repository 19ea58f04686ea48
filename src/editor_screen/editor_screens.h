#pragma once
// Installs the radial editor as the screen in which the program's windows show documents
// (the shell's document-screen hook). Called once at start-up, on the main thread.

namespace orrery {

void installEditorScreens();

}  // namespace orrery
