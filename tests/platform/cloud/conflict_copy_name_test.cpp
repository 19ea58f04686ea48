#include "platform/cloud/conflict_copy_name.h"
#include "platform/cloud/file_version.h"
#include "platform/services/utf8_text.h"
#include "support/files.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using platform::FileVersion;
using platform::parseConflictCopyName;

namespace {

struct NameCase {
  const char* name;
  const char* original;  // empty: no conflict copy
  const char* mark;
};

// What the common sync tools on Linux leave beside a file changed on two machines, and names
// that only look alike.
const NameCase kNames[] = {
    {"plan.sync-conflict-20261208-123456-MACHINEB.orrx", "plan.orrx", "sync-conflict-20261208-123456-MACHINEB"},
    {"plan (Machine B's conflicted copy 2026-12-08).orrx", "plan.orrx", "Machine B's conflicted copy 2026-12-08"},
    {"plan (conflicted copy 2026-12-08 123456).orrx", "plan.orrx", "conflicted copy 2026-12-08 123456"},
    {"plan_conflict-20261208-123456.orrx", "plan.orrx", "conflict-20261208-123456"},
    {"plan (SFConflict ann@example.com 2026-12-08-12-34-56).orrx", "plan.orrx",
     "SFConflict ann@example.com 2026-12-08-12-34-56"},
    {"plan (1).orrx", "plan.orrx", "1"},
    {"my plan.v2 (12).orrx", "my plan.v2.orrx", "12"},
    {"\xEF\xBB\xBF\xEF\xBB\xBFplan (1).orrx", "\xEF\xBB\xBF\xEF\xBB\xBFplan.orrx", "1"},
    {"orrery.sync-conflict-20261208-123456-MACHINEB.index", "orrery.index", "sync-conflict-20261208-123456-MACHINEB"},
    {"orrery (Machine B's conflicted copy 2026-12-08).index", "orrery.index", "Machine B's conflicted copy 2026-12-08"},
    {"plan.orrx", "", ""},
    {"plan (draft).orrx", "", ""},
    {"plan (12345).orrx", "", ""},
    {"plan_conflict-2026.orrx", "", ""},
    {" (1).orrx", "", ""},
    {".plan.sync-conflict-1.orrx", "", ""},
    {"plan.sync-conflict-20261208", "", ""},
    {"id1_2.orrx", "", ""},
};

}  // namespace

TEST(ConflictCopyNameTest, EachToolsNamingIsReadAndOnlyThose) {
  for (const NameCase& c : kNames) {
    SCOPED_TRACE(c.name);
    const auto parsed = parseConflictCopyName(platform::textFromUtf8(c.name));
    EXPECT_EQ(parsed.original, platform::textFromUtf8(c.original));
    EXPECT_EQ(parsed.mark, platform::textFromUtf8(c.mark));
  }
}

// Every tool's copy of a document becomes a version of it; the same copy without its document
// stays where it is, a document of its own.
TEST(ConflictCopyNameTest, EachToolsCopyIsCollectedOnlyBesideItsDocument) {
  for (const NameCase& c : kNames) {
    const QString original = platform::textFromUtf8(c.original);
    if (!original.endsWith(".orrx")) continue;
    SCOPED_TRACE(c.name);
    for (const bool documentExists : {true, false}) {
      QTemporaryDir root;
      const QString documents = root.filePath("Documents");
      QDir().mkpath(documents);
      const QString copy = documents + "/" + platform::textFromUtf8(c.name);
      testsupport::writeFile(copy, "theirs");
      if (documentExists) testsupport::writeFile(documents + "/" + original, "mine");
      EXPECT_EQ(FileVersion::collectConflictCopies(documents), documentExists ? 1 : 0);
      EXPECT_EQ(QFileInfo::exists(copy), !documentExists);
      EXPECT_EQ(FileVersion::unresolvedConflictVersionsOfItemAtURL(documents + "/" + original).size(),
                documentExists ? 1u : 0u);
    }
  }
}
