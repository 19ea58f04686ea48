#pragma once
// The one way a file is replaced so that readers only ever see the old content or the new:
// the bytes go to a staging file in the target's folder, created exclusively (never through
// a name someone else planted), are flushed to disk, take the target's place in one rename,
// and the folder is flushed after. A target that is a symbolic link keeps the link: the file
// it points at (also a missing one, which is created) is what gets replaced, unless the caller
// asks for the link itself to be replaced. A link is followed only to a regular file: one that
// leads to a device, a FIFO, a folder or a socket is refused with its reason, and what it leads
// to stays as it is (whoever links a file to /dev/null means to keep nothing). Any failure
// leaves the old file as it was and no staging file behind.
//
// Without a staging name the file is unnamed while written (a writer killed meanwhile leaves
// nothing) and gets the name ".<file name>.orrery-save-<pid>-<random>" only for the rename.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

namespace platform {

enum class AtomicWriteResult {
  Written,
  AlreadyExists,  // exclusive writes only: a file (or link) of that name is already there
  Failed,
};

struct AtomicWriteOptions {
  // The new file's permissions exactly; without it an existing file's are kept, and a new
  // file gets 0666 less the umask.
  std::optional<mode_t> mode;
  // Create only: AlreadyExists when the name is taken, and two writers never both win.
  bool exclusive = false;
  // A link at the path is replaced by the new file instead of written through: for files in
  // the program's own folders, where a planted link must not send the content elsewhere.
  bool replaceLink = false;
  // A fixed staging file name in the target's folder, for callers whose clean-up knows it. A
  // leftover of that name is removed first.
  std::string stagingName;
  // Waits for the disk (the file and its folder synced). Without it the file is whole and in
  // place for any later process when the call returns, but a power cut may still lose it.
  bool durable = true;
};

// What failed: the step ("writing the new content", "replacing the old file") and errno.
struct AtomicWriteFailure {
  std::string step;
  int error = 0;
  // For a link to what is not a regular file, nothing was tried: why, in the words of the
  // readers' refusals ("not a regular file (a FIFO)"); else empty.
  std::string refusal;
  std::string reason() const;  // the refusal, else strerror
  std::string text() const;    // "<step>: <reason>"
};

// Fills the staging file through its descriptor; false (errno set) fails the write.
using AtomicFill = std::function<bool(int fd)>;
// Fills the staging file by its path, for writers that open files themselves.
using AtomicFillAtPath = std::function<bool(const std::string& stagingPath)>;

AtomicWriteResult writeFileAtomically(const std::string& path, std::string_view bytes,
                                      const AtomicWriteOptions& options = {}, AtomicWriteFailure* failure = nullptr);
AtomicWriteResult writeFileAtomically(const std::string& path, const AtomicFill& fill,
                                      const AtomicWriteOptions& options = {}, AtomicWriteFailure* failure = nullptr);
// The staging file is named from the start here (the options' name, else the default one).
AtomicWriteResult writeFileAtomicallyAtPath(const std::string& path, const AtomicFillAtPath& fill,
                                            const AtomicWriteOptions& options = {},
                                            AtomicWriteFailure* failure = nullptr);

// Waits for the disk to hold the file at `path` (through its links) and its folder entry, as a
// durable write would have: for a file written without waiting whose content is still to be
// made safe. False (errno set) when the file cannot be opened or synced.
bool syncToDisk(const std::string& path);

// The file a write to `path` replaces: `path` itself, or the end of its chain of links;
// empty for a loop of links.
std::string resolveWriteTarget(const std::string& path);

// ".<file name>.orrery-save-": the start of every default staging name of that file.
std::string defaultStagingPrefix(const std::string& fileName);

// Writes all of `bytes` to `fd`, retrying interrupted and short writes.
bool writeAllBytes(int fd, std::string_view bytes);

}  // namespace platform
