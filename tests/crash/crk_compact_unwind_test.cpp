// Compact unwind tables built in memory, read through an image node of their own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

#include "crash/crk_binary_image.h"
#include "crash/crk_unwind.h"
#include "crash_test_support.h"

namespace telemetry {
namespace {

constexpr uint32_t kFramePointer = 0x01000000;
constexpr uint32_t kFrameless = 0x02000000;

// A frameless encoding from its stack size in words and its saved registers in stack order.
uint32_t framelessEncoding(uint32_t stackWords, const std::vector<uint32_t>& registers) {
  static constexpr uint32_t kDivisors[7][6] = {
      {}, {1}, {5, 1}, {20, 4, 1}, {60, 12, 3, 1}, {120, 24, 6, 2, 1}, {120, 24, 6, 2, 1}};
  const auto count = static_cast<uint32_t>(registers.size());
  std::vector<bool> used(7, false);
  uint32_t permutation = 0;
  for (uint32_t i = 0; i < count && i < 5; ++i) {
    uint32_t digit = 0;
    for (uint32_t r = 1; r < registers[i]; ++r) digit += !used[r];
    used[registers[i]] = true;
    permutation += digit * kDivisors[count][i];
  }
  return kFrameless | (stackWords << 16) | (count << 10) | permutation;
}

TEST(CRKCompactUnwindTest, EveryFramelessPermutationOfZeroToSixRegistersComesBack) {
  for (uint32_t count = 0; count <= 6; ++count) {
    std::vector<uint32_t> all = {1, 2, 3, 4, 5, 6};
    std::vector<uint32_t> chosen(all.begin(), all.begin() + count);
    int checked = 0;
    // Every ordered choice of `count` registers out of six.
    std::vector<bool> mask(6, false);
    std::fill(mask.begin(), mask.begin() + count, true);
    do {
      std::vector<uint32_t> subset;
      for (uint32_t i = 0; i < 6; ++i)
        if (mask[i]) subset.push_back(i + 1);
      do {
        const uint32_t encoding = framelessEncoding(4, subset);
        uint32_t digits[6], registers[6] = {};
        ASSERT_TRUE(CRKCompactUnwindDecompressPermutation(count, encoding & 0x3ff, digits));
        ASSERT_TRUE(CRKCompactUnwindRemapRegisters(count, digits, registers));
        ASSERT_TRUE(std::equal(subset.begin(), subset.end(), registers)) << "count " << count;
        ++checked;
      } while (std::next_permutation(subset.begin(), subset.end()));
    } while (std::prev_permutation(mask.begin(), mask.end()));
    EXPECT_GT(checked, 0);
  }
  uint32_t digits[6];
  EXPECT_FALSE(CRKCompactUnwindDecompressPermutation(7, 0, digits));
}

// An image of 0x5000 bytes: functions at 0x1000..0x3000, "__unwind_info" at 0x4000 with
// two first-level entries (a compressed page and a regular page) and the sentinel.
class CompactImage {
 public:
  explicit CompactImage(std::vector<uint32_t> pageEncodings) : mImage(0x5000, 0) {
    const uint32_t info = 0x4000;
    const uint32_t common = info + 28, index = common + 4, page = index + 36, regular = page + 0x100;
    write32(info, 1);
    write32(info + 4, common - info);
    write32(info + 8, 1);
    write32(info + 20, index - info);
    write32(info + 24, 3);
    write32(common, kFramePointer);  // common encoding 0
    const uint32_t entries[3][3] = {{0x1000, page - info, 0}, {0x2000, regular - info, 0}, {0x3000, 0, 0}};
    for (int i = 0; i < 3; ++i)
      for (int k = 0; k < 3; ++k) write32(index + 12 * i + 4 * k, entries[i][k]);
    // Compressed page: functions at +0x000 (common 0), +0x100, +0x200 ... (page encodings).
    const auto count = static_cast<uint16_t>(1 + pageEncodings.size());
    write32(page, 3);
    write16(page + 4, 12);
    write16(page + 6, count);
    write16(page + 8, static_cast<uint16_t>(12 + 4 * count));
    write16(page + 10, static_cast<uint16_t>(pageEncodings.size()));
    write32(page + 12, 0);
    for (uint32_t i = 0; i < pageEncodings.size(); ++i) {
      write32(page + 12 + 4 * (i + 1), (0x100 * (i + 1)) | ((i + 1) << 24));
      write32(page + 12 + 4 * count + 4 * i, pageEncodings[i]);
    }
    write32(regular, 2);

    mDetails.node.base = base();
    mDetails.node.textSize = 0x3000;
    mDetails.node.unwindInfo = base() + info;
    mDetails.node.format = kCRKImageMachO;
    std::strcpy(mDetails.uuid, "00112233445566778899aabbccddeeff");
    crashtest::contextReportFolder();
    EXPECT_TRUE(CRKBinaryImageStoreNode(true, mDetails));
  }
  ~CompactImage() { CRKBinaryImageStoreNode(false, mDetails); }
  uint64_t base() const { return reinterpret_cast<uint64_t>(mImage.data()); }
  uint64_t unwindInfo() const { return base() + 0x4000; }

