// The exports of a 10 000-idea map (one idea in ten with a note): text outline, HTML list,
// OPML, web page, presentation and PDF each in turns with encoding the same map as the
// program's JSON (their "ratio" to that floor, pair by pair), and the copies the calling thread
// takes; PNG beside encoding its pixels alone. Then a PDF of a 1 000-idea outline with 300-character notes beside
// bare QPdfWriter / QTextLayout calls drawing the same discs, lines and note texts, and a PDF
// whose one note is as long as a map holds, as one line and in lines of 80 in turns, and one
// whose idea with a note has a title as long as a map holds (a few words, then one run without
// a space), in turns with the same map whose title is its first 200 characters.
//
// The PDF against its own floor: QPdfWriter drawing only the map page's shapes (10 000 outlined
// discs and spokes) takes 219–225 ms, 46× the JSON encoding, beside the map page's 460–500 ms;
// the PDF cannot come near 8× the JSON encoding while QPdfEngine writes and deflates it.
//
// The web page and presentation: their preview is encoded by the exporter's own PNG encoder
// (about 7 ms instead of 30–43 ms through QImage::save), and it and data.js (written and
// deflated at zlib's fastest level) are made on two global-queue threads while the archive's
// other entries are written: web page 62–65 ms → 25–36 ms, presentation 83–95 ms → 39–54 ms,
// the exporter's own thread busy 3–6 ms and 20–22 ms of it (the spread is the shared machine
// under a load of about 10, and the staging file's fsync, about 7 ms an export there).
//
// OPML and HTML list against the JSON encoding (goal ≤ 0.5× each): before, OPML 7.51 ms and
// HTML 1.54 ms beside JSON 2.16 ms (3.5×, 0.71×), the time going to a string per escape step
// and per idea; escaping in one pass straight into the output buffer, OPML 0.68–0.71 ms and
// HTML 0.70–0.73 ms beside JSON 2.00–2.06 ms (0.34×, 0.35×).
//
// Freed memory stays in the process (no trimming, no separate mappings), so every step after
// the first writes into pages already mapped. Otherwise how many fresh pages a step touched
// followed the heap left by the benchmarks before it (the JSON floor 45–740 a step, OPML
// 100–400, by run order and repetition) and, at a few microseconds a first touch on a virtual
// machine, the ratios with it: trimming the heap before each export step alone moved the text
// exports from 0.33–0.43× the JSON encoding to 0.47–0.49×.

#include "interleaved_floor.h"
#include "ten_thousand_idea_map.h"
#include "export/image_exporter.h"
#include "export/mind_map_to_pdf.h"
#include "export/png_encoder.h"
#include "export/text_exporter.h"
#include "export/web_exporter.h"
#include "graph/graph_tile_factory.h"
#include "model/document_limits.h"
#include "model/idea_snapshot.h"
#include "model/json_encoder.h"
#include "model/opml_writer.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QTemporaryDir>
#include <QTextLayout>

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cmath>

using namespace orrery;

namespace {

QTemporaryDir* gFolder = nullptr;

const IdeaPtr& bigMap() { return benchmaps::tenThousandIdeaMap(); }

// Root and 999 children, each with a 300-character note.
const IdeaPtr& outlineMap() {
  static IdeaPtr root;
  if (root) return root;
  root = Idea::createWithText("Outline");
  const QString note = QString("Lorem ipsum dolor sit amet, consectetur adipiscing elit. ").repeated(6).left(300);
  for (int i = 1; i < 1000; ++i) {
    IdeaPtr child = Idea::createWithText(QString("Point %1").arg(i));
    child->setNote(note);
    root->addIdea(child);
  }
  root->setNote(note);
  return root;
}

// The floor of every export: encoding the same map as the program's JSON.
double jsonEncodingMs() {
  return benchpairs::timeMs([] {
    JSONEncoder encoder;
    encoder.encodeObject(*bigMap());
    benchmark::DoNotOptimize(encoder.data().size());
  });
}

void BM_JSONEncoder(benchmark::State& state) {
  for (auto _ : state) state.SetIterationTime(jsonEncodingMs() / 1000);
}
BENCHMARK(BM_JSONEncoder)->UseManualTime()->Unit(benchmark::kMillisecond);

// Each export in turns with the JSON encoding (see interleaved_floor.h).
template <class Export>
void againstJSON(benchmark::State& state, Export&& exportOnce) {
  benchpairs::runInTurns(state, [&] { return benchpairs::timeMs(exportOnce); }, jsonEncodingMs);
}

void BM_TextOutline(benchmark::State& state) {
  againstJSON(state, [] { benchmark::DoNotOptimize(TextExporter::ideaAsTextOutline(*bigMap(), true).size()); });
}
BENCHMARK(BM_TextOutline)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_HTMLList(benchmark::State& state) {
  againstJSON(state, [] { benchmark::DoNotOptimize(TextExporter::ideaAsNestedHTMLList(*bigMap(), true).size()); });
}
BENCHMARK(BM_HTMLList)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_OPML(benchmark::State& state) {
  againstJSON(state, [] { benchmark::DoNotOptimize(OPMLWriter::ideaAsOPML(*bigMap()).size()); });
}
BENCHMARK(BM_OPML)->UseManualTime()->Unit(benchmark::kMillisecond);

// The calling thread's share of every export: the snapshot it takes (released elsewhere).
void BM_CallingThreadSnapshot(benchmark::State& state) {
  benchpairs::runInTurns(
      state,
      [] {
        IdeaPtr frozen;
        const double ms = benchpairs::timeMs([&] { frozen = bigMap()->snapshotCopy(); });
        benchmark::DoNotOptimize(frozen.get());
        return ms;
      },
      jsonEncodingMs);
}
BENCHMARK(BM_CallingThreadSnapshot)->UseManualTime()->Unit(benchmark::kMillisecond);

void webExport(benchmark::State& state, WebExportStyle style) {
  const IdeaPtr frozen = bigMap()->snapshotCopy();
  const QString destination = gFolder->filePath(QString("web%1.zip").arg(style));
  againstJSON(state, [&] {
    if (!WebExporter::exportNow(frozen, style, destination)->isOK()) state.SkipWithError("export failed");
  });
}
void BM_WebPage(benchmark::State& state) { webExport(state, 2); }
void BM_Presentation(benchmark::State& state) { webExport(state, 0); }
BENCHMARK(BM_WebPage)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Presentation)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_PDF(benchmark::State& state) {
  MindMapToPDF pdf(bigMap(), QDateTime());
  pdf.setShowNotes(true);
  againstJSON(state, [&] { benchmark::DoNotOptimize(pdf.generatePDF().size()); });
}
BENCHMARK(BM_PDF)->UseManualTime()->Unit(benchmark::kMillisecond);

