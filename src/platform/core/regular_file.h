#pragma once
// The one rule for reading a file someone else may have put in place: the path is opened in a
// way that never waits, and read only when it holds a regular file. A FIFO, a device or a
// socket where a file belongs is refused at once, instead of holding the thread that reads it
// (the start on the main thread, or a queue and every quit that drains it) for good. Links are
// followed. Any thread; nothing is logged here: the caller says what it refused, with the
// reason given. The crash reporter's record reader keeps a copy of the rule of its own, which
// refuses links too.
//
// Its counterpart for a file written in place (a lock, a counter, a log, a marker, an export's
// file): never through a link, and only when a regular file of its own is there or is made.

#include <cstdint>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/types.h>

namespace platform {

enum class RegularFileRead {
  Read,     // read, or opened
  Missing,  // nothing at the path
  Refused,  // not a regular file, or larger than allowed
  Failed,   // the system refused the open or the read
};

// The most read whole of a file installed with the program (its text tables, catalogues,
// property lists and pages), far above any it installs.
constexpr int64_t kMaxInstalledFileBytes = int64_t(16) << 20;

// A descriptor reading the regular file at `path` when it holds at most `maxBytes` (negative:
// any size), blocking again once open and closed on exec; the caller closes it. Else -1, with
// the answer in `answer` and the reason in `why` when given.
int openRegularFile(const std::string& path, int64_t maxBytes, RegularFileRead* answer = nullptr,
                    std::string* why = nullptr);

// The bytes of the regular file at `path` when it holds at most `maxBytes` (negative: any
// size); `why`, when given, gets the reason of any other answer. Memory running out fails the
// read (Failed), never the program.
RegularFileRead readRegularFile(const std::string& path, int64_t maxBytes, std::string* bytes,
                                std::string* why = nullptr);
RegularFileRead readRegularFile(const std::string& path, int64_t maxBytes, std::vector<uint8_t>* bytes,
                                std::string* why = nullptr);

// Where a whole file's bytes go: told its size as it was opened, then handed its bytes piece by
// piece.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual void reserve(int64_t size) = 0;
  virtual void append(const char* bytes, size_t count) = 0;
};
// The bytes of the regular file at `path`, as above, handed to `sink`; on any answer but Read
// the sink may hold a part of them. A relative `path` is taken from the folder `folder` is
// open on (AT_FDCWD: the working folder), which spares walking a long path for each of many
// files of one folder.
RegularFileRead readRegularFile(const std::string& path, int64_t maxBytes, ByteSink& sink, std::string* why = nullptr,
                                int folder = AT_FDCWD);

// A descriptor writing the file at `path`, opened with `flags` (O_WRONLY or O_RDWR, with any of
// O_CREAT, O_EXCL, O_TRUNC and O_APPEND) and `mode` for a new file; closed on exec. Only a
// regular file of its own is opened: a link at `path` (even one to a regular file), a file
// with other names (hard links), a folder, a FIFO, a socket or a device is refused without
// waiting and left as it is; O_TRUNC empties the file only once it is known to be such a
// file. Else -1 with errno set and, when what is there was refused, `*refusal` set to the
// reason ("not a regular file (a link)"), else to null. Async-signal-safe.
int openRegularFileForWriting(const char* path, int flags, mode_t mode, const char** refusal = nullptr);
// As above, with the reason of any failure in `why`: the refusal, or the system's words.
int openRegularFileForWriting(const std::string& path, int flags, mode_t mode, std::string* why);

// Whether `path` (links followed) is a regular file; it is not opened.
bool isRegularFile(const std::string& path);

// Why what `mode` describes is refused where a regular file belongs ("not a regular file (a
// FIFO)"); empty for a regular file.
std::string notRegularFileReason(mode_t mode);

}  // namespace platform
