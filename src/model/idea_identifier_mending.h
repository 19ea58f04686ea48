#pragma once
// A tree read from a file may hold ideas of one identifier (written by versions whose
// identifiers two processes could both make, or by hand). Every lookup, edit and merge goes by
// identifier, so such ideas would take each other's edits: on reading, the later ones get
// identifiers of their own and nothing is dropped.
//
// Which one keeps it: the first non-link idea in pre-order, else the first link. Links are not
// changed, and a link to the identifier shows that idea: the one it showed before (a link
// resolves to the first idea of its target's identifier in pre-order), or, where a link
// holding the identifier came first and left it dangling, the idea a link can point at.
//
// The new identifiers follow from the tree alone: the repeated identifier, which repeat of it
// the idea is, and a hash, in the usual form ("id<seconds of the repeated one>_<number>").
// Two instances reading one file, and a merge reading its base again, so make the same ones,
// and an edit of a mended idea in one instance lands on the same idea in the other.

#include <QStringView>

#include <cstdint>
#include <vector>

namespace orrery {

class Idea;

// Gives each repeat of an identifier in the tree below `root` a new one; false when no
// identifier repeats (nothing is changed then).
bool mendRepeatedIdentifiers(Idea& root);

// While it lives, notes the identifier of every idea decoded on its thread, as the decoder
// reads it: a tree whose identifiers all differ (nearly every tree) then needs no second walk,
// which would cost an open of 100 000 ideas a sixth of its time. Watches nest; the innermost
// notes.
class IdentifierRepeatWatch {
 public:
  IdentifierRepeatWatch();
  ~IdentifierRepeatWatch();
  IdentifierRepeatWatch(const IdentifierRepeatWatch&) = delete;
  IdentifierRepeatWatch& operator=(const IdentifierRepeatWatch&) = delete;

  // Whether two of the identifiers noted may be one (they share a 64-bit hash).
  bool sawRepeat() const;
  // Nothing without a watch on this thread.
  static void note(QStringView identifier);

 private:
  // Only appended to while decoding: a table looked up at each idea would miss the cache at
  // nearly every one.
  std::vector<std::uint64_t> mHashes;
  IdentifierRepeatWatch* mOuter;
};

// `decode()`'s tree (an IdeaPtr, or several in a std::vector), its repeated identifiers mended.
template <class Decode>
auto decodeMendingRepeatedIdentifiers(Decode&& decode) {
  IdentifierRepeatWatch watch;
  auto decoded = decode();
  if (watch.sawRepeat()) {
    if constexpr (requires { decoded.begin(); }) {
      for (const auto& tree : decoded)
        if (auto* root = dynamic_cast<Idea*>(tree.get())) mendRepeatedIdentifiers(*root);
    } else if (decoded) {
      mendRepeatedIdentifiers(*decoded);
    }
  }
  return decoded;
}

}  // namespace orrery
