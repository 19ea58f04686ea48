#include "model/idea_merge.h"

#include "model/color.h"
#include "model/icon_image.h"

#include <QCryptographicHash>
#include <QHash>

#include <algorithm>
#include <functional>

namespace orrery {

// Reads and writes the fields of ideas directly: links included, no target lookups.
struct IdeaMergeAccess {
  struct Place {
    const Idea* idea = nullptr;
    QString parent;       // empty for the root
    QString predecessor;  // the sibling before it, empty when first
  };
  using Index = QHash<QString, Place>;

  static Index index(const IdeaPtr& root) {
    Index places;
    if (!root) return places;
    std::function<void(const Idea&, const QString&)> visit = [&](const Idea& idea, const QString& parent) {
      QString previous;
      for (const IdeaPtr& child : idea.mIdeas) {
        if (!places.contains(child->mIdentifier)) places.insert(child->mIdentifier, {child.get(), parent, previous});
        previous = child->mIdentifier;
        visit(*child, child->mIdentifier);
      }
    };
    places.insert(root->mIdentifier, {root.get(), QString(), QString()});
    visit(*root, root->mIdentifier);
    return places;
  }

  // One value of an idea as the merge sees it: compared as the file stores it, never by the
  // identity of a shared object (every read of a file makes new icons and pictures).
  struct Field {
    const char* name;
    bool (*same)(const Idea&, const Idea&);
    void (*take)(const Idea& from, Idea& into);
    // The value as the file stores it, for fingerprints (only of lost values: the images' PNG
    // encoding is not for every comparison).
    QByteArray (*stored)(const Idea&);
  };
  static const std::vector<Field>& fields() {
    static const std::vector<Field> all = {
        {"type", [](const Idea& a, const Idea& b) { return a.mIdeaType == b.mIdeaType; },
         [](const Idea& f, Idea& i) { i.mIdeaType = f.mIdeaType; },
         [](const Idea& i) { return QByteArray::number(int(i.mIdeaType)); }},
        {"link", [](const Idea& a, const Idea& b) { return a.ex().linkedIdentifier == b.ex().linkedIdentifier; },
         [](const Idea& f, Idea& i) { i.mut().linkedIdentifier = f.ex().linkedIdentifier; },
         [](const Idea& i) { return i.ex().linkedIdentifier.toUtf8(); }},
        {"text", [](const Idea& a, const Idea& b) { return a.mText == b.mText; },
         [](const Idea& f, Idea& i) { i.mText = f.mText; }, [](const Idea& i) { return i.mText.toUtf8(); }},
        {"URL", [](const Idea& a, const Idea& b) { return a.ex().url == b.ex().url; },
         [](const Idea& f, Idea& i) { i.mut().url = f.ex().url; }, [](const Idea& i) { return i.ex().url.toUtf8(); }},
        {"note", [](const Idea& a, const Idea& b) { return a.ex().note == b.ex().note; },
         [](const Idea& f, Idea& i) { i.mut().note = f.ex().note; },
         [](const Idea& i) { return i.ex().note.toUtf8(); }},
        {"color", [](const Idea& a, const Idea& b) { return Color::same(a.mColor, b.mColor); },
         [](const Idea& f, Idea& i) { i.mColor = f.mColor; },
         [](const Idea& i) { return i.mColor ? "+" + i.mColor->name().toUtf8() : QByteArray(); }},
        {"icon", [](const Idea& a, const Idea& b) { return IconImage::same(a.ex().icon, b.ex().icon); },
         [](const Idea& f, Idea& i) { i.mut().icon = f.ex().icon; },
         [](const Idea& i) {
           const IconImagePtr& icon = i.ex().icon;
           return icon ? pieces({icon->name().toUtf8(), icon->category().toUtf8(), icon->symbol().toUtf8()})
                       : QByteArray();
         }},
        // The small picture goes with the big one.
        {"image",
         [](const Idea& a, const Idea& b) { return a.ex().bigImageData == b.ex().bigImageData && sameImage(a, b); },
         [](const Idea& f, Idea& i) {
           i.mut().image = f.ex().image;
           i.mut().bigImageData = f.ex().bigImageData;
         },
         [](const Idea& i) {
           const KitImage& small = i.ex().image;
           return pieces({i.ex().bigImageData, small.isNull() ? QByteArray() : "+" + small.pngData()});
         }},
        {"theme", [](const Idea& a, const Idea& b) { return a.colorThemeTypeValue == b.colorThemeTypeValue; },
         [](const Idea& f, Idea& i) { i.colorThemeTypeValue = f.colorThemeTypeValue; },
         [](const Idea& i) { return QByteArray::number(int(i.colorThemeTypeValue)); }},
    };
    return all;
  }

