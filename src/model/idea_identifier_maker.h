#pragma once
// New idea identifiers, "id<seconds>_<number>": the seconds since 1970 when the maker was made
// and a decimal number that no other process makes. The number is a process-wide counter
// (incremented before use) added to a base drawn once per process from the system's random
// source, 52 bits wide: two instances that add ideas to one map in the same second share an
// identifier only if their runs of numbers meet, about (ideas made by both) / 2^52, so about
// one chance in 4·10^9 for a million ideas between them. A pid would promise less: instances
// in their own pid namespaces (sandboxes, containers) or on two machines sharing a cloud
// folder have equal pids as often as not. Numbers stay below 2^53, whole in any reader that
// parses them as a double (a script of the web export). The time is formatted once per maker,
// so a copy of a large tree does not read the clock and format it for every idea.

#include <QString>

#include <algorithm>
#include <atomic>
#include <cstdint>

namespace orrery {

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

  // "id<seconds>_<number>" with the number's low 53 bits, as every identifier made here.
  static QString withNumber(const QString& prefix, std::uint64_t number);
  // "id<seconds>_" of an identifier of that form, else "id0_".
  static QString prefixOf(const QString& identifier);

 private:
  static constexpr std::uint64_t kNumberMask = (std::uint64_t{1} << 53) - 1;

  QString format(std::uint64_t count) const {
    std::uint64_t number = (mBase + count) & kNumberMask;
    char digits[20];
    char* end = digits + sizeof digits;
    char* at = end;
    do {
      *--at = char('0' + number % 10);
      number /= 10;
    } while (number != 0);
    QString identifier(mPrefix.size() + (end - at), Qt::Uninitialized);
    QChar* out = std::copy(mPrefix.cbegin(), mPrefix.cend(), identifier.data());
    for (; at != end; ++at) *out++ = QLatin1Char(*at);
    return identifier;
  }

  static std::atomic<std::uint64_t> sCounter;
  QString mPrefix;
  std::uint64_t mBase;
};

}  // namespace orrery