// The map page alone (no note pages), to tell the two parts apart.
void BM_PDFMapPageOnly(benchmark::State& state) {
  MindMapToPDF pdf(bigMap(), QDateTime());
  for (auto _ : state) benchmark::DoNotOptimize(pdf.generatePDF().size());
}
BENCHMARK(BM_PDFMapPageOnly)->Unit(benchmark::kMillisecond);

// An A4 page at 72 dpi written into memory, as the PDF export writes it.
struct BarePdf {
  QByteArray data;
  QBuffer buffer{&data};
  QPdfWriter writer{(buffer.open(QIODevice::WriteOnly), &buffer)};
  QPainter painter{(setUp(writer), &writer)};

  static void setUp(QPdfWriter& writer) {
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()));
    writer.setResolution(72);
  }
};

// What QPdfWriter itself needs for the map page's shapes: 10 000 spokes in one path, then
// 10 000 grey discs with a white outline, each at its own place, deflated as the map page is.
void BM_BarePdfWriterMap10000(benchmark::State& state) {
  for (auto _ : state) {
    BarePdf pdf;
    QPainter& painter = pdf.painter;
    const QPointF centre(297, 420);
    auto at = [&](int i) {
      const double angle = i * 2 * M_PI / 10000;
      return centre + QPointF(std::cos(angle), std::sin(angle)) * (40 + (i % 100) * 2.5);
    };
    QPainterPath spokes;
    for (int i = 0; i < 10000; ++i) {
      spokes.moveTo(centre);
      spokes.lineTo(at(i));
    }
    painter.setPen(QPen(Qt::gray, 0.1));
    painter.drawPath(spokes);
    painter.setPen(QPen(Qt::white, 0.05));
    painter.setBrush(Qt::lightGray);
    for (int i = 0; i < 10000; ++i) painter.drawEllipse(at(i), 0.15, 0.15);
    painter.end();
    benchmark::DoNotOptimize(pdf.data.size());
  }
}
BENCHMARK(BM_BarePdfWriterMap10000)->Unit(benchmark::kMillisecond);

void BM_PNG(benchmark::State& state) {
  const IdeaPtr frozen = bigMap()->snapshotCopy();
  QString error;
  for (auto _ : state) benchmark::DoNotOptimize(ImageExporter::generatePNGImageFromIdea(frozen, false, &error).size());
}
BENCHMARK(BM_PNG)->Unit(benchmark::kMillisecond);

// PNG-encoding the same pixels alone, with the exporter's encoder.
void BM_PNGEncodeOnly(benchmark::State& state) {
  const GraphTileFactory factory(IdeaSnapshot::createFromFrozen(bigMap()->snapshotCopy()), GraphFilter(), false);
  QString error;
  const QImage image = ImageExporter::renderImage(factory, false, &error);
  for (auto _ : state) benchmark::DoNotOptimize(encodePNG(image).size());
  state.counters["pixels"] = double(image.width()) * image.height();
}
BENCHMARK(BM_PNGEncodeOnly)->Unit(benchmark::kMillisecond);