  // Texts one after another, each after its length, so that no two lists run together alike.
  static QByteArray pieces(std::initializer_list<QByteArray> texts) {
    QByteArray out;
    for (const QByteArray& text : texts) out += QByteArray::number(text.size()) + ':' + text;
    return out;
  }

  // Our changed values, field by field, written into `into`, which holds theirs.
  static void mergeValues(const Idea& base, const Idea& ours, const Idea& theirs, Idea& into,
                          std::vector<IdeaMergeConflict>& conflicts) {
    for (const Field& field : fields()) {
      if (field.same(ours, base)) continue;
      if (!field.same(theirs, base) && !field.same(ours, theirs))
        conflicts.push_back(lost(theirs, QString::fromLatin1(field.name)));
      field.take(ours, into);
    }
  }

  // The loss of `idea`'s value `what`, as the other side had it.
  static IdeaMergeConflict lost(const Idea& idea, const QString& what) {
    return {idea.mIdentifier, what, {}, {}, ideaValueFingerprint(idea, what)};
  }

  static bool sameImage(const Idea& a, const Idea& b) {
    const KitImage &x = a.ex().image, &y = b.ex().image;
    return x.isNull() == y.isNull() && (x.isNull() || x.pngData() == y.pngData());
  }

  static bool sameValues(const Idea& a, const Idea& b) {
    return std::all_of(fields().begin(), fields().end(), [&](const Field& field) { return field.same(a, b); });
  }

  static IdeaPtr lonelyCopy(const Idea& source) {
    IdeaPtr copy = Idea::createWithText(source.mText, source.mIdentifier);
    copy->mIdeaType = source.mIdeaType;
    copy->mColor = source.mColor;
    copy->mExtras = source.mExtras;
    copy->colorThemeTypeValue = source.colorThemeTypeValue;
    return copy;
  }

  static void detach(Idea& idea) {
    if (IdeaPtr parent = idea.mParent.lock()) {
      auto& siblings = parent->mIdeas;
      siblings.erase(std::remove_if(siblings.begin(), siblings.end(), [&](const IdeaPtr& s) { return s.get() == &idea; }),
                     siblings.end());
    }
    idea.mParent.reset();
  }

  // Puts `idea` under `parent` right after the child `predecessor` (first when there is none).
  static void place(const IdeaPtr& idea, const IdeaPtr& parent, const QString& predecessor) {
    detach(*idea);
    auto& siblings = parent->mIdeas;
    auto at = siblings.begin();
    if (!predecessor.isEmpty()) {
      auto found = std::find_if(siblings.begin(), siblings.end(),
                                [&](const IdeaPtr& s) { return s->mIdentifier == predecessor; });
      if (found != siblings.end()) at = found + 1;
    }
    siblings.insert(at, idea);
    idea->mParent = parent;
  }

