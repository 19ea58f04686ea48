#pragma once
// Installs the home screen as the screen in which the program's windows show a cloud
// location's documents (the shell's home-screen hook, also reached by the editor's home
// button). Called once at start-up, on the main thread, after the editor's screens.

namespace orrery {

void installHomeScreens();

}  // namespace orrery
