#pragma once
// The identifiers the links of a tree being copied name, each with the first copy found to
// carry it. Keyed by hashes taken while the ideas were at hand, so a look-up reads the
// characters of an identifier only where the hashes agree, and a bit field of the hashes turns
// nearly every other identifier away before the table is read at all.

#include <QString>
#include <QStringView>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orrery {

class Idea;

class IdeaLinkTargets {
 public:
  struct Target {
    size_t hash = 0;
    QStringView identifier;
    Idea* first = nullptr;
    bool used = false;
  };

  // Room for `links` different identifiers; the targets never move.
  explicit IdeaLinkTargets(size_t links) : mTargets(std::bit_ceil(2 * links + 1)), mFilter(kFilterBits / 64) {}

  // The target of `identifier`, added when new.
  Target& add(size_t hash, QStringView identifier) {
    Target& target = slot(hash, identifier);
    if (!target.used) {
      target = {hash, identifier, nullptr, true};
      mFilter[filterBit(hash) / 64] |= std::uint64_t(1) << (filterBit(hash) % 64);
    }
    return target;
  }

  // The target of `identifier`, or none when no link names it.
  Target* find(size_t hash, QStringView identifier) {
    if (!(mFilter[filterBit(hash) / 64] >> (filterBit(hash) % 64) & 1)) return nullptr;
    Target& target = slot(hash, identifier);
    return target.used ? &target : nullptr;
  }

  void forgetCopies() {
    for (Target& target : mTargets) target.first = nullptr;
  }

 private:
  static constexpr size_t kFilterBits = size_t(1) << 18;
  // Bits above those that pick the slot, so the two sieves are not the same one.
  static size_t filterBit(size_t hash) { return (hash >> 20) % kFilterBits; }

  Target& slot(size_t hash, QStringView identifier) {
    const size_t mask = mTargets.size() - 1;
    for (size_t at = hash & mask;; at = (at + 1) & mask) {
      Target& target = mTargets[at];
      if (!target.used || (target.hash == hash && target.identifier == identifier)) return target;
    }
  }

  std::vector<Target> mTargets;  // at most half used, so every probe ends
  std::vector<std::uint64_t> mFilter;
};

}  // namespace orrery
