// Two engines, each with its own mirror folder, on one app folder, driven by seeded scripts
// of creates, edits, deletes, peer writes, moves and deletes, and conflicting edits, first
// with faults and then without. Each document's text is its history: every save appends its
// own mark to the text it was based on, so a save survives exactly when its mark is in some
// file of the app folder.

#include "cloud/dropbox_sync_rules.h"
#include "support/dropbox_engine_fixture.h"

#include <QFile>

#include <map>
#include <random>
#include <set>

using namespace orrery;
using namespace orrery::testing;
using testsupport::FakeRemote;
using Route = FakeRemote::Route;
using Fault = FakeRemote::Fault;

namespace {

constexpr int kScripts = 200;
constexpr int kStepsPerScript = 6;

class DropboxConvergenceTest : public DropboxEngineFixture {
 protected:
  void save(int who, const QString& id, const QString& text, bool create) {
    auto& engine = *engines[std::size_t(who)];
    auto doc = documentWithText(id, text);
    const QString mark = text.section(';', -1);
    auto acknowledged = [this, id, mark](bool ok) {
      if (ok) acks.push_back({id, mark});
    };
    if (create)
      engine.createDocument(doc, [acknowledged](DocumentToken t) { acknowledged(t > 0); });
    else
      engine.updateDocument(doc, 1, acknowledged);
  }
  // Passes run for a while, remote answers included.
  void run(double seconds) {
    const double until = main.clock->now() + seconds;
    pump([&] { return main.clock->now() >= until; });
  }
  // Settles, polls and settles again until the app folder stops changing.
  bool converge() {
    std::map<QString, QString> last;
    for (int round = 0; round < 12; ++round) {
      if (!settle()) return false;
      std::map<QString, QString> now;
      for (const QString& p : remote->livePaths()) now[p] = remote->revOf(p);
      if (round > 1 && now == last) return true;
      last = now;
      main.advance(31);
    }
    return false;
  }
  // A save's mark: its own part of the text.
  QString mirrorBytesMatch(DropboxFolderManager& engine) {
    QStringList problems;
    std::set<QString> remoteDocs;
    for (const QString& p : remote->livePaths())
      if (p.endsWith(".orrx")) remoteDocs.insert(p);
    std::set<QString> local;
    const auto& docs = engine.state().docs();
    for (auto it = docs.cbegin(); it != docs.cend(); ++it) {
      const auto& r = it.value();
      if (r->input() || r->output()) problems << "pending " + it.key();
      if (!SyncFileInfo::hasFile(r->current())) continue;
      const QString path = dropboxrules::dropboxPathFromFileURL(it.key());
      local.insert(path);
      QFile f(engine.localManagedFile(r->current()->name()));
      f.open(QIODevice::ReadOnly);
      if (f.readAll() != remote->contentOf(path)) problems << "bytes " + path;
      if (r->current()->rev() != remote->revOf(path)) problems << "rev " + path;
    }
    if (local != remoteDocs) problems << QString("lists %1 documents of %2").arg(local.size()).arg(remoteDocs.size());
    return problems.join(", ");
  }

  struct Ack {
    QString id;
    QString mark;
  };
  std::vector<Ack> acks;
  QStringList log;
};

}  // namespace