void BM_PDFOutline1000(benchmark::State& state) {
  MindMapToPDF pdf(outlineMap(), QDateTime());
  pdf.setShowNotes(true);
  for (auto _ : state) benchmark::DoNotOptimize(pdf.generatePDF().size());
}
BENCHMARK(BM_PDFOutline1000)->Unit(benchmark::kMillisecond);

// The same content with bare calls: 1 000 discs and spokes on one page, then the notes laid
// out at 190 points in three columns per page.
void BM_BarePdfWriterOutline1000(benchmark::State& state) {
  const IdeaPtr& root = outlineMap();
  for (auto _ : state) {
    BarePdf pdf;
    QPdfWriter& writer = pdf.writer;
    QPainter& painter = pdf.painter;
    QFont font("DejaVu Sans");
    font.setPointSizeF(5);
    painter.setFont(font);
    const QPointF centre(297, 420);
    for (int i = 0; i < 999; ++i) {
      const double angle = i * 2 * M_PI / 999;
      const QPointF at = centre + QPointF(std::cos(angle), std::sin(angle)) * (120 + (i % 5) * 30);
      painter.drawLine(centre, at);
      painter.setBrush(Qt::lightGray);
      painter.drawEllipse(at, 6, 6);
      painter.drawText(at, root->ideas()[size_t(i)]->text());
    }
    font.setPointSizeF(12);
    double y = 60;
    int column = 0;
    for (const IdeaPtr& child : root->ideas()) {
      QTextLayout layout(child->note(), font, &writer);
      layout.beginLayout();
      double height = 0;
      for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(190);
        line.setPosition(QPointF(0, height));
        height += line.height();
      }
      layout.endLayout();
      if (y + height > 800) {
        y = 60;
        if (++column == 3) {
          column = 0;
          writer.newPage();
        }
      }
      painter.drawText(QPointF(20 + column * 180, y), child->text());
      layout.draw(&painter, QPointF(40 + column * 180, y + 10));
      y += height + 40;
    }
    painter.end();
    benchmark::DoNotOptimize(pdf.data.size());
  }
}
BENCHMARK(BM_BarePdfWriterOutline1000)->Unit(benchmark::kMillisecond);

// A map whose one note is as long as a map holds: letters without a space, as one line or
// with a line feed after every 80.
IdeaPtr longNoteMap(bool lined) {
  QString note(DocumentLimits::kMaxTextLength, QLatin1Char('a'));
  for (qsizetype i = 0; i < note.size(); ++i)
    note[i] = lined && i % 81 == 80 ? QLatin1Char('\n') : QLatin1Char(char('a' + i % 26));
  IdeaPtr root = Idea::createWithText("Long note");
  root->setNote(note);
  return root;
}

// The PDFs with notes of `measured` and of `floor`, in turns.
void pdfsInTurns(benchmark::State& state, IdeaPtr measured, IdeaPtr floor) {
  MindMapToPDF measure(std::move(measured), QDateTime()), beside(std::move(floor), QDateTime());
  measure.setShowNotes(true);
  beside.setShowNotes(true);
  benchpairs::runInTurns(
      state, [&] { return benchpairs::timeMs([&] { benchmark::DoNotOptimize(measure.generatePDF().size()); }); },
      [&] { return benchpairs::timeMs([&] { benchmark::DoNotOptimize(beside.generatePDF().size()); }); });
}

// The one line against the same characters in lines: before, the word wrap took about
// L² / (2 × a line's characters) on a run of L letters (94 ms at 40 000, minutes at the full
// length).
void BM_PDFOneLineNote(benchmark::State& state) { pdfsInTurns(state, longNoteMap(false), longNoteMap(true)); }
BENCHMARK(BM_PDFOneLineNote)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

// A map whose one child, with a note, has a title of `length` characters: a few words, then a
// key without a space. Its title shows on the map page and over its note.
IdeaPtr longTitleMap(qsizetype length) {
  QString title = QStringLiteral("API key for staging: ");
  const qsizetype words = title.size();
  title.resize(length);
  for (qsizetype i = words; i < title.size(); ++i)
    title[i] = QLatin1Char("abcdefghijklmnopqrstuvwxyz0123456789"[i % 36]);
  IdeaPtr root = Idea::createWithText("Keys");
  IdeaPtr child = Idea::createWithText(title);
  child->setNote(QStringLiteral("Rotated monthly."));
  root->addIdea(child);
  return root;
}

void BM_PDFLongTitle(benchmark::State& state) {
  pdfsInTurns(state, longTitleMap(DocumentLimits::kMaxTextLength), longTitleMap(200));
}
BENCHMARK(BM_PDFLongTitle)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  QTemporaryDir home;
  for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "TMPDIR"})
    qputenv(name, home.path().toUtf8());
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  QTemporaryDir folder;
  gFolder = &folder;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
