#include "platform/core/atomic_file.h"
#include "platform/core/regular_file.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>

namespace platform {
namespace {

class AtomicFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "atomic-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    mFolder = pattern;
  }
  void TearDown() override { std::system(("chmod -R u+w '" + mFolder + "'; rm -rf '" + mFolder + "'").c_str()); }

  std::string at(const std::string& name) const { return mFolder + "/" + name; }

  std::set<std::string> entries(const std::string& folder) const {
    std::set<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    while (dirent* entry = dir ? ::readdir(dir) : nullptr)
      if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..") names.insert(entry->d_name);
    if (dir) ::closedir(dir);
    return names;
  }

  static std::string contents(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  static void put(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

  static mode_t modeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
  }

  static bool isLink(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
  }

  std::string mFolder;
};

TEST_F(AtomicFileTest, WritesThroughLinksAndKeepsThem) {
  ::mkdir(at("real").c_str(), 0700);
  put(at("real/doc"), "old");
  ASSERT_EQ(::symlink("real/doc", at("relative").c_str()), 0);
  ASSERT_EQ(::symlink("relative", at("chained").c_str()), 0);
  ASSERT_EQ(::symlink(at("real/missing").c_str(), at("dangling").c_str()), 0);

  EXPECT_EQ(writeFileAtomically(at("chained"), "new"), AtomicWriteResult::Written);
  EXPECT_TRUE(isLink(at("chained")));
  EXPECT_TRUE(isLink(at("relative")));
  EXPECT_EQ(contents(at("real/doc")), "new");

  // A link to a file not there yet creates that file and stays a link.
  EXPECT_EQ(writeFileAtomically(at("dangling"), "created"), AtomicWriteResult::Written);
  EXPECT_TRUE(isLink(at("dangling")));
  EXPECT_EQ(contents(at("real/missing")), "created");

  // The staging files went where the targets are, and none stayed.
  EXPECT_EQ(entries(at("real")), (std::set<std::string>{"doc", "missing"}));
  EXPECT_EQ(entries(mFolder), (std::set<std::string>{"real", "relative", "chained", "dangling"}));

  // Asked to, the link itself gives way and what it pointed at stays.
  AtomicWriteOptions own;
  own.replaceLink = true;
  EXPECT_EQ(writeFileAtomically(at("relative"), "own", own), AtomicWriteResult::Written);
  EXPECT_FALSE(isLink(at("relative")));
  EXPECT_EQ(contents(at("relative")), "own");
  EXPECT_EQ(contents(at("real/doc")), "new");

  ASSERT_EQ(::symlink("loop-b", at("loop-a").c_str()), 0);
  ASSERT_EQ(::symlink("loop-a", at("loop-b").c_str()), 0);
  EXPECT_EQ(writeFileAtomically(at("loop-a"), "x"), AtomicWriteResult::Failed);
  EXPECT_TRUE(isLink(at("loop-a")));

  // The later sync of a write that did not wait follows the same links and leaves them.
  EXPECT_TRUE(syncToDisk(at("chained")));
  EXPECT_TRUE(isLink(at("chained")));
  EXPECT_FALSE(syncToDisk(at("real/gone")));
  EXPECT_FALSE(syncToDisk(at("loop-a")));
}

// Each writer's way through the atomic writer against a link to each kind of file: a link is
// followed only to a regular file (or to a missing one, which is created), and what it leads to
// otherwise stays as it was. Never a link to a real device: a faulty write would replace it.
TEST_F(AtomicFileTest, ALinkIsWrittenThroughOnlyToARegularFile) {
  AtomicWriteOptions ownLink, ownStagedLink, exclusive;
  ownLink.replaceLink = ownStagedLink.replaceLink = true;
  ownStagedLink.stagingName = "out.partial";
  exclusive.exclusive = true;
  const struct {
    const char* writers;
    AtomicWriteOptions options;
    bool atPath;
  } ways[] = {{"maps, exports, indexes, iCloud versions, settings", {}, false},
              {"web and presentation archives", {}, true},
              {"the SDK's files, the sign-in token", ownLink, false},
              {"analytics stages, crash packages", ownStagedLink, true},
              {"recovered copies, dragged files", exclusive, false}};
  const struct {
    const char* kind;
    std::function<bool(const std::string&)> make;
    std::string refusal;  // through the link; empty: written through
  } targets[] = {
      {"a regular file", [](const std::string& p) { return put(p, "old"), true; }, ""},
      {"a FIFO", [](const std::string& p) { return ::mkfifo(p.c_str(), 0600) == 0; }, "not a regular file (a FIFO)"},
      {"a folder", [](const std::string& p) { return ::mkdir(p.c_str(), 0700) == 0; }, "not a regular file (a folder)"},
      // A node of its own in the test's folder, where root may make one.
      {"a device", [](const std::string& p) { return ::mknod(p.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0; },
       "not a regular file (a device)"},
      {"nothing", [](const std::string&) { return true; }, ""}};
  int made = 0;
  for (const auto& way : ways) {
    for (const auto& target : targets) {
      SCOPED_TRACE(std::string(way.writers) + ", a link to " + target.kind);
      const std::string folder = at(std::to_string(made++)), file = folder + "/target", link = folder + "/out";
      ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
      if (!target.make(file)) continue;  // no device without root
      ASSERT_EQ(::symlink("target", link.c_str()), 0);
      struct stat before {}, after {};
      const bool existed = ::lstat(file.c_str(), &before) == 0;
      AtomicWriteFailure failure;
      const auto result =
          way.atPath ? writeFileAtomicallyAtPath(
                           link, [](const std::string& p) { return put(p, "new"), true; }, way.options, &failure)
                     : writeFileAtomically(link, "new", way.options, &failure);
      const bool through = !way.options.replaceLink && !way.options.exclusive;
      const bool refused = through && !target.refusal.empty();
      EXPECT_EQ(result, way.options.exclusive ? AtomicWriteResult::AlreadyExists
                        : refused             ? AtomicWriteResult::Failed
                                              : AtomicWriteResult::Written);
      EXPECT_EQ(failure.refusal, through ? target.refusal : "");
      EXPECT_EQ(isLink(link), !way.options.replaceLink);
      ASSERT_EQ(::lstat(file.c_str(), &after) == 0, existed || through);
      if (!target.refusal.empty()) {
        EXPECT_TRUE(after.st_ino == before.st_ino && after.st_mode == before.st_mode && after.st_rdev == before.st_rdev)
            << target.kind << " stays as it was";
      } else if (existed || through) {
        EXPECT_EQ(contents(file), through ? "new" : "old") << "a missing file is created";
      }
      if (way.options.replaceLink) {
        EXPECT_EQ(contents(link), "new") << "the link gave way";
      }
      EXPECT_EQ(entries(folder).size(), existed || through ? 2u : 1u) << "no staging file stays";
    }
  }
}

// Each way of writing in place (locks; markers, records, zip entries; logs) writes only a
// regular file of its own; anything else is refused at once, saying why, and left as it was.
TEST_F(AtomicFileTest, AWriterInPlaceWritesOnlyARegularFileOfItsOwn) {
  const int ways[] = {O_RDWR | O_CREAT, O_WRONLY | O_CREAT | O_TRUNC, O_WRONLY | O_CREAT | O_APPEND};
  const auto socketAt = [](const char* p) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, p, sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    return ::close(fd), bound;
  };
  const std::pair<std::function<bool(const char*, const char*)>, std::string> entries[] = {
      {[](const char*, const char*) { return true; }, ""},
      {[](const char* p, const char*) { return put(p, "old"), true; }, ""},
      {[](const char* p, const char* o) { return put(o, "old"), ::symlink(o, p) == 0; }, "not a regular file (a link)"},
      {[](const char* p, const char* o) { return ::mkdir(o, 0700) == 0 && ::symlink(o, p) == 0; },
       "not a regular file (a link)"},
      {[](const char* p, const char* o) { return put(o, "old"), ::link(o, p) == 0; },
       "not a file of its own (it has other names)"},
      {[](const char* p, const char*) { return ::mkdir(p, 0700) == 0; }, "not a regular file (a folder)"},
      {[](const char* p, const char*) { return ::mkfifo(p, 0600) == 0; }, "not a regular file (a FIFO)"},
      {[&](const char* p, const char*) { return socketAt(p); }, "not a regular file (a socket)"}};
  int made = 0;
  for (const int flags : ways) {
    for (const auto& [make, refusal] : entries) {
      const std::string path = at("w" + std::to_string(made)), other = at("o" + std::to_string(made++));
      SCOPED_TRACE(path + " " + refusal);
      ASSERT_TRUE(make(path.c_str(), other.c_str()));
      struct stat before {}, after {};
      const bool existed = ::lstat(path.c_str(), &before) == 0;
      std::string why;
      const int fd = openRegularFileForWriting(path, flags, 0600, &why);
      EXPECT_EQ(why, refusal);
      if (fd >= 0) {
        EXPECT_FALSE(::fcntl(fd, F_GETFL) & O_NONBLOCK) << "it waits for the disk as any file does";
        EXPECT_EQ(::write(fd, "new", 3), 3);
        ::close(fd);
        EXPECT_EQ(contents(path), (flags & O_APPEND) && existed ? "oldnew" : "new");
      } else {
        EXPECT_TRUE(::lstat(path.c_str(), &after) == 0 && after.st_ino == before.st_ino) << "it stays as it was";
        if (isRegularFile(other)) {
          EXPECT_EQ(contents(other), "old") << "what it points to keeps its content";
        }
      }
    }
  }
}

// A whole read beyond its cap is refused before taking memory, and one beyond the memory there
// is fails saying why instead of ending the program. The file is sparse.
TEST_F(AtomicFileTest, AWholeReadBeyondItsCapOrTheMemoryIsRefusedSayingWhy) {
  const int64_t huge = int64_t(1) << 40;
  put(at("huge"), "");
  ASSERT_EQ(::truncate(at("huge").c_str(), huge), 0);
  std::string bytes, why;
  EXPECT_EQ(readRegularFile(at("huge"), kMaxInstalledFileBytes, &bytes, &why), RegularFileRead::Refused);
  EXPECT_EQ(why, "too large (1099511627776 bytes)");
  EXPECT_TRUE(bytes.empty());
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // Sanitizer allocators abort on such a request, and an overcommitting system grants it.
  if (contents("/proc/sys/vm/overcommit_memory") != "1\n") {
    EXPECT_EQ(readRegularFile(at("huge"), huge, &bytes, &why), RegularFileRead::Failed);
    EXPECT_EQ(why, "not enough memory to read 1099511627776 bytes");
  }
#endif
  put(at("small"), "small");
  EXPECT_EQ(readRegularFile(at("small"), 5, &bytes, &why), RegularFileRead::Read);
  EXPECT_EQ(bytes, "small");
}

TEST_F(AtomicFileTest, PermissionsAreKeptOrSetExactly) {
  put(at("kept"), "old");
  ::chmod(at("kept").c_str(), 0640);
  EXPECT_EQ(writeFileAtomically(at("kept"), "new"), AtomicWriteResult::Written);
  EXPECT_EQ(modeOf(at("kept")), 0640u);

  AtomicWriteOptions secret;
  secret.mode = 0600;
  EXPECT_EQ(writeFileAtomically(at("token"), "t", secret), AtomicWriteResult::Written);
  EXPECT_EQ(modeOf(at("token")), 0600u);
  ::chmod(at("kept").c_str(), 0644);
  EXPECT_EQ(writeFileAtomically(at("kept"), "n", secret), AtomicWriteResult::Written);
  EXPECT_EQ(modeOf(at("kept")), 0600u);

  // Named staging files get the same modes.
  secret.stagingName = "kept.partial";
  EXPECT_EQ(writeFileAtomicallyAtPath(at("staged"), [](const std::string& p) { put(p, "s"); return true; }, secret),
            AtomicWriteResult::Written);
  EXPECT_EQ(modeOf(at("staged")), 0600u);
  EXPECT_EQ(contents(at("staged")), "s");
}

TEST_F(AtomicFileTest, FailureLeavesOldFileAndNoStagingFile) {
  put(at("doc"), "old");
  AtomicWriteFailure failure;
  const AtomicFill failing = [](int fd) {
    (void)writeAllBytes(fd, "half");
    errno = ENOSPC;
    return false;
  };
  EXPECT_EQ(writeFileAtomically(at("doc"), failing, {}, &failure), AtomicWriteResult::Failed);
  EXPECT_EQ(failure.error, ENOSPC);
  EXPECT_NE(failure.text().find("writing the new content"), std::string::npos);

  AtomicWriteOptions named;
  named.stagingName = "doc.tmp";
  EXPECT_EQ(writeFileAtomically(at("doc"), failing, named), AtomicWriteResult::Failed);
  EXPECT_EQ(writeFileAtomicallyAtPath(at("doc"), [](const std::string& p) { put(p, "half"); return false; }, named),
            AtomicWriteResult::Failed);
  EXPECT_EQ(contents(at("doc")), "old");
  EXPECT_EQ(entries(mFolder), std::set<std::string>{"doc"});

  // A folder that cannot be written to: the old file stays, and the reason is the system's.
  if (::geteuid() != 0) {
    ::chmod(mFolder.c_str(), 0500);
    EXPECT_EQ(writeFileAtomically(at("doc"), "new", {}, &failure), AtomicWriteResult::Failed);
    EXPECT_EQ(failure.error, EACCES);
    ::chmod(mFolder.c_str(), 0700);
    EXPECT_EQ(contents(at("doc")), "old");
  }
  EXPECT_EQ(writeFileAtomically(at("no-such-folder/doc"), "x"), AtomicWriteResult::Failed);
}

TEST_F(AtomicFileTest, StagingIsExclusiveAndCreatesOnlyOnce) {
  // A link planted at a fixed staging name is taken away, never written through.
  put(at("victim"), "untouched");
  ASSERT_EQ(::symlink(at("victim").c_str(), at("out.partial").c_str()), 0);
  AtomicWriteOptions named;
  named.stagingName = "out.partial";
  EXPECT_EQ(writeFileAtomically(at("out"), "data", named), AtomicWriteResult::Written);
  EXPECT_EQ(contents(at("victim")), "untouched");
  EXPECT_EQ(contents(at("out")), "data");
  EXPECT_FALSE(isLink(at("out")));

  AtomicWriteOptions exclusive;
  exclusive.exclusive = true;
  EXPECT_EQ(writeFileAtomically(at("new"), "first", exclusive), AtomicWriteResult::Written);
  EXPECT_EQ(writeFileAtomically(at("new"), "second", exclusive), AtomicWriteResult::AlreadyExists);
  ASSERT_EQ(::symlink(at("absent").c_str(), at("taken").c_str()), 0);
  EXPECT_EQ(writeFileAtomically(at("taken"), "x", exclusive), AtomicWriteResult::AlreadyExists);
  EXPECT_EQ(contents(at("new")), "first");
  EXPECT_EQ(entries(mFolder), (std::set<std::string>{"victim", "out", "new", "taken"}));
}

}  // namespace
}  // namespace platform
