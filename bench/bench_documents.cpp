// Opening and saving documents of 1 000 to 100 000 ideas (with and without pictures) through
// the persistence facade, and importing a 50 000-outline OPML file. Counters: "main_ms" is the
// time the main thread spends inside the call, "bytes" the size of the file written.
//
// Side by side with the document codec, its floors on the same bytes: BM_Decode opens in turns
// with inflating and parsing with simdjson only (its "ratio" to that floor, pair by pair, see
// interleaved_floor.h), BM_EncodeFloor copies the JSON into a buffer and compresses it.
// BM_Decode reports "peak_MiB" (resident memory the open document adds at its peak) and
// "json_MiB". BM_EncodeRepeatedNotes writes maps whose texts are runs of one character, in turns
// with compressing their JSON at the default level.

#include "interleaved_floor.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "model/known_color_themes.h"
#include "model/opml_parser.h"
#include "model/persistence_controller.h"

#include "foundation/data_extensions.h"
#include "platform/services/qt_main_queue.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <simdjson.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <fstream>
#include <map>
#include <string>

using namespace orrery;

namespace {

// Every wait has a bound: a save or open that never finishes ends the run with a message.
void spinUntil(const std::function<bool()>& done) {
  QElapsedTimer waited;
  waited.start();
  while (!done()) {
    if (waited.elapsed() > 120000) {
      std::fprintf(stderr, "bench_documents: the work waited for did not finish within 120 s\n");
      std::exit(1);
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
  }
}

IdeaPtr makeMap(int count, int pictures) {
  IdeaPtr root = Idea::createWithText("Benchmark map");
  std::vector<IdeaPtr> all{root};
  all.reserve(count);
  for (int i = 1; i < count; ++i) {
    IdeaPtr idea = Idea::createWithText(QString("Idea number %1 with a few words").arg(i));
    if (i % 5 == 0) idea->setNote(QString("A note for idea %1\nwith a second line").arg(i));
    idea->setColor(ColorTheme::standardThemes()[i % 4]->colors()[i % 7]);
    all[(i - 1) / 6]->addIdea(idea);
    all.push_back(idea);
  }
  for (int p = 0; p < pictures; ++p) {
    QImage image(640, 480, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) image.setPixel(x, y, qRgb((x * p) & 255, (y + p * 7) & 255, (x ^ y) & 255));
    all[1 + p * (count - 1) / pictures]->replaceWithOriginalImage(KitImage(image));
  }
  return root;
}

// One saved document per size, made once.
struct SavedMap {
  std::shared_ptr<IdeaDocument> doc;
  DocumentToken token = 0;
};

SavedMap& savedMap(int count, int pictures) {
  static std::map<std::pair<int, int>, SavedMap> maps;
  SavedMap& map = maps[{count, pictures}];
  if (!map.doc) {
    map.doc = IdeaDocument::createWithFileName(QString(), DocumentLocationTemp);
    map.doc->setIdea(makeMap(count, pictures));
    PersistenceController::singleton().createDocument(map.doc, [&](DocumentToken t) { map.token = t; });
    spinUntil([&] { return map.token != 0; });
  }
  return map;
}

void BM_SaveDocument(benchmark::State& state) {
  SavedMap& map = savedMap(int(state.range(0)), int(state.range(1)));
  double mainSeconds = 0;
  for (auto _ : state) {
    QElapsedTimer timer;
    timer.start();
    int result = -1;
    PersistenceController::singleton().saveDocument(map.doc, map.token, [&](bool ok) { result = ok; });
    mainSeconds += timer.nsecsElapsed() / 1e9;
    spinUntil([&] { return result >= 0; });
    if (result != 1) state.SkipWithError("save failed");
  }
  const QUrl url = PersistenceController::singleton().urlForLocalOrTempFileWithDocIdentifer(map.doc->docIdentifier());
  state.counters["bytes"] = double(QFileInfo(url.toLocalFile()).size());
  state.counters["main_ms"] = benchmark::Counter(mainSeconds * 1000, benchmark::Counter::kAvgIterations);
}

// "longest_main_ms": the longest the main thread was held at once by an open, the call or any
// turn of the event loop until the document has its tree (goal: 16 ms, one frame).
void BM_OpenDocument(benchmark::State& state) {
  const QString identifier = savedMap(int(state.range(0)), int(state.range(1))).doc->docIdentifier();
  auto& facade = PersistenceController::singleton();
  double mainSeconds = 0, longest = 0;
  for (auto _ : state) {
    // A fresh object each time, so the file is read (the saved one holds its token).
    auto doc = IdeaDocument::createWithIdentifier(identifier);
    QElapsedTimer timer;
    timer.start();
    int read = -1;
    doc->readFromURL(facade.urlForLocalOrTempFileWithDocIdentifer(identifier), [&](bool ok) { read = ok; });
    const double call = timer.nsecsElapsed() / 1e9;
    mainSeconds += call;
    longest = std::max(longest, call);
    // Turns that do not wait for events, so each one times only the work it runs.
    while (read < 0) {
      timer.restart();
      QCoreApplication::processEvents(QEventLoop::AllEvents);
      longest = std::max(longest, timer.nsecsElapsed() / 1e9);
    }
    if (read != 1) state.SkipWithError("open failed");
  }
  state.counters["main_ms"] = benchmark::Counter(mainSeconds * 1000, benchmark::Counter::kAvgIterations);
  state.counters["longest_main_ms"] = longest * 1000;
}

void BM_WriteToLocalFile(benchmark::State& state) {
  SavedMap& map = savedMap(int(state.range(0)), int(state.range(1)));
  QTemporaryDir dir;
  const QUrl url = QUrl::fromLocalFile(dir.filePath("export.orrery"));
  double mainSeconds = 0;
  for (auto _ : state) {
    QElapsedTimer timer;
    timer.start();
    int result = -1;
    map.doc->writeToLocalFileAt(url, [&](bool ok) { result = ok; });
    mainSeconds += timer.nsecsElapsed() / 1e9;
    spinUntil([&] { return result >= 0; });
  }
  state.counters["bytes"] = double(QFileInfo(url.toLocalFile()).size());
  state.counters["main_ms"] = benchmark::Counter(mainSeconds * 1000, benchmark::Counter::kAvgIterations);
}

void BM_ImportOPML(benchmark::State& state) {
  const int outlines = int(state.range(0));
  QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head><title>Big</title></head><body>\n";
  // Fifty top-level outlines, each a three-level subtree.
  int made = 0;
  while (made < outlines) {
    xml += "<outline text=\"Section\" _note=\"About this section&#10;second line\">";
    ++made;
    for (int i = 0; i < 31 && made < outlines; ++i) {
      xml += "<outline text=\"Topic &amp; details\">";
      ++made;
      for (int j = 0; j < 30 && made < outlines; ++j, ++made) xml += "<outline text=\"Leaf item\"/>";
      xml += "</outline>";
    }
    xml += "</outline>\n";
  }
  xml += "</body></opml>";
  for (auto _ : state) {
    auto doc = IdeaDocument::createWithFileName(QString(), DocumentLocationTemp);
    if (!doc->loadFromOPMLData(xml)) state.SkipWithError("import failed");
    benchmark::DoNotOptimize(doc->idea());
  }
  state.counters["bytes"] = double(xml.size());
}

// The document's file bytes and their JSON, made once per size.
struct Codec {
  std::shared_ptr<IdeaDocument> doc;
  QByteArray compressed;
  QByteArray json;
};

Codec& codec(int count, int pictures) {
  static std::map<std::pair<int, int>, Codec> made;
  Codec& c = made[{count, pictures}];
  if (!c.doc) {
    c.doc = IdeaDocument::createWithFileName("bench.orrx", DocumentLocationDropbox);
    c.doc->setIdea(makeMap(count, pictures));
    c.json = c.doc->exportAsPureJSONData();
    c.compressed = *dataext::zlibDeflate(c.json);
  }
  return c;
}

qint64 statusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0) return std::stoll(line.substr(std::strlen(field)));
  return 0;
}

