#include "crash/crk_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <cstdint>
#include <fstream>
#include <string>

#include "crash/crk_file_reader.h"
#include "crash_test_support.h"
#include "support/required_tool.h"

namespace telemetry {
namespace {

class CRKFileTest : public ::testing::Test {
 protected:
  void SetUp() override { mFolder = crashtest::makeFolder("records"); }
  std::string path(const char* name) const { return mFolder + "/" + name; }
  std::string mFolder;
};

TEST_F(CRKFileTest, SectionsAreWrittenExactlyWithoutSpaces) {
  const std::string p = path("a.crkrecord");
  CRKFile f;
  ASSERT_TRUE(CRKFileInitWithPath(&f, p.c_str(), false));
  CRKFileWriteSectionStart(&f, "signal");
  CRKFileWriteHashStart(&f);
  CRKFileWriteHashEntryString(&f, "name", "SIGSEGV");
  CRKFileWriteHashEnd(&f);
  CRKFileWriteSectionEnd(&f);

  CRKFileWriteSectionStart(&f, "numbers");
  CRKFileWriteHashStart(&f);
  CRKFileWriteHashEntryUint64(&f, "zero", 0);
  CRKFileWriteHashEntryUint64(&f, "max", UINT64_MAX);
  CRKFileWriteHashEntryInt64(&f, "min", INT64_MIN);
  CRKFileWriteHashEntryInt64(&f, "neg", -42);
  CRKFileWriteHashEntryBoolean(&f, "yes", true);
  CRKFileWriteHashEntryString(&f, "none", nullptr);
  CRKFileWriteHashKey(&f, "list");
  CRKFileWriteArrayStart(&f);
  CRKFileWriteArrayEntryUint64(&f, 1);
  CRKFileWriteArrayEntryHexEncodedString(&f, "abc");
  CRKFileWriteArrayEntryHexEncodedString(&f, "");
  CRKFileWriteArrayEntryHexEncodedString(&f, nullptr);
  CRKFileWriteHashStart(&f);
  CRKFileWriteHashEntryUint64(&f, "x", 2);
  CRKFileWriteHashEnd(&f);
  CRKFileWriteArrayEnd(&f);
  CRKFileWriteHashEntryUint64(&f, "after", 3);
  CRKFileWriteHashEnd(&f);
  CRKFileWriteSectionEnd(&f);
  uint64_t offset = 0;
  ASSERT_TRUE(CRKFileCloseWithOffset(&f, &offset));
  EXPECT_EQ(f.fd, -1);

  const std::string expected =
      "{\"signal\":{\"name\":\"SIGSEGV\"}}\n"
      "{\"numbers\":{\"zero\":0,\"max\":18446744073709551615,\"min\":-9223372036854775808,\"neg\":-42,"
      "\"yes\":true,\"none\":null,\"list\":[1,\"616263\",\"\",null,{\"x\":2}],\"after\":3}}\n";
  EXPECT_EQ(crashtest::readText(p), expected);
  EXPECT_EQ(offset, expected.size());
}

TEST_F(CRKFileTest, EscapedStringsAndInvalidUTF8StillMakeLinesThatJSONReads) {
  const std::string p = path("escape.crkrecord");
  const char* hostile = "quote\" back\\slash\ttab\x01 ctl \xff\xfe bad \xe2\x82 cut \xc3\xa9 ok";
  CRKFile f;
  ASSERT_TRUE(CRKFileInitWithPath(&f, p.c_str(), false));
  CRKFileWriteSectionStart(&f, "thread \"name\"");
  CRKFileWriteHashStart(&f);
  CRKFileWriteHashEntryString(&f, hostile, hostile);
  CRKFileWriteHashEntryHexEncodedString(&f, "hex", hostile);
  CRKFileWriteHashEnd(&f);
  CRKFileWriteSectionEnd(&f);
  CRKFileClose(&f);

  // An independent reader: Python's json module.
  ASSERT_TRUE(testsupport::requireTool("python3", "python3"));
  const std::string out = crashtest::run(
      "python3 -c 'import json,sys\nfor l in open(sys.argv[1],encoding=\"utf-8\"):\n"
      " o=json.loads(l)\n for k,v in o.items():\n  for kk,vv in v.items(): print(repr(kk)); print(repr(vv))' '" +
      p + "'");
  const std::string fffd = "\xef\xbf\xbd";
  const std::string expectedText = "quote\" back\\slash\ttab\x01 ctl " + fffd + fffd + " bad " + fffd + fffd +
                                   " cut \xc3\xa9 ok";
  EXPECT_NE(out.find("'quote\" back\\\\slash\\ttab\\x01 ctl \xef\xbf\xbd\xef\xbf\xbd bad"), std::string::npos) << out;

  auto sections = CRKFileReadSections(p.c_str(), false);
  ASSERT_TRUE(sections);
  ASSERT_EQ(sections->size(), 1u);
  const auto& body = (*sections)[0]["thread \"name\""];
  ASSERT_TRUE(body.contains(expectedText));
  EXPECT_EQ(body[expectedText], expectedText);
  EXPECT_EQ(body["hex"], CRKHexEncodeCString(hostile)) << "hex keeps every byte";
}

TEST_F(CRKFileTest, BufferedWritesReachTheFileInFullBuffersAndAppendOffsetsCountTheOldBytes) {
  const std::string p = path("buffered");
  CRKFile f;
  ASSERT_TRUE(CRKFileInitWithPath(&f, p.c_str(), true));
  const std::string bytes(2500, 'x');
  CRKFileWriteWithLength(&f, bytes.data(), bytes.size());
  EXPECT_EQ(crashtest::readText(p).size(), 1998u);
  EXPECT_EQ(f.writeBufferLength, 502u);
  uint64_t offset = 0;
  ASSERT_TRUE(CRKFileCloseWithOffset(&f, &offset));
  EXPECT_EQ(crashtest::readText(p).size(), 2500u);
  EXPECT_EQ(offset, 2500u);

  const std::string q = path("append");
  std::ofstream(q) << std::string(300, 'y');
  ASSERT_TRUE(CRKFileInitWithPath(&f, q.c_str(), false));
  CRKFileWriteWithLength(&f, "0123456789", 10);
  ASSERT_TRUE(CRKFileCloseWithOffset(&f, &offset));
  EXPECT_EQ(offset, 310u);

  ASSERT_TRUE(CRKFileInitWithPathMode(&f, q.c_str(), /*append=*/false, false));
  CRKFileWriteWithLength(&f, "ab", 2);
  ASSERT_TRUE(CRKFileCloseWithOffset(&f, &offset));
  EXPECT_EQ(crashtest::readText(q), "ab") << "truncate mode";

  EXPECT_FALSE(CRKFileInitWithPath(&f, (mFolder + "/missing/x").c_str(), false));
  EXPECT_FALSE(CRKFileInitWithPath(nullptr, q.c_str(), false));
}

struct FakeWriter {
  std::vector<ssize_t> answers;
  size_t calls = 0;
  std::string written = {};
  static ssize_t write(void* context, const void* bytes, size_t length) {
    auto* self = static_cast<FakeWriter*>(context);
    ssize_t n = self->calls < self->answers.size() ? self->answers[self->calls] : static_cast<ssize_t>(length);
    ++self->calls;
    if (n > 0 && static_cast<size_t>(n) <= length) self->written.append(static_cast<const char*>(bytes), n);
    return n;
  }
};

TEST(CRKFileWriteLoopTest, PartialWritesContinueUpToFiftyCalls) {
  FakeWriter partial{{3, 2}};
  EXPECT_TRUE(CRKFileLoopWithWriteBlock("0123456789", 10, FakeWriter::write, &partial));
  EXPECT_EQ(partial.written, "0123456789");
  EXPECT_EQ(partial.calls, 3u);

  FakeWriter trickle{std::vector<ssize_t>(100, 1)};
  const std::string many(60, 'z');
  EXPECT_FALSE(CRKFileLoopWithWriteBlock(many.data(), many.size(), FakeWriter::write, &trickle));
  EXPECT_EQ(trickle.calls, 50u);

  FakeWriter failing{{-1}};
  EXPECT_FALSE(CRKFileLoopWithWriteBlock("ab", 2, FakeWriter::write, &failing));
  FakeWriter nothing{{0}};
  EXPECT_FALSE(CRKFileLoopWithWriteBlock("ab", 2, FakeWriter::write, &nothing));
  FakeWriter liar{{5}};
  EXPECT_FALSE(CRKFileLoopWithWriteBlock("ab", 2, FakeWriter::write, &liar));
  EXPECT_EQ(liar.calls, 1u);
}

TEST_F(CRKFileTest, CrashTimeModeWritesOncePerSectionThroughItsOwnBuffer) {
  int sockets[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sockets), 0);
  const std::string p = path("crash.crkrecord");
  char buffer[256];
  CRKFile f;
  ASSERT_TRUE(CRKFileInitWithPathAndBuffer(&f, p.c_str(), buffer, sizeof buffer));
  ASSERT_EQ(dup2(sockets[0], f.fd), f.fd) << "each write becomes one message we can count";
  for (int section = 0; section < 3; ++section) {
    CRKFileWriteSectionStart(&f, "threads");
    CRKFileWriteArrayStart(&f);
    for (int i = 0; i < 10; ++i) CRKFileWriteArrayEntryUint64(&f, 1000 + i);
    CRKFileWriteArrayEnd(&f);
    CRKFileWriteSectionEnd(&f);
  }
  // A section larger than the buffer flushes when full, then at its end.
  CRKFileWriteSectionStart(&f, "big");
  CRKFileWriteArrayStart(&f);
  for (int i = 0; i < 100; ++i) CRKFileWriteArrayEntryString(&f, "0123456789");
  CRKFileWriteArrayEnd(&f);
  CRKFileWriteSectionEnd(&f);
  CRKFileClose(&f);
  close(sockets[0]);

