#pragma once
// The Dropbox engine reads its status, mirror and index files by the platform's regular-file
// rule (platform/services/qt_regular_file.h): a FIFO or a device in a file's place is refused at
// once instead of holding the queue that reads it, and every quit that drains that queue.

#include "platform/services/qt_regular_file.h"

namespace orrery {

using platform::isRegularFile;
using platform::readRegularFile;
using platform::RegularFileRead;

}  // namespace orrery