  static IdeaMergeResult merge(const IdeaPtr& base, const IdeaPtr& ours, const IdeaPtr& theirs) {
    IdeaMergeResult result;
    if (!ours) return {theirs ? theirs->snapshotCopy() : nullptr, {}};
    if (!base || !theirs || base->mIdentifier != ours->mIdentifier || theirs->mIdentifier != ours->mIdentifier) {
      result.idea = ours->snapshotCopy();
      if (theirs) result.conflicts.push_back(lost(*theirs, QStringLiteral("changed")));
      return result;
    }
    const Index baseIndex = index(base), ourIndex = index(ours), theirIndex = index(theirs);
    result.idea = theirs->snapshotCopy();
    QHash<QString, IdeaPtr> merged;
    result.idea->traverseNaturally(
        [&](const IdeaPtr& idea, qint64) {
          if (!merged.contains(idea->mIdentifier)) merged.insert(idea->mIdentifier, idea);
        },
        0);

    // Ours in pre-order, so that parents and preceding siblings are in place first.
    std::vector<const Idea*> ourOrder;
    ours->traverseNaturally([&](const IdeaPtr& idea, qint64) { ourOrder.push_back(idea.get()); }, 0);
    for (const Idea* mine : ourOrder) {
      const QString& id = mine->mIdentifier;
      const Place& ourPlace = ourIndex[id];
      if (ourPlace.idea != mine) continue;  // a repeated identifier: the first one counts
      const auto inBase = baseIndex.constFind(id);
      IdeaPtr target = merged.value(id);
      bool placedByUs = inBase == baseIndex.constEnd() || inBase->parent != ourPlace.parent ||
                        inBase->predecessor != ourPlace.predecessor;
      if (!target) {
        if (inBase != baseIndex.constEnd()) {
          // They deleted it. It comes back only when we changed it meanwhile.
          result.theirDeletions << id;
          if (!placedByUs && sameValues(*inBase->idea, *mine)) continue;
          result.conflicts.push_back(lost(*inBase->idea, QStringLiteral("deleted")));
        }
        target = lonelyCopy(*mine);
        merged.insert(id, target);
        placedByUs = true;
      } else if (inBase != baseIndex.constEnd()) {
        mergeValues(*inBase->idea, *mine, *theirIndex[id].idea, *target, result.conflicts);
      } else if (!sameValues(*mine, *target)) {
        // Both made an idea of this identifier: each value either side gave it stays, ours
        // where both did, and theirs is then lost.
        const IdeaPtr blank = Idea::createWithText(QString(), id);
        mergeValues(*blank, *mine, *target, *target, result.conflicts);
      }
      if (!placedByUs || ourPlace.parent.isEmpty()) continue;
      // Under our parent when it still exists, else under the nearest of our ancestors that does.
      IdeaPtr parent;
      for (QString up = ourPlace.parent; !parent && !up.isEmpty(); up = ourIndex.value(up).parent) parent = merged.value(up);
      if (!parent) parent = result.idea;
      if (parent->couldMyChildBeDescendantOfIdeaWithIdentifier(id))
        continue;  // never into its own subtree
      place(target, parent, ourPlace.predecessor);
    }

    // What we deleted goes, unless they changed it (their change is then lost).
    for (auto it = baseIndex.constBegin(); it != baseIndex.constEnd(); ++it) {
      if (ourIndex.contains(it.key())) continue;
      const IdeaPtr target = merged.value(it.key());
      if (!target) {
        result.theirDeletions << it.key();  // both deleted it
        continue;
      }
      const auto theirPlace = theirIndex.constFind(it.key());
      if (theirPlace != theirIndex.constEnd() && !sameValues(*it->idea, *theirPlace->idea))
        result.conflicts.push_back(lost(*theirPlace->idea, QStringLiteral("changed")));
      detach(*target);
    }
    result.idea->ensureLinkConsistencyInSubTree();
    return result;
  }
};

void addReplacedTree(std::vector<ReplacedTree>& trees, ReplacedTree tree) {
  if (!tree.tree) return;
  std::erase_if(trees, [&](const ReplacedTree& held) {
    return held.instance == tree.instance && held.installation == tree.installation;
  });
  trees.push_back(std::move(tree));
}

bool sameIdeaValue(const Idea& a, const Idea& b, const QString& what) {
  for (const IdeaMergeAccess::Field& field : IdeaMergeAccess::fields())
    if (what == QLatin1String(field.name)) return field.same(a, b);
  return true;
}

QStringList differingIdeaValues(const Idea& a, const Idea& b) {
  QStringList names;
  for (const IdeaMergeAccess::Field& field : IdeaMergeAccess::fields())
    if (!field.same(a, b)) names << QString::fromLatin1(field.name);
  return names;
}

namespace {

// 64 bits: enough to tell apart the few values one idea loses.
QString shortHash(const QByteArray& bytes) {
  return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().left(16));
}

}  // namespace

QString ideaValueFingerprint(const Idea& idea, const QString& what) {
  const bool whole = what == QLatin1String("deleted") || what == QLatin1String("changed");
  QByteArray values;
  for (const IdeaMergeAccess::Field& field : IdeaMergeAccess::fields())
    if (whole || what == QLatin1String(field.name)) values += IdeaMergeAccess::pieces({field.name, field.stored(idea)});
  return shortHash(values);
}

IdeaMergeConflict lossOfInstance(IdeaMergeConflict conflict, const ReplacedTree& loser) {
  conflict.instance = loser.instance;
  conflict.installation = loser.installation;
  const platform::FileStamp& v = loser.version;
  if (!v.exists) return conflict;
  conflict.lostValue = shortHash(IdeaMergeAccess::pieces(
      {conflict.lostValue.toLatin1(), QByteArray::number(qulonglong(v.device)), QByteArray::number(qulonglong(v.inode)),
       QByteArray::number(v.size), QByteArray::number(v.modifiedNanos), QByteArray::number(v.changedNanos)}));
  return conflict;
}

IdeaPtr ideaValuesOf(const Idea& source) { return IdeaMergeAccess::lonelyCopy(source); }

IdeaMergeResult mergeIdeaTrees(const IdeaPtr& base, const IdeaPtr& ours, const IdeaPtr& theirs) {
  return IdeaMergeAccess::merge(base, ours, theirs);
}

}  // namespace orrery
