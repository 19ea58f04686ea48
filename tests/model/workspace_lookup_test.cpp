#include "support/memory_workspace.h"

#include <gtest/gtest.h>

#include "support/proxy_lists.h"

using namespace orrery;

namespace {

using testsupport::proxyFor;

}  // namespace

TEST(WorkspaceLookupTest, LookupsFollowEveryChangeOfALargeList) {
  orrery::testing::MemoryWorkspace w;
  constexpr int kCount = 3000;
  ProxyList list;
  for (int i = 0; i < kCount; ++i) {
    const QString identifier = QString("iCloud:/d%1.orrx").arg(i);
    w.engine->reportFound(identifier);
    list.push_back(proxyFor(identifier, QString("first %1").arg(i)));
  }
  list.push_back(proxyFor("iCloud:/d7.orrx", "duplicate"));
  w.engine->reportProxyList(list);
  ASSERT_EQ(w.workspace->proxyListOrNilIfNotReady()->size(), std::size_t(kCount));
  for (int i = 0; i < kCount; i += 97)
    EXPECT_EQ(w.workspace->findProxy(QString("iCloud:/d%1.orrx").arg(i))->text(), QString("first %1").arg(i));
  EXPECT_EQ(w.workspace->findProxy("iCloud:/d7.orrx")->text(), "first 7") << "of duplicates the first";

  w.engine->reportDeleted("iCloud:/d0.orrx");
  EXPECT_FALSE(w.workspace->findProxy("iCloud:/d0.orrx"));
  EXPECT_EQ(w.workspace->findProxy("iCloud:/d1.orrx")->text(), "first 1") << "positions moved up";
  w.engine->reportProxy(proxyFor("iCloud:/new.orrx", "appended"));
  w.engine->reportProxy(proxyFor("iCloud:/d5.orrx", "replaced"));
  EXPECT_EQ(w.workspace->findProxy("iCloud:/new.orrx")->text(), "appended");
  EXPECT_EQ(w.workspace->findProxy("iCloud:/d5.orrx")->text(), "replaced");
  EXPECT_EQ(w.workspace->proxyListOrNilIfNotReady()->back()->docIdentifier(), "iCloud:/new.orrx");

  // A second complete list keeps what is listed and drops what is not.
  w.engine->reportProxyList({proxyFor("iCloud:/d9.orrx", "again"), proxyFor("iCloud:/new.orrx", "kept")});
  EXPECT_EQ(w.workspace->proxyListOrNilIfNotReady()->size(), 2u);
  EXPECT_EQ(w.workspace->findProxy("iCloud:/d9.orrx")->text(), "again");
  EXPECT_FALSE(w.workspace->findProxy("iCloud:/d5.orrx"));
}
