// The text and picture panes of the share sheet writing a 10 000-idea map to a chosen file,
// until their completion is back on the main thread, beside the bare work they stand on in the
// same run: the outline writer plus an atomic write of its bytes (flushed to disk, as the pane's
// is), and the PNG writer alone.
// "main_ms" is the time the pane's call holds the main thread (the snapshot it takes).

#include "ten_thousand_idea_map.h"
#include "export/sharing_view_controller.h"
#include "export/image_exporter.h"
#include "export/text_exporter.h"
#include "model/document_file_writer.h"
#include "platform/services/qt_main_queue.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace orrery;

namespace {

QTemporaryDir* gFolder = nullptr;

const IdeaPtr& bigMap() { return benchmaps::tenThousandIdeaMap(); }

// Presses the pane's writer and spins the main loop until its completion has run.
void paneWrites(benchmark::State& state, ShareType type, const QString& name) {
  SharingViewController sheet(bigMap(), QDateTime::currentDateTime());
  sheet.selectShareType(type);
  auto& pane = *sheet.shareTypes()[std::size_t(sheet.currentShareTypeIndex())];
  const QString path = gFolder->filePath(name);
  double mainSeconds = 0;
  for (auto _ : state) {
    int ok = -1;
    QElapsedTimer timer;
    timer.start();
    pane.saveToFileAtURL(path, [&](const MyResultPtr& result) { ok = result->isOK(); });
    mainSeconds += double(timer.nsecsElapsed()) / 1e9;
    while (ok < 0) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    if (ok != 1) state.SkipWithError("write failed");
  }
  state.counters["main_ms"] = benchmark::Counter(mainSeconds * 1000, benchmark::Counter::kAvgIterations);
}

void BM_TextPaneWritesChosenFile(benchmark::State& state) { paneWrites(state, 3, "pane.txt"); }
BENCHMARK(BM_TextPaneWritesChosenFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ImagePaneWritesChosenFile(benchmark::State& state) { paneWrites(state, 5, "pane.png"); }
BENCHMARK(BM_ImagePaneWritesChosenFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PNGWriterAlone(benchmark::State& state) {
  const IdeaPtr frozen = bigMap()->snapshotCopy();
  QString error;
  for (auto _ : state) benchmark::DoNotOptimize(ImageExporter::generatePNGImageFromIdea(frozen, false, &error).size());
}
BENCHMARK(BM_PNGWriterAlone)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WriterPlusAtomicWrite(benchmark::State& state) {
  const IdeaPtr root = bigMap();
  const QString path = gFolder->filePath("bare.txt");
  for (auto _ : state) {
    const QByteArray bytes = TextExporter::ideaAsTextOutline(*root, true).toUtf8();
    if (writeFileReplacing(path, bytes) != FileWriteResult::Written) state.SkipWithError("write failed");
  }
}
BENCHMARK(BM_WriterPlusAtomicWrite)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  platform::installQtMainQueue();
  QTemporaryDir folder;
  gFolder = &folder;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
