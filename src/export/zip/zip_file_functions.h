#pragma once
// File functions for minizip that spare it a system call per small step.
//
// Writing: bytes collect in memory and go to the file in large blocks; minizip's step back to
// complete an entry's header patches the block still in memory, or writes in place when that
// part has already gone out, so nothing is flushed to move the position. Reading: the whole
// archive is read once and served from memory (only for archives the program bundles).

#include <minizip/ioapi.h>

namespace orrery {

zlib_filefunc64_def bufferedWriteFileFunctions();
zlib_filefunc64_def inMemoryReadFileFunctions();

}  // namespace orrery
