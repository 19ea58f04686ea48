#include "cloud/sync_file_info.h"
#include "cloud/document_info.h"

#include <gtest/gtest.h>

using namespace orrery;

namespace {
const QString kNull;
}

TEST(SyncFileInfoTest, EmptyMarkerAndNullAnswerTheTestsAsDocumented) {
  const auto& empty = SyncFileInfo::EMPTY();
  EXPECT_EQ(empty.get(), SyncFileInfo::EMPTY().get()) << "one shared marker";
  EXPECT_FALSE(SyncFileInfo::hasFile(empty));
  EXPECT_TRUE(SyncFileInfo::isDeleted(empty));
  EXPECT_FALSE(SyncFileInfo::isDeleted(SyncFileInfoPtr()));
  EXPECT_TRUE(SyncFileInfo::emptyOrNull(SyncFileInfoPtr()));
  EXPECT_FALSE(SyncFileInfo::isEmpty(SyncFileInfoPtr()));
  EXPECT_TRUE(SyncFileInfo::areEqual(SyncFileInfoPtr(), SyncFileInfoPtr()));
  EXPECT_FALSE(SyncFileInfo::areEqual(SyncFileInfoPtr(), empty));
  EXPECT_FALSE(SyncFileInfo::areEqual(empty, SyncFileInfoPtr()));

  // Two nils made anew are EMPTY by value, though not the shared object.
  const auto made = SyncFileInfo::create(kNull, kNull);
  EXPECT_NE(made.get(), empty.get());
  EXPECT_TRUE(SyncFileInfo::areEqual(made, empty));
  EXPECT_TRUE(SyncFileInfo::isEmpty(made));
  EXPECT_EQ(made->hash(), 0u);
  EXPECT_EQ(made->hash(), empty->hash());
  EXPECT_EQ(made->description(), "{SyncFileInfo: EMPTY}");
}

TEST(SyncFileInfoTest, DeletionMarkersNamesAndRevsCompareByValue) {
  const auto marker = SyncFileInfo::create(kNull, "a1");
  EXPECT_TRUE(SyncFileInfo::isDeleted(marker));
  EXPECT_FALSE(SyncFileInfo::refers(marker, "x.orrx"));
  EXPECT_FALSE(SyncFileInfo::refers(marker, kNull));
  const auto moved = marker->withRev("b2");
  EXPECT_TRUE(SyncFileInfo::isDeleted(moved));
  EXPECT_EQ(moved->rev(), "b2");

  const auto named = SyncFileInfo::create("x.orrx", kNull);
  const auto namedRev = SyncFileInfo::create("x.orrx", "a1");
  EXPECT_FALSE(SyncFileInfo::areEqual(named, namedRev));
  EXPECT_TRUE(SyncFileInfo::areEqual(namedRev, SyncFileInfo::create("x.orrx", "a1")));
  EXPECT_EQ(namedRev->hash(), SyncFileInfo::create("x.orrx", "a1")->hash());
  EXPECT_TRUE(SyncFileInfo::refers(namedRev, "x.orrx"));
  EXPECT_FALSE(SyncFileInfo::refers(namedRev, "y.orrx"));
  EXPECT_TRUE(SyncFileInfo::hasFile(named));
  EXPECT_EQ(namedRev->description(), "{SyncFileInfo: name=x.orrx rev=a1 }");
  EXPECT_EQ(SyncFileInfo::firstNonNull(nullptr, named), named);
  EXPECT_EQ(SyncFileInfo::firstNonNull(namedRev, named), namedRev);
  // An empty but set string is not a missing one.
  EXPECT_FALSE(SyncFileInfo::areEqual(SyncFileInfo::create("", kNull), SyncFileInfo::EMPTY()));
}

TEST(DocumentInfoTest, ConflictAndDataFollowTheFieldsThatAreSet) {
  const auto onlyEmptyInput = DocumentInfo::create(SyncFileInfo::EMPTY(), nullptr, nullptr);
  EXPECT_TRUE(onlyEmptyInput->containsData());
  EXPECT_FALSE(onlyEmptyInput->inConflict());
  EXPECT_FALSE(DocumentInfo::create(nullptr, nullptr, nullptr)->containsData());

  const auto downloaded = SyncFileInfo::create("in.orrx", "r2");
  EXPECT_FALSE(DocumentInfo::create(downloaded, nullptr, nullptr)->inConflict()) << "no output";
  const auto both = onlyEmptyInput->withInput(downloaded)->withOutput(SyncFileInfo::create("out.orrx", "r1"));
  EXPECT_TRUE(both->inConflict());
  EXPECT_FALSE(both->withInput(SyncFileInfo::EMPTY())->inConflict());

  // with… builds a new record and leaves the old one alone.
  const auto current = SyncFileInfo::create("c.orrx", "r1");
  const auto moved = both->withCurrent(current);
  EXPECT_NE(moved.get(), both.get());
  EXPECT_EQ(both->current(), nullptr);
  EXPECT_EQ(moved->current(), current);
  EXPECT_EQ(moved->input(), both->input());
  EXPECT_EQ(moved->description(),
            "{DocumentInfo: input={SyncFileInfo: name=in.orrx rev=r2 } current={SyncFileInfo: name=c.orrx rev=r1 } "
            "output={SyncFileInfo: name=out.orrx rev=r1 }}");
}
