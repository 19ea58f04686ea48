#include "model/idea_identifier_mending.h"

#include "model/idea.h"
#include "model/idea_identifier_maker.h"

#include <QCryptographicHash>
#include <QHash>
#include <QSet>
#include <QStringView>

#include <algorithm>
#include <cstring>
#include <vector>

namespace orrery {

struct IdentifierMending {
  // The subtree in pre-order, without recursion.
  static std::vector<Idea*> preOrder(Idea& root) {
    std::vector<Idea*> order;
    std::vector<Idea*> stack{&root};
    while (!stack.empty()) {
      Idea* idea = stack.back();
      stack.pop_back();
      order.push_back(idea);
      for (auto child = idea->mIdeas.rbegin(); child != idea->mIdeas.rend(); ++child) stack.push_back(child->get());
    }
    return order;
  }

  // The `attempt`th candidate for repeat `repeat` of `identifier`: the same in every process.
  static QString candidate(const QString& identifier, qsizetype repeat, int attempt) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(identifier.toUtf8());
    hash.addData(QByteArray::number(repeat) + ':' + QByteArray::number(attempt));
    const QByteArray digest = hash.result();
    std::uint64_t number = 0;
    std::memcpy(&number, digest.constData(), sizeof number);
    return IdentifierMaker::withNumber(IdentifierMaker::prefixOf(identifier), number);
  }

  // The watch's hashes may meet by chance: the identifiers themselves settle it.
  static bool anyRepeats(const std::vector<Idea*>& ideas) {
    QSet<QStringView> seen;
    seen.reserve(qsizetype(ideas.size()));
    for (const Idea* idea : ideas) {
      const qsizetype before = seen.size();
      seen.insert(idea->mIdentifier);
      if (seen.size() == before) return true;
    }
    return false;
  }

  static bool mend(Idea& root) {
    const std::vector<Idea*> ideas = preOrder(root);
    if (!anyRepeats(ideas)) return false;

    // Each identifier's ideas in pre-order; the rest of the work only for those with several.
    QHash<QString, std::vector<Idea*>> holders;
    for (Idea* idea : ideas) holders[idea->mIdentifier].push_back(idea);
    QSet<QString> taken;
    taken.reserve(holders.size());
    for (auto it = holders.cbegin(); it != holders.cend(); ++it) taken.insert(it.key());
    // In pre-order of the repeats, so that the identifiers made do not depend on hash order.
    for (Idea* idea : ideas) {
      const auto found = holders.find(idea->mIdentifier);
      if (found == holders.end() || found->size() < 2) continue;
      const QString identifier = found.key();
      std::vector<Idea*> sharing = std::move(*found);
      holders.erase(found);
      auto keeper = std::find_if(sharing.begin(), sharing.end(), [](const Idea* i) { return !i->isLink(); });
      if (keeper == sharing.end()) keeper = sharing.begin();
      qsizetype repeat = 0;
      for (auto it = sharing.begin(); it != sharing.end(); ++it) {
        if (it == keeper) continue;
        ++repeat;
        QString made;
        for (int attempt = 0; made.isEmpty() || taken.contains(made); ++attempt) made = candidate(identifier, repeat, attempt);
        taken.insert(made);
        (*it)->mIdentifier = made;
      }
    }
    return true;
  }
};

bool mendRepeatedIdentifiers(Idea& root) { return IdentifierMending::mend(root); }

namespace {

thread_local IdentifierRepeatWatch* tWatch = nullptr;

}  // namespace

IdentifierRepeatWatch::IdentifierRepeatWatch() : mOuter(tWatch) { tWatch = this; }

IdentifierRepeatWatch::~IdentifierRepeatWatch() { tWatch = mOuter; }

void IdentifierRepeatWatch::note(QStringView identifier) {
  if (tWatch) tWatch->mHashes.push_back(qHash(identifier));
}

bool IdentifierRepeatWatch::sawRepeat() const {
  const std::size_t count = mHashes.size();
  // Dealt by their top bits into buckets of about 256, each checked in a table that stays in
  // the first-level cache.
  int bits = 0;
  while ((count >> bits) > 256) ++bits;
  auto bucketOf = [bits](std::uint64_t hash) { return bits == 0 ? std::size_t(0) : std::size_t(hash >> (64 - bits)); };
  std::vector<std::size_t> starts((std::size_t(1) << bits) + 1, 0);
  for (const std::uint64_t hash : mHashes) ++starts[bucketOf(hash) + 1];
  for (std::size_t b = 1; b < starts.size(); ++b) starts[b] += starts[b - 1];
  std::vector<std::uint64_t> dealt(count);
  std::vector<std::size_t> next(starts.begin(), starts.end() - 1);
  for (const std::uint64_t hash : mHashes) dealt[next[bucketOf(hash)]++] = hash;

  std::vector<std::uint64_t> table;
  for (std::size_t b = 0; b + 1 < starts.size(); ++b) {
    std::size_t size = 16;
    while (size < 2 * (starts[b + 1] - starts[b])) size *= 2;
    table.assign(size, 0);
    for (std::size_t i = starts[b]; i < starts[b + 1]; ++i) {
      const std::uint64_t hash = dealt[i] == 0 ? 1 : dealt[i];  // 0 marks a free slot
      std::size_t at = hash & (size - 1);
      while (table[at] != 0 && table[at] != hash) at = (at + 1) & (size - 1);
      if (table[at] == hash) return true;
      table[at] = hash;
    }
  }
  return false;
}

}  // namespace orrery