  int messages = 0;
  std::string all;
  char chunk[512];
  for (ssize_t n; (n = recv(sockets[1], chunk, sizeof chunk, 0)) > 0;) {
    ++messages;
    all.append(chunk, n);
  }
  close(sockets[1]);
  const size_t bigLine = all.size() - 3 * all.find('\n') - 3;
  EXPECT_EQ(messages, 3 + static_cast<int>((bigLine + 254) / 255));
  EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 4);
}

TEST_F(CRKFileTest, ReaderKeepsEveryGoodLineAndSkipsTornOrUndecodableOnes) {
  const std::string p = path("mixed.crkrecord");
  std::ofstream(p, std::ios::binary) << "{\"a\":1}\n"
                                     << "{\"b\":\"\xff\"}\n"
                                     << "{\"c\":{\"d\":[1,2]}}\n"
                                     << "garbage\n"
                                     << "{\"e\":{\"torn\":[1,";
  auto sections = CRKFileReadSections(p.c_str(), true);
  ASSERT_TRUE(sections);
  ASSERT_EQ(sections->size(), 2u);
  EXPECT_EQ((*sections)[0]["a"], 1);
  EXPECT_EQ((*sections)[1]["c"]["d"][1], 2);
  EXPECT_TRUE(crashtest::readText(p).size() > 0) << "a readable file is kept";

  auto filtered = CRKFileReadSections(p.c_str(), false, [](nlohmann::json o) -> std::optional<nlohmann::json> {
    if (o.contains("a")) return std::nullopt;
    return o;
  });
  ASSERT_TRUE(filtered);
  EXPECT_EQ(filtered->size(), 1u);

  const std::string empty = path("empty.crkrecord");
  std::ofstream(empty) << "\n\n";
  EXPECT_EQ(CRKFileReadSections(empty.c_str(), false)->size(), 0u);
  EXPECT_FALSE(CRKFileReadSections(nullptr, false));

  const std::string fifo = path("fifo.crkrecord");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(CRKFileReadSections(fifo.c_str(), true));
  EXPECT_NE(access(fifo.c_str(), F_OK), 0) << "an unreadable file is removed";
}

}  // namespace
}  // namespace telemetry
