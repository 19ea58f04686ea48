#include "cloud/mirror_maps.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "cloud/regular_file.h"
#include "foundation/globals.h"
#include "foundation/logging.h"
#include "model/concurrent_parts.h"
#include "model/document_limits.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "model/idea_proxy.h"

namespace orrery {

namespace {

// A map is known by its root idea, which every version of it keeps (a creation date is not
// written with every version).
QString mapOf(const QString& rootIdea) { return rootIdea; }

struct Version {
  QString name;
  QString map;
  QString installation;
  qint64 modified = 0;
  qint64 number = -1;
  std::shared_ptr<IdeaDocument> doc;
};

// The mirror folder, open for the reads of many of its files: each name is then looked up in
// it alone, not along the whole path. Without it (it could not be opened) names go by path.
class Folder {
 public:
  explicit Folder(QString path)
      : mPath(std::move(path)), mFd(::open(QFile::encodeName(mPath).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
  ~Folder() {
    if (mFd >= 0) ::close(mFd);
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  const QString& path() const { return mPath; }
  RegularFileRead read(const QString& name, QByteArray* bytes, QString* why) const {
    if (mFd >= 0 && !name.contains(QLatin1Char('/')))
      return readRegularFile(name, DocumentLimits::kMaxJSONBytes, bytes, why, mFd);
    return readRegularFile(QDir(mPath).filePath(name), DocumentLimits::kMaxJSONBytes, bytes, why);
  }

 private:
  QString mPath;
  int mFd;
};

// The version in the file, or none; a file that is there and holds no readable map is logged.
std::optional<Version> readVersion(const Folder& folder, const QString& name) {
  QByteArray bytes;
  QString why;
  std::shared_ptr<IdeaDocument> doc;
  const RegularFileRead read = folder.read(name, &bytes, &why);
  if (read == RegularFileRead::Missing) return std::nullopt;
  if (read == RegularFileRead::Read) {
    DocumentError error;
    doc = IdeaDocument::fromFileBytes(bytes, /*compressed=*/true, &error);
    why = error.description;
  }
  if (!doc || !doc->idea()) {
    logLine(QStringLiteral("Dropbox: %1 holds no readable map: %2; it is left in place")
                .arg(QDir(folder.path()).filePath(name), why));
    return std::nullopt;
  }
  Version version;
  version.name = name;
  version.map = mapOf(doc->idea()->identifier());
  version.installation = doc->appInstallation();
  version.modified = doc->dateModified().isValid() ? doc->dateModified().toMSecsSinceEpoch() : 0;
  version.number = saveNumberOf(name);
  version.doc = std::move(doc);
  return version;
}

// What a start knows of one record of a map that unnamed files hold.
struct Holder {
  QString key;
  std::optional<Version> file;  // the newest file it names, when readable
  bool namesEdit = false;       // that file is an edit not yet sent
  QString fallback;             // the newest earlier save that reads, when the newest file does not
};

bool later(const Version& a, const Version& b) {
  return a.number > b.number || (a.number == b.number && a.name < b.name);
}

// The newest of the earlier saves that reads.
std::optional<Version> newestReadable(const Folder& folder, const QStringList& names) {
  std::optional<Version> newest;
  for (const QString& name : names)
    if (auto version = readVersion(folder, name); version && (!newest || later(*version, *newest)))
      newest = std::move(version);
  return newest;
}

// As many as kHighestSaveNumber has: a longer number is no save number.
constexpr std::size_t kSaveNumberDigits = 18;

// "file" [-] digits "_" digits ("." "orrx" | "." "index"): the digits after "_", read by
// hand, as a start looks at every name in the mirror; -1 for any other name. Over UTF-16 or
// the listing's bytes alike.
template <class Char>
qint64 numberOfName(std::basic_string_view<Char> rest) {
  const auto starts = [&](std::string_view with) {
    return rest.size() >= with.size() &&
           std::equal(with.begin(), with.end(), rest.begin(), [](char a, Char b) { return Char(a) == b; });
  };
  const auto is = [&](std::string_view whole) { return rest.size() == whole.size() && starts(whole); };
  const auto isDigit = [](Char c) { return c >= Char('0') && c <= Char('9'); };
  if (!starts("file")) return -1;
  rest.remove_prefix(4);
  if (starts("-")) rest.remove_prefix(1);
  std::size_t at = 0;
  while (at < rest.size() && isDigit(rest[at])) ++at;
  if (at == 0 || at >= rest.size() || rest[at] != Char('_')) return -1;
  rest.remove_prefix(at + 1);
  at = 0;
  qint64 number = 0;
  while (at < rest.size() && at < kSaveNumberDigits && isDigit(rest[at]))
    number = number * 10 + (rest[at++] - Char('0'));
  rest.remove_prefix(at);
  return at > 0 && (is(".orrx") || is(".index")) ? number : -1;
}

// Small enough that the first helper begins while the folder is still being listed, large
// enough that handing over costs nothing next to reading.
constexpr qsizetype kNamesPerBatch = 8;

}  // namespace

struct UnnamedMapReads::Batch {
  QString folder;
  QStringList names;
  bool handedOver = false;
  std::vector<std::optional<Version>> versions;  // once read

  void read() {
    const Folder open(folder);
    versions.reserve(std::size_t(names.size()));
    for (const QString& name : names) versions.push_back(readVersion(open, name));
  }
};

UnnamedMapReads::UnnamedMapReads(QString folder, PartsAsTheyCome& parts) : mFolder(std::move(folder)), mParts(parts) {}

UnnamedMapReads::~UnnamedMapReads() = default;

void UnnamedMapReads::add(const QString& name) {
  if (mBatches.empty() || mBatches.back()->handedOver) {
    mBatches.push_back(std::make_shared<Batch>());
    mBatches.back()->folder = mFolder;
  }
  mBatches.back()->names << name;
  ++mCount;
  if (mBatches.back()->names.size() == kNamesPerBatch) flush();
}

void UnnamedMapReads::flush() {
  if (mBatches.empty() || mBatches.back()->handedOver) return;
  mBatches.back()->handedOver = true;
  mParts.add([batch = mBatches.back()] { batch->read(); });
}

qint64 saveNumberOf(const QString& name) {
  return numberOfName(std::u16string_view(reinterpret_cast<const char16_t*>(name.utf16()), std::size_t(name.size())));
}

qint64 highestSaveNumberIn(const QString& folder) {
  qint64 highest = -1;
  DIR* dir = ::opendir(QFile::encodeName(folder).constData());
  if (!dir) return highest;
  while (const dirent* entry = ::readdir(dir))
    highest = std::max(highest, numberOfName(std::string_view(entry->d_name)));
  ::closedir(dir);
  return highest;
}

QHash<QString, QString> mapsOfIndex(const ProxyList& proxies) {
  QHash<QString, QString> maps;
  maps.reserve(qsizetype(proxies.size()));
  for (const auto& proxy : proxies)
    if (proxy && !proxy->ideaIdentifier().isEmpty()) maps.insert(proxy->fileURL(), mapOf(proxy->ideaIdentifier()));
  return maps;
}

UnnamedMapFiles sortUnnamedMapFiles(const UnnamedMapReads& unnamed, const QSet<QString>& present,
                                    const QHash<QString, DocumentInfoPtr>& records,
                                    const QHash<QString, QString>& indexMaps,
                                    const QHash<QString, QStringList>& earlier, bool word) {
  UnnamedMapFiles sorted;
  sorted.maps.reserve(unnamed.size());
  const Folder folder(unnamed.folder());
  QHash<QString, std::vector<Version>> waiting;
  for (const auto& batch : unnamed.batches())
    for (const auto& version : batch->versions)
      if (version) waiting[version->map].push_back(*version);

  QHash<QString, std::vector<Holder>> holders;
  std::vector<Holder> fallingBack;
  // Shared, not copied: most records' earlier saves are left for later as they are.
  sorted.unchecked = earlier;
  for (auto it = records.cbegin(); it != records.cend(); ++it) {
    const DocumentInfoPtr& record = it.value();
    const SyncFileInfoPtr& newest = SyncFileInfo::hasFile(record->output())    ? record->output()
                                    : SyncFileInfo::hasFile(record->current()) ? record->current()
                                                                               : record->input();
    if (!SyncFileInfo::hasFile(newest)) {
      sorted.unchecked.remove(it.key());
      continue;
    }
    // A map made here and never sent whose file is gone: nothing is left of it, unless an
    // earlier save or an unnamed file turns out to be its map.
    if (newest == record->output() && !record->input() && !record->current() && newest->rev().isNull() &&
        !present.contains(newest->name()))
      sorted.dropped << it.key();
    // A map no unnamed file can be of (the index says so) is not read now: its earlier saves
    // are looked at once the home shows it.
    if (waiting.isEmpty()) continue;
    const QString listed = indexMaps.value(it.key());
    if (!listed.isEmpty() && !waiting.contains(listed)) continue;
    const QStringList earlierSaves = sorted.unchecked.take(it.key());
    Holder holder{it.key(), present.contains(newest->name()) ? readVersion(folder, newest->name()) : std::nullopt,
                  newest == record->output(), QString()};
    QString map = holder.file ? holder.file->map : listed;
    if (holder.file) {
      sorted.earlierGo << earlierSaves;
    } else if (const auto fallback = newestReadable(folder, earlierSaves)) {
      holder.fallback = fallback->name;
      if (map.isEmpty()) map = fallback->map;
      for (const QString& name : earlierSaves)
        if (name != holder.fallback) sorted.earlierGo << name;
    } else {
      sorted.earlierGo << earlierSaves;
    }
    if (waiting.contains(map))
      holders[map].push_back(std::move(holder));
    else if (!holder.fallback.isEmpty())
      fallingBack.push_back(std::move(holder));
  }

  const QString here = Globals::appInstallation();
  for (auto it = waiting.begin(); it != waiting.end(); ++it) {
    std::vector<Version>& versions = it.value();
    std::sort(versions.begin(), versions.end(), later);
    static const std::vector<Holder> kNone;
    const auto holding = holders.constFind(it.key());
    const std::vector<Holder>& held = holding != holders.cend() ? *holding : kNone;
    // The one that may go back to a record: the newest save made here, else a copy by hand.
    const Version* edit = nullptr;
    for (const Version& v : versions)
      if (v.number >= 0 && v.installation == here) {
        edit = &v;
        break;
      }
    if (!edit)
      for (const Version& v : versions)
        if (v.number < 0) {
          edit = &v;
          break;
        }
    if (held.empty()) {
      // No record holds the map: the newest save of each installation is the map, each copy
      // by hand a map of its own.
      // The installations that wrote one: seldom more than one.
      std::vector<QString> writers;
      for (const Version& v : versions) {
        if (v.number < 0 || std::find(writers.begin(), writers.end(), v.installation) == writers.end())
          sorted.withoutRecord << v.name, sorted.maps.insert(v.name, v.doc);
        else
          sorted.setAside << v.name;
        if (v.number >= 0) writers.push_back(v.installation);
      }
      continue;
    }
    const Holder* to = nullptr;
    bool earlierGoes = false;
    if (edit) {
      std::vector<const Holder*> broken, older;
      for (const Holder& holder : held) {
        // A record that falls back on an earlier save takes only a later save made here.
        if (!holder.file &&
            (holder.fallback.isEmpty() || (edit->number > saveNumberOf(holder.fallback) && edit->installation == here)))
          broken.push_back(&holder);
        else if (edit->number >= 0 && holder.file->number >= 0 && holder.file->number < edit->number &&
                 (!holder.namesEdit || holder.file->installation == edit->installation))
          older.push_back(&holder);
      }
      if (broken.size() == 1) {
        to = broken.front();
      } else if (broken.empty() && older.size() == 1) {
        to = older.front();
        // The clock decides nothing but may keep a file: an earlier save whose map says it was
        // changed after the later one stays, set aside.
        earlierGoes = word && to->namesEdit && to->file->modified <= edit->modified;
      }
    }
    if (to) {
      sorted.taken.insert(to->key, {edit->name, earlierGoes});
      sorted.maps.insert(edit->name, edit->doc);
      sorted.dropped.removeAll(to->key);
      if (!to->fallback.isEmpty()) sorted.earlierGo << to->fallback;
    }
    for (const Holder& holder : held)
      if (&holder != to && !holder.fallback.isEmpty()) fallingBack.push_back(holder);
    for (const Version& v : versions) {
      if (to && &v == edit) continue;
      // A save made here that no record can be said to be older than stays a map of its own.
      const bool newestHere =
          &v == edit && v.number >= 0 && std::none_of(held.begin(), held.end(), [&](const Holder& h) {
            return h.file && h.file->number >= 0 && h.file->number > v.number;
          });
      if (v.number < 0 || newestHere)
        sorted.withoutRecord << v.name, sorted.maps.insert(v.name, v.doc);
      else
        sorted.setAside << v.name;
    }
  }
  for (const Holder& holder : fallingBack) {
    sorted.taken.insert(holder.key, {holder.fallback, false});
    sorted.dropped.removeAll(holder.key);
  }
  sorted.withoutRecord.sort();
  sorted.setAside.sort();
  return sorted;
}

QHash<QString, std::shared_ptr<IdeaDocument>> readMaps(const QString& path, const QStringList& names) {
  QHash<QString, std::shared_ptr<IdeaDocument>> maps;
  const Folder folder(path);
  for (const QString& name : names)
    if (auto version = readVersion(folder, name)) maps.insert(name, std::move(version->doc));
  return maps;
}

EarlierSavesLookedAt lookAtEarlierSaves(const QString& path, const QHash<QString, EarlierSavesOf>& saves) {
  EarlierSavesLookedAt looked;
  const Folder folder(path);
  for (auto it = saves.cbegin(); it != saves.cend(); ++it) {
    if (readVersion(folder, it->newest)) {
      looked.go << it->earlier;
      continue;
    }
    const auto fallback = newestReadable(folder, it->earlier);
    if (fallback) looked.fallBack.insert(it.key(), fallback->name);
    for (const QString& name : it->earlier)
      if (!fallback || name != fallback->name) looked.go << name;
  }
  return looked;
}

std::vector<std::pair<QString, bool>> mirrorEntries(const QString& folder) {
  std::vector<std::pair<QString, bool>> entries;
  const QByteArray path = QFile::encodeName(folder);
  DIR* dir = ::opendir(path.constData());
  if (!dir) return entries;
  while (const dirent* entry = ::readdir(dir)) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    unsigned char type = entry->d_type;
    if (type == DT_UNKNOWN) {
      struct stat st {};
      if (::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
    }
    if (type == DT_DIR) continue;
    // The names are UTF-8, as Qt takes every local name on Linux; without the converter each
    // costs several times as much, and a start looks at all of them.
    entries.emplace_back(QString::fromUtf8(name), type == DT_LNK);
  }
  ::closedir(dir);
  return entries;
}

}  // namespace orrery
