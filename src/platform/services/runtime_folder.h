#pragma once
// The folder for this user's run-time files (the single-instance lock and socket): the XDG
// runtime folder when the session has one, else the private temporary folder. Never shared
// with other users. Main thread or any thread; nothing here is cached.

#include <QString>

namespace platform {

// Empty when neither folder can be had.
QString runtimeFolder();

}  // namespace platform
