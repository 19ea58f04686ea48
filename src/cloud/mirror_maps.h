#pragma once
// The maps of a Dropbox mirror folder, sorted for a start: the ".orrx" files that no record
// names and that the status file neither lets go nor sets aside. Such a file is a save whose
// status write never landed (the process was killed in between), a file the status file no
// longer knows (an older or damaged status file, a lost record), or a copy put there by hand.
// Nothing here deletes a file: a file goes back to the record of its map, gets a record of its
// own, or is set aside. Every readable file is one version of a map; versions of one map share
// its root idea. Saves are ordered by the number the engine gave their
// file names, never by a clock. A file that holds no readable map is logged and left alone.
// Any thread.

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <memory>
#include <utility>
#include <vector>

#include "cloud/document_info.h"

namespace orrery {

class IdeaDocument;
class IdeaProxy;
class PartsAsTheyCome;

// The number the engine gave a mirror file it made ("file<ms>_<n>.orrx", "….index": n); a save
// made later has a higher one, whatever the clock did. -1 for any other name.
qint64 saveNumberOf(const QString& name);

// The highest number a name carries (18 digits). A count at it or above, which only damage
// makes, would give the next save a name that reads as no save number.
constexpr qint64 kHighestSaveNumber = 999'999'999'999'999'999;

// The highest of those numbers among the folder's file names, -1 for none; read from the
// listing's bytes, as an engine counts them before it has read anything else.
qint64 highestSaveNumberIn(const QString& folder);

// Every entry of the folder but its folders, in no order, with whether it is a link: names
// from the folder's own listing, so that nothing looks at each file apart.
std::vector<std::pair<QString, bool>> mirrorEntries(const QString& folder);

// The map of each document the local index lists (document identifier to its root idea), for
// records whose own file cannot be read.
QHash<QString, QString> mapsOfIndex(const std::vector<std::shared_ptr<IdeaProxy>>& proxies);

// The unnamed map files of a start, read while it goes on listing the folder: each batch of
// names goes to `parts` as it fills, so that helpers read it meanwhile. Every name is read
// once `parts` is finished.
class UnnamedMapReads {
 public:
  UnnamedMapReads(QString folder, PartsAsTheyCome& parts);
  ~UnnamedMapReads();
  UnnamedMapReads(const UnnamedMapReads&) = delete;
  UnnamedMapReads& operator=(const UnnamedMapReads&) = delete;

  void add(const QString& name);
  // Hands over the last batch; call before finishing `parts`.
  void flush();
  bool isEmpty() const { return mCount == 0; }
  qsizetype size() const { return mCount; }

  // Its names and what was read of them (defined where they are read).
  struct Batch;
  const QString& folder() const { return mFolder; }
  const std::vector<std::shared_ptr<Batch>>& batches() const { return mBatches; }

 private:
  QString mFolder;
  PartsAsTheyCome& mParts;
  std::vector<std::shared_ptr<Batch>> mBatches;
  qsizetype mCount = 0;
};

struct UnnamedMapFiles {
  struct Taken {
    QString name;
    // The record's earlier save goes, as a save would let it go. Without it the start only
    // guessed, and that file is set aside.
    bool earlierGoes = false;
  };
  // Record key to the file it takes as its edit: the newest save of its map made here, when the
  // record's own file is missing or unreadable, or an earlier save of the same map.
  QHash<QString, Taken> taken;
  // Files that get a record of their own: the newest save of a map no record holds (of each
  // installation that wrote one), a save made here that cannot be told apart from a record's
  // own, and every copy put there by hand.
  QStringList withoutRecord;
  // Kept by a guess, neither a map of their own nor to be removed: the earlier saves of a map
  // whose newest one is kept, and versions another installation wrote of a map a record holds.
  QStringList setAside;
  // Records that name only files that are gone and were never sent: nothing of them is left.
  QStringList dropped;
  // Earlier saves the status lets go of: their map's newer save reads, or a later one replaced
  // it. Removed.
  QStringList earlierGo;
  // Record key to its earlier saves, of a map no unnamed file holds: looked at later
  // (lookAtEarlierSaves), so that the home need not wait for it.
  QHash<QString, QStringList> unchecked;
  // The maps read of the files that get a record of their own, and of those a record takes,
  // for their list entries.
  QHash<QString, std::shared_ptr<IdeaDocument>> maps;
};

// The maps in these files of the folder, by name; a file that holds none is left out (logged).
QHash<QString, std::shared_ptr<IdeaDocument>> readMaps(const QString& folder, const QStringList& names);

struct EarlierSavesOf {
  QString newest;  // the file the record names
  QStringList earlier;
};
struct EarlierSavesLookedAt {
  QStringList go;                    // the newer save reads, or another earlier save stands in
  QHash<QString, QString> fallBack;  // key to the earlier save that stands in for an unreadable newest
};
// Reads each record's newest file: when it holds a map, the earlier saves go; when not, the
// newest earlier save that does takes its place.
EarlierSavesLookedAt lookAtEarlierSaves(const QString& folder, const QHash<QString, EarlierSavesOf>& saves);

// `unnamed`: the files to sort, read; `present`: every file name in the folder; `indexMaps`: as
// mapsOfIndex gives them; `earlier`: record key to the earlier saves of its map the status lets
// go of (still there); `word`: the status file is one the engine wrote with its word on its
// files, so a record's earlier save that a later one replaces may go. A record whose newest
// file cannot be read takes its newest earlier save that can. Named files are read only for
// the maps of unnamed files (the index says which) and for records with earlier saves, and
// only the newest one a record names.
UnnamedMapFiles sortUnnamedMapFiles(const UnnamedMapReads& unnamed, const QSet<QString>& present,
                                    const QHash<QString, DocumentInfoPtr>& records,
                                    const QHash<QString, QString>& indexMaps,
                                    const QHash<QString, QStringList>& earlier, bool word);

}  // namespace orrery