TEST_F(DropboxConvergenceTest, TwoMirrorsSettleToTheAppFolderAndKeepEveryAcknowledgedSave) {
  startEngine();
  startEngine();
  ASSERT_TRUE(converge());
  std::set<QString> exempt;                // marks in documents an engine deleted: those saves may go
  std::set<QString> untouchedDeletes;      // deleted by an engine that had them, raced by nothing
  std::set<QString> touched;               // changed since the last settling
  int docCounter = 0, markCounter = 0;
  for (int script = 0; script < kScripts; ++script) {
    std::mt19937 random(std::uint32_t(script) * 7919u + 17u);
    auto pick = [&](int n) { return int(random() % std::uint32_t(n)); };
    const bool faults = script % 2 == 0;
    std::vector<QString> ids;
    for (const QString& p : remote->livePaths())
      if (p.endsWith(".orrx")) ids.push_back(dropboxrules::fileURLFromDropboxPath(p));
    for (int step = 0; step < kStepsPerScript; ++step) {
      if (faults && pick(3) == 0) {
        const Route routes[] = {Route::List, Route::Upload, Route::Download, Route::Metadata, Route::Delete};
        const Fault kinds[] = {Fault::Network, Fault::ServerError, Fault::RateLimited, Fault::Auth, Fault::Silence};
        remote->failNext(routes[pick(5)], kinds[pick(5)]);
      }
      const int who = pick(2);
      const int action = ids.empty() ? 0 : pick(8);
      const QString mark = QString("m%1").arg(++markCounter);
      if (action == 0) {
        const QString id = QString("dropbox:/id%1_%2.orrx").arg(script).arg(++docCounter);
        save(who, id, mark, /*create=*/true);
        log << QString("s%1 e%2 create %3 %4").arg(script).arg(who).arg(id, mark);
        ids.push_back(id);
      } else if (action <= 2 || action == 7) {
        const QString id = ids[std::size_t(pick(int(ids.size())))];
        untouchedDeletes.erase(id);
        touched.insert(id);
        const int editors = action == 7 ? 2 : 1;  // 7: both engines edit before either syncs
        for (int e = 0; e < editors; ++e) {
          const int editor = editors == 2 ? e : who;
          const QString base = fetchText(*engines[std::size_t(editor)], id);
          if (!base.isNull()) save(editor, id, base + ";" + mark + QString::number(e), /*create=*/false);
          log << QString("s%1 e%2 edit %3 %4 on [%5]").arg(script).arg(editor).arg(id, mark + QString::number(e), base);
        }
      } else if (action == 3) {
        const QString id = ids[std::size_t(pick(int(ids.size())))];
        const auto known = engines[std::size_t(who)]->state().docs().value(id);
        const QString local = fetchText(*engines[std::size_t(who)], id);
        const QString path = dropboxrules::dropboxPathFromFileURL(id);
        for (const QString& m : (local + ";" + textOfDocumentBytes(remote->contentOf(path))).split(';')) exempt.insert(m);
        engines[std::size_t(who)]->deleteDocument(id, nullptr);
        log << QString("s%1 e%2 delete %3").arg(script).arg(who).arg(id);
        if (!touched.count(id) && known && SyncFileInfo::hasFile(known->current())) untouchedDeletes.insert(id);
        touched.insert(id);
      } else {
        const QString id = ids[std::size_t(pick(int(ids.size())))];
        const QString path = dropboxrules::dropboxPathFromFileURL(id);
        untouchedDeletes.erase(id);
        touched.insert(id);
        if (!remote->file(path)) continue;
        if (action == 4 || action == 5) {
          remote->peerWrite(path, documentBytes(textOfDocumentBytes(remote->contentOf(path)) + ";" + mark));
          log << QString("s%1 peer write %2 %3").arg(script).arg(id, mark);
        } else if (action == 6) {
          const QString to = QString("/id%1_moved%2.orrx").arg(script).arg(++docCounter);
          remote->peerMove(path, to);
          log << QString("s%1 peer move %2 %3").arg(script).arg(id, to);
          ids.push_back(dropboxrules::fileURLFromDropboxPath(to));
        }
      }
      run(pick(4) * 0.5);
    }
    if (faults) continue;
    // Faults off: everything settles.
    ASSERT_TRUE(converge()) << "script " << script;
    touched.clear();
    for (auto& engine : engines) ASSERT_EQ(mirrorBytesMatch(*engine), "") << "script " << script;
    QString all;
    for (const QString& p : remote->livePaths()) all += textOfDocumentBytes(remote->contentOf(p)) + "\n";
    for (const Ack& ack : acks) {
      if (exempt.count(ack.mark)) continue;
      ASSERT_TRUE(all.contains(ack.mark + ";") || all.contains(ack.mark + "\n"))
          << "lost save " << qPrintable(ack.mark) << " of " << qPrintable(ack.id) << " by script " << script << "\n"
          << qPrintable(log.filter(ack.id).join("\n"));
    }
    for (const QString& id : untouchedDeletes)
      EXPECT_FALSE(remote->file(dropboxrules::dropboxPathFromFileURL(id))) << qPrintable(id) << " came back";
  }
}
