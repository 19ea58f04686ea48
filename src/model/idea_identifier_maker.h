#pragma once

#include <QString>

#include <algorithm>
#include <atomic>
#include <cstdint>

namespace orrery {

// New identifiers, "id<seconds>_<counter>": the time formatted once per maker, so a copy of a
// large tree does not read the clock and format a number through printf for every idea.
class IdentifierMaker {
 public:
  IdentifierMaker();

  QString next() const { return format(++sCounter); }

  // Numbers taken from the counter a block at a time, for one thread of a copy made on several:
  // the threads do not queue for the counter's cache line. Numbers left in a block are skipped.
  struct Block {
    std::uint64_t next = 0;
    std::uint64_t end = 0;
  };
  QString next(Block& block) const {
    constexpr std::uint64_t kSize = 256;
    if (block.next == block.end) {
      block.next = sCounter.fetch_add(kSize) + 1;
      block.end = block.next + kSize;
    }
    return format(block.next++);
  }

 private:
  QString format(std::uint64_t number) const {
    const auto counter = static_cast<int>(static_cast<std::uint32_t>(number));
    char digits[12];
    char* end = digits + sizeof digits;
    char* at = end;
    auto magnitude = static_cast<std::uint32_t>(counter < 0 ? -static_cast<std::int64_t>(counter) : counter);
    do {
      *--at = char('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (counter < 0) *--at = '-';
    QString identifier(mPrefix.size() + (end - at), Qt::Uninitialized);
    QChar* out = std::copy(mPrefix.cbegin(), mPrefix.cend(), identifier.data());
    for (; at != end; ++at) *out++ = QLatin1Char(*at);
    return identifier;
  }

  // Process-wide, so the first identifier of a run ends in "_1".
  static std::atomic<std::uint64_t> sCounter;
  QString mPrefix;
};

}  // namespace orrery
