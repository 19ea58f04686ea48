// Sizing the legal notices' text view (the 420 KB notices, wrapped at the window's 520 points
// less the insets, as the window's layout does it: set the text, size to the width, place the
// view, size again) beside the floor, one layout of the same text at that width on a bare
// QTextDocument.
//
// Before, the view laid the whole text out again at every sizing, twice (without wrapping for
// the natural width, then at the width) and once more when placed: 653 ms against a 195 ms
// floor on the shared machine. Laid out once per text and width: 173 ms against 160 ms (1.08×).

#include "foundation/views/text_view.h"
#include "platform/services/resources.h"
#include "platform/ui/text_document_view.h"

#include <QApplication>
#include <QFile>
#include <QTextDocument>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

namespace {

constexpr double kWidth = 520;
const QSizeF kInset(40, 20);

const QString& legalText() {
  static const QString text = [] {
    QFile file(platform::pathForResource(QStringLiteral("legal"), QStringLiteral("txt")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
  }();
  return text;
}

void BM_LegalTextViewSized(benchmark::State& state) {
  if (legalText().isEmpty()) state.SkipWithError("legal.txt not found");
  for (auto _ : state) {
    auto view = std::make_shared<orrery::TextView>();
    view->setInset(kInset);
    view->setText(legalText());
    view->sizeToFitWidth(kWidth);
    view->setFrame(QRectF(QPointF(0, 0), view->frame().size()));
    view->applyLayout();
    view->sizeToFitWidth(kWidth);
    benchmark::DoNotOptimize(view->frame().height());
  }
}
BENCHMARK(BM_LegalTextViewSized)->Unit(benchmark::kMillisecond);

void BM_LegalTextOneLayout(benchmark::State& state) {
  auto sized = std::make_shared<orrery::TextView>();
  sized->setInset(kInset);
  sized->setText(legalText());
  const platform::AttributedString text = sized->innerTextView()->attributedString();
  for (auto _ : state) {
    QTextDocument document;
    document.setDocumentMargin(0);
    platform::fillTextDocument(document, text, document.defaultFont(), Qt::black, platform::TextAlignment::Natural);
    document.setTextWidth(kWidth - 2 * kInset.width());
    benchmark::DoNotOptimize(document.size().height());
  }
}
BENCHMARK(BM_LegalTextOneLayout)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