// Each step of a pair starts from the same heap: free pages handed back to the system. Left
// in place, the pages the previous open's tree freed made the floor's buffers (taken from the
// heap) land on memory already mapped while the open's own buffers did not, so the ratio
// followed the allocator's thresholds (floors of 30 or 55 ms on the same bytes) rather than
// the work. Now both pay for the memory they touch, as an open in a fresh process does.
void startCold() { malloc_trim(0); }

// One open of the file's bytes into a document, closing it left out.
double decodeMs(benchmark::State& state, const Codec& c) {
  startCold();
  auto doc = IdeaDocument::createWithFileName("open.orrx", DocumentLocationDropbox);
  const double ms = benchpairs::timeMs([&] {
    if (!doc->loadFromOrreryData(c.compressed)) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(doc->idea());
  });
  doc.reset();
  return ms;
}

// The floor: inflating and parsing the same bytes with simdjson only.
double decodeFloorMs(benchmark::State& state, const Codec& c) {
  startCold();
  return benchpairs::timeMs([&] {
    QByteArray json(c.json.size() + qsizetype(simdjson::SIMDJSON_PADDING), Qt::Uninitialized);
    uLongf size = uLongf(json.size());
    uncompress(reinterpret_cast<Bytef*>(json.data()), &size, reinterpret_cast<const Bytef*>(c.compressed.constData()),
               uLong(c.compressed.size()));
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    if (parser.parse(reinterpret_cast<const uint8_t*>(json.constData()), size, false).get(root))
      state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(root);
  });
}

// Each open in turn with its floor on the same bytes.
void BM_Decode(benchmark::State& state) {
  Codec& c = codec(int(state.range(0)), int(state.range(1)));
  {
    // Peak memory of one open, apart from the timing. Free heap pages go back to the system
    // first: an open reusing memory earlier benchmarks freed would not raise the resident
    // size at all (small maps read 0 that way).
    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
    const qint64 before = statusKiB("VmRSS:");
    auto doc = IdeaDocument::createWithFileName("peak.orrx", DocumentLocationDropbox);
    doc->loadFromOrreryData(c.compressed);
    state.counters["peak_MiB"] = double(statusKiB("VmHWM:") - before) / 1024;
    state.counters["json_MiB"] = double(c.json.size()) / (1 << 20);
  }
  benchpairs::runInTurns(state, [&] { return decodeMs(state, c); }, [&] { return decodeFloorMs(state, c); });
}

