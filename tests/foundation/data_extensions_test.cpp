#include "foundation/data_extensions.h"
#include "qt_printers.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace {

using orrery::dataext::zlibDeflate;
using orrery::dataext::zlibInflate;

QByteArray randomBytes(qsizetype n, quint32 seed) {
  QRandomGenerator rng(seed);
  QByteArray out(n, Qt::Uninitialized);
  for (auto& c : out) c = static_cast<char>(rng.bounded(256));
  return out;
}

TEST(ZlibTest, RoundTripsOfManySizesAndKinds) {
  const QByteArray samples[] = {
      QByteArray("x"),
      QByteArray("{\"ideaDocumentDataObject\":{\"fileFormatVersion\":3}}"),
      randomBytes(1, 1),
      randomBytes(100000, 2),           // incompressible: output smaller than the first guess
      QByteArray(3 * 1024 * 1024, 'a'),  // compresses a thousandfold: the buffer must grow
  };
  for (const QByteArray& sample : samples) {
    auto packed = zlibDeflate(sample);
    ASSERT_TRUE(packed.has_value());
    ASSERT_GE(packed->size(), 6);
    EXPECT_EQ(static_cast<unsigned char>(packed->at(0)), 0x78);  // zlib header, not raw deflate or gzip
    auto unpacked = zlibInflate(*packed);
    ASSERT_TRUE(unpacked.has_value()) << sample.size();
    EXPECT_EQ(*unpacked, sample);
  }
}

TEST(ZlibTest, EmptyInputIsReturnedUnchanged) {
  ASSERT_TRUE(zlibDeflate(QByteArray()).has_value());
  EXPECT_TRUE(zlibDeflate(QByteArray())->isEmpty());
  ASSERT_TRUE(zlibInflate(QByteArray()).has_value());
  EXPECT_TRUE(zlibInflate(QByteArray())->isEmpty());
}

TEST(ZlibTest, TruncatedCorruptAndForeignStreamsFail) {
  const QByteArray text = randomBytes(5000, 7) + QByteArray(5000, 'z');
  const QByteArray packed = *zlibDeflate(text);
  for (qsizetype cut : {qsizetype(1), qsizetype(2), packed.size() / 2, packed.size() - 1})
    EXPECT_FALSE(zlibInflate(packed.left(cut)).has_value()) << cut;

  QByteArray flipped = packed;
  flipped[flipped.size() - 2] = static_cast<char>(flipped[flipped.size() - 2] ^ 0x40);  // Adler-32 trailer
  EXPECT_FALSE(zlibInflate(flipped).has_value());

  EXPECT_FALSE(zlibInflate(QByteArray("this is not a zlib stream")).has_value());
  EXPECT_FALSE(zlibInflate(randomBytes(4096, 9)).has_value());
  EXPECT_FALSE(zlibInflate(QByteArray("\x1f\x8b\x08\x00", 4)).has_value());  // a gzip header
}

TEST(ZlibTest, TrailingBytesAfterTheStreamAreIgnored) {
  const QByteArray packed = *zlibDeflate("payload");
  EXPECT_EQ(*zlibInflate(packed + "junk"), "payload");
}

TEST(ZlibTest, ABombIsRefusedAtTheLimitWhileAStreamEndingOnItPasses) {
  const QByteArray zeros(8 * 1024 * 1024, '\0');
  const QByteArray bomb = *zlibDeflate(zeros);
  ASSERT_LT(bomb.size(), 64 * 1024);
  EXPECT_FALSE(zlibInflate(bomb, 1024 * 1024).has_value());
  EXPECT_FALSE(zlibInflate(bomb, zeros.size() - 1).has_value());
  ASSERT_TRUE(zlibInflate(bomb, zeros.size()).has_value());
  EXPECT_EQ(zlibInflate(bomb, zeros.size())->size(), zeros.size());
  EXPECT_EQ(zlibInflate(bomb)->size(), zeros.size());
}

TEST(ZlibTest, CapsBelowTheFirstBufferSizeHoldExactly) {
  // Every cap from none to past the text: the text comes back exactly when it fits.
  const QByteArray text("a short text of forty-four bytes, say, here");
  const QByteArray packed = *zlibDeflate(text);
  for (qsizetype cap = 0; cap <= text.size() + 70; ++cap) {
    auto unpacked = zlibInflate(packed, cap);
    if (cap < text.size()) {
      EXPECT_FALSE(unpacked.has_value()) << cap;
    } else {
      ASSERT_TRUE(unpacked.has_value()) << cap;
      EXPECT_EQ(*unpacked, text) << cap;
    }
  }
}

}  // namespace