 private:
  void write32(uint32_t at, uint32_t v) { std::memcpy(&mImage[at], &v, 4); }
  void write16(uint32_t at, uint16_t v) { std::memcpy(&mImage[at], &v, 2); }
  std::vector<uint8_t> mImage;
  CRKBinaryImageDetails mDetails;
};

TEST(CRKCompactUnwindTest, LookupFindsTheFunctionAndItsEncoding) {
  const uint32_t frameless = framelessEncoding(4, {1, 6});
  CompactImage image({frameless, 0});
  CRKCompactUnwindContext context;
  ASSERT_TRUE(CRKCompactUnwindInit(&context, image.unwindInfo(), 0, 0, image.base()));
  CRKCompactUnwindResult result;
  ASSERT_TRUE(CRKCompactUnwindLookup(&context, image.base() + 0x1010, &result));
  EXPECT_EQ(result.encoding, kFramePointer) << "common encoding";
  EXPECT_EQ(result.functionStart, image.base() + 0x1000);
  EXPECT_EQ(result.functionEnd, image.base() + 0x1100);
  ASSERT_TRUE(CRKCompactUnwindLookup(&context, image.base() + 0x1150, &result));
  EXPECT_EQ(result.encoding, frameless) << "page encoding";
  ASSERT_TRUE(CRKCompactUnwindLookup(&context, image.base() + 0x1fff, &result) == false)
      << "the last entry of a page with encoding 0 has no unwind information";
  EXPECT_FALSE(CRKCompactUnwindLookup(&context, image.base() + 0x2010, &result)) << "regular page";
  EXPECT_FALSE(CRKCompactUnwindLookup(&context, image.base() + 0x3010, &result)) << "past the sentinel";
  EXPECT_FALSE(CRKCompactUnwindLookup(&context, image.base() - 1, &result));
  uint32_t badVersion = 2;
  EXPECT_FALSE(CRKCompactUnwindInit(&context, reinterpret_cast<uint64_t>(&badVersion), 0, 0, image.base()));
  EXPECT_FALSE(CRKCompactUnwindInit(&context, 0, 0, 0, image.base()));
}

struct Walker {
  uint64_t stack[16] = {};
  CRKUnwindCursor cursor;
  uint64_t at(int i) const { return reinterpret_cast<uint64_t>(&stack[i]); }
  // Starts in the image at pc with rsp at slot 0; answers the second frame's pc.
  bool stepFrom(uint64_t pc, uint64_t rbp) {
    CRKThreadContext state{};
    state.ss.rip = pc;
    state.ss.rsp = at(0);
    state.ss.rbp = rbp;
    CRKUnwindInit(&cursor, &state);
    return CRKUnwindNextFrame(&cursor) && CRKUnwindNextFrame(&cursor);
  }
};

TEST(CRKCompactUnwindTest, AFramelessFunctionRestoresRbpAndFindsItsReturnAddress) {
  CompactImage image({framelessEncoding(4, {1, 6}), 0});
  Walker w;
  // 4 words: a local, rbx, rbp, the return address.
  w.stack[1] = 0xbbbb;
  w.stack[2] = w.at(8);
  w.stack[3] = image.base() + 0x1008;
  ASSERT_TRUE(w.stepFrom(image.base() + 0x1120, 0));
  EXPECT_EQ(CRKUnwindGetPC(&w.cursor), image.base() + 0x1008);
  EXPECT_EQ(CRKUnwindGetStackPointer(&w.cursor), w.at(4));
  EXPECT_EQ(w.cursor.context.ss.rbp, w.at(8));
  EXPECT_EQ(w.cursor.context.ss.rbx, 0u) << "only rbp is restored";
}

TEST(CRKCompactUnwindTest, FramePointerEncodingsAndMissingEntriesUseTheFrameChain) {
  CompactImage image({framelessEncoding(2, {}), 0});
  for (const uint64_t pc : {uint64_t{0x1010}, uint64_t{0x1210}, uint64_t{0x2010}}) {
    SCOPED_TRACE(pc);
    Walker w;
    // A frame record at slot 4: saved rbp, return address. Nothing executable lies between
    // sp and rbp, so the first unwind's stack scan finds nothing.
    w.stack[4] = w.at(10);
    w.stack[5] = image.base() + 0x1004;
    ASSERT_TRUE(w.stepFrom(image.base() + pc, w.at(4)));
    EXPECT_EQ(CRKUnwindGetPC(&w.cursor), image.base() + 0x1004);
    EXPECT_EQ(CRKUnwindGetStackPointer(&w.cursor), w.at(6));
    EXPECT_EQ(w.cursor.context.ss.rbp, w.at(10));
  }
}

TEST(CRKCompactUnwindTest, ALeafWithoutUnwindInformationIsFoundByTheStackScan) {
  CompactImage image({0});
  Walker w;
  w.stack[0] = 0x42;
  w.stack[1] = image.base() + 0x1004;  // the leaf's return address, pushed by its call
  ASSERT_TRUE(w.stepFrom(image.base() + 0x1110, w.at(12)));
  EXPECT_EQ(CRKUnwindGetPC(&w.cursor), image.base() + 0x1004);
  EXPECT_EQ(CRKUnwindGetStackPointer(&w.cursor), w.at(2));
}

}  // namespace
}  // namespace telemetry