void BM_Encode(benchmark::State& state) {
  Codec& c = codec(int(state.range(0)), int(state.range(1)));
  const DocumentSnapshot snapshot = c.doc->snapshot();
  for (auto _ : state) benchmark::DoNotOptimize(snapshot.encode(true));
}

void BM_EncodeFloor(benchmark::State& state) {
  Codec& c = codec(int(state.range(0)), int(state.range(1)));
  for (auto _ : state) {
    QByteArray buffer(c.json.size(), Qt::Uninitialized);
    std::memcpy(buffer.data(), c.json.constData(), size_t(c.json.size()));
    benchmark::DoNotOptimize(dataext::zlibDeflate(buffer));
  }
}

// A map of notes of a million "=" each, encoded and compressed, in turns with its floor (the
// JSON copied and compressed at the default level). From 51 notes the default level packs the
// file so tightly that the reader would take it for a bomb, and the writer stores part of it.
void BM_EncodeRepeatedNotes(benchmark::State& state) {
  static std::map<int, std::shared_ptr<IdeaDocument>> made;
  auto& doc = made[int(state.range(0))];
  if (!doc) {
    doc = IdeaDocument::createWithFileName("notes.orrx", DocumentLocationDropbox);
    doc->setIdea(Idea::createWithText("Logs"));
    for (int i = 0; i < state.range(0); ++i) {
      doc->idea()->addIdea(Idea::createWithText(QString("log %1").arg(i)));
      doc->idea()->ideas().back()->setNote(QString(1000000, QLatin1Char('=')));
    }
  }
  const DocumentSnapshot snapshot = doc->snapshot();
  const QByteArray json = snapshot.encode(false);
  qsizetype bytes = 0;
  benchpairs::runInTurns(
      state,
      [&] {
        return benchpairs::timeMs([&] {
          bytes = snapshot.encode(true).size();
          if (bytes == 0) state.SkipWithError("not written");
        });
      },
      [&] {
        return benchpairs::timeMs([&] {
          QByteArray buffer(json.size(), Qt::Uninitialized);
          std::memcpy(buffer.data(), json.constData(), size_t(json.size()));
          benchmark::DoNotOptimize(dataext::zlibDeflate(buffer));
        });
      });
  state.counters["bytes"] = double(bytes);
  state.counters["json_MiB"] = double(json.size()) / (1 << 20);
}

void BM_SnapshotCopy(benchmark::State& state) {
  Codec& c = codec(int(state.range(0)), 0);
  for (auto _ : state) {
    IdeaPtr copy = c.doc->idea()->snapshotCopy();
    benchmark::DoNotOptimize(copy);
    // A save's copy is released on the persistence queue, not on the main thread.
    state.PauseTiming();
    copy.reset();
    state.ResumeTiming();
  }
}

void BM_DeepCopyWithNewIdentifiers(benchmark::State& state) {
  Codec& c = codec(int(state.range(0)), 0);
  for (auto _ : state) {
    IdeaPtr copy = c.doc->idea()->deepCopyWithNewIdentifiersNoExternalLinks();
    benchmark::DoNotOptimize(copy);
    // Releasing the copy is not part of making it (the snapshot's floor leaves it out too).
    state.PauseTiming();
    copy.reset();
    state.ResumeTiming();
  }
}

void sizeArgs(benchmark::internal::Benchmark* b) {
  for (int ideas : {1000, 10000, 100000})
    for (int pictures : {0, 100}) b->Args({ideas, pictures});
  b->Unit(benchmark::kMillisecond);
}

void sizes(benchmark::internal::Benchmark* b) { sizeArgs(b->UseRealTime()); }

BENCHMARK(BM_Decode)->Apply(sizeArgs)->UseManualTime();
BENCHMARK(BM_Encode)->Apply(sizes);
BENCHMARK(BM_EncodeFloor)->Apply(sizes);
BENCHMARK(BM_EncodeRepeatedNotes)->Arg(50)->Arg(51)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SnapshotCopy)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DeepCopyWithNewIdentifiers)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SaveDocument)->Apply(sizes);
BENCHMARK(BM_OpenDocument)->Apply(sizes);
BENCHMARK(BM_WriteToLocalFile)->Apply(sizes);
BENCHMARK(BM_ImportOPML)->Arg(50000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  // Every standard folder in a fresh temporary folder: nothing touches the real home.
  static QTemporaryDir home;
  const QByteArray root = home.path().toUtf8();
  setenv("XDG_DATA_HOME", (root + "/data").constData(), 1);
  setenv("XDG_CONFIG_HOME", (root + "/config").constData(), 1);
  setenv("XDG_CACHE_HOME", (root + "/cache").constData(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  QCoreApplication::setOrganizationName("Orrery");
  QCoreApplication::setApplicationName("OrreryBench");
  platform::installQtMainQueue();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
