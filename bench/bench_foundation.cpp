// Costs of the foundation pieces that run often: the document zlib pair, angle arithmetic of
// every animation frame, colour conversion, one synchronised settings write, compact dates.

#include "foundation/color_space_converter.h"
#include "foundation/compact_date_formatter.h"
#include "foundation/data_extensions.h"
#include "foundation/geometry.h"
#include "platform/services/user_defaults.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

QByteArray documentLikeJson(int ideas) {
  QByteArray json = "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":3,\"idea\":{\"children\":[";
  for (int i = 0; i < ideas; ++i)
    json += "{\"identifier\":\"id1700000000_" + QByteArray::number(i) +
            "\",\"type\":1,\"text\":\"Idea number " + QByteArray::number(i) + "\",\"color\":\"green2\"},";
  json += "]}}}";
  return json;
}

void BM_ZlibDeflate(benchmark::State& state) {
  const QByteArray json = documentLikeJson(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(orrery::dataext::zlibDeflate(json));
  state.SetBytesProcessed(state.iterations() * json.size());
}
BENCHMARK(BM_ZlibDeflate)->Arg(100)->Arg(10000);

void BM_ZlibInflate(benchmark::State& state) {
  const QByteArray json = documentLikeJson(static_cast<int>(state.range(0)));
  const QByteArray packed = *orrery::dataext::zlibDeflate(json);
  for (auto _ : state) benchmark::DoNotOptimize(orrery::dataext::zlibInflate(packed));
  state.SetBytesProcessed(state.iterations() * json.size());
}
BENCHMARK(BM_ZlibInflate)->Arg(100)->Arg(10000);

void BM_MinimumAngle(benchmark::State& state) {
  float a = 0.1f;
  for (auto _ : state) {
    benchmark::DoNotOptimize(orrery::Geometry::minimumAngleFrom(a, 6.2f));
    a += 0.001f;
  }
}
BENCHMARK(BM_MinimumAngle);

void BM_ColourRoundTrip(benchmark::State& state) {
  orrery::RGBAValues rgb{12, 200, 99, 1};
  orrery::HSVAValues hsv;
  for (auto _ : state) {
    orrery::ColorSpaceConverter::RGB(rgb, hsv);
    orrery::ColorSpaceConverter::HSV(hsv, rgb);
    benchmark::DoNotOptimize(rgb);
  }
}
BENCHMARK(BM_ColourRoundTrip);

void BM_SettingsWrite(benchmark::State& state) {
  QTemporaryDir dir;
  platform::UserDefaults defaults(dir.filePath("defaults.dat"));
  for (int i = 0; i < 10; ++i) defaults.setObject(QStringList{"/a/b.orrery", "/c/d.orrery"}, QString("key%1").arg(i));
  qint64 n = 0;
  for (auto _ : state) defaults.setInteger(++n, "fontSizeFactor");
}
BENCHMARK(BM_SettingsWrite);

void BM_CompactDate(benchmark::State& state) {
  const QDateTime now(QDate(2024, 6, 1), QTime(12, 0), QTimeZone::utc());
  orrery::CompactDateTimeFormatter formatter(QLocale("en_US"), QTimeZone::utc(), [now] { return now; });
  const QDateTime date(QDate(2024, 3, 5), QTime(9, 30), QTimeZone::utc());
  for (auto _ : state) benchmark::DoNotOptimize(formatter.formatDateTime(date, true));
}
BENCHMARK(BM_CompactDate);

}  // namespace

BENCHMARK_MAIN();
