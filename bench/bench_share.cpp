// The text pane of the share sheet writing a 10 000-idea map to a chosen file, beside the bare
// work it stands on in the same run: the outline writer plus a QSaveFile write of its bytes.

#include "ten_thousand_idea_map.h"
#include "export/sharing_view_controller.h"
#include "export/text_exporter.h"

#include <QGuiApplication>
#include <QSaveFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace orrery;

namespace {

QTemporaryDir* gFolder = nullptr;

const IdeaPtr& bigMap() { return benchmaps::tenThousandIdeaMap(); }

void BM_TextPaneWritesChosenFile(benchmark::State& state) {
  SharingViewController sheet(bigMap(), QDateTime::currentDateTime());
  sheet.selectShareType(3);
  auto& pane = *sheet.shareTypes()[std::size_t(sheet.currentShareTypeIndex())];
  const QString path = gFolder->filePath("pane.txt");
  for (auto _ : state) {
    bool ok = false;
    pane.saveToFileAtURL(path, [&](const MyResultPtr& result) { ok = result->isOK(); });
    if (!ok) state.SkipWithError("write failed");
  }
}
BENCHMARK(BM_TextPaneWritesChosenFile)->Unit(benchmark::kMillisecond);

void BM_WriterPlusSaveFile(benchmark::State& state) {
  const IdeaPtr root = bigMap();
  const QString path = gFolder->filePath("bare.txt");
  for (auto _ : state) {
    const QByteArray bytes = TextExporter::ideaAsTextOutline(*root, true).toUtf8();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
      state.SkipWithError("write failed");
  }
}
BENCHMARK(BM_WriterPlusSaveFile)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  QTemporaryDir folder;
  gFolder = &folder;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
