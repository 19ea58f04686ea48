// The Dropbox engine from start to settled (a pass finds nothing, nothing in flight) for
// 10 … 10 000 documents: a first download of an app folder of N documents, and a first upload
// of N documents saved at once; next to its floor, writing and reading the same N document
// files and a status file of N records. Homes are in memory where the machine offers it, so
// the figures are the engine's work, not the disk's syncs. And HttpRoutes moving 1 MB and
// 20 MB up and down over loopback HTTPS, next to a bare CurlTransferLoop transfer of the same
// bytes (for downloads, in the same iterations).

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QUuid>
#include <atomic>
#include <chrono>
#include <map>
#include <optional>
#include <thread>

#include "../tests/support/fake_remote.h"
#include "../tests/support/https_test_server.h"
#include "../tests/support/test_home.h"
#include "cloud/dropbox_folder_manager.h"
#include "cloud/dropbox_folder_manager_state.h"
#include "foundation/logging.h"
#include "interleaved_floor.h"
#include "model/document_file_writer.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "model/idea_proxy.h"
#include "model/index_json_document.h"
#include "model/persistence_controller.h"
#include "platform/cloud/http_routes.h"
#include "platform/core/run_loop.h"
#include "platform/net/curl_transfer_loop.h"
#include "platform/services/standard_folders.h"

using namespace orrery;

namespace {

std::shared_ptr<platform::RunLoop>& loop() {
  static auto l = std::make_shared<platform::RunLoop>();
  return l;
}

class Quiet final : public PersistenceStateDelegate {};

QByteArray documentBytes(int i) {
  auto doc = IdeaDocument::createWithIdentifier(QStringLiteral("dropbox:/x.orrx"));
  doc->setIdea(Idea::createWithText(QStringLiteral("document %1").arg(i)));
  return doc->snapshot().encode(/*compressed=*/true);
}

// Runs an engine until it is settled; the engine is gone afterwards.
void runToSettled(const std::shared_ptr<DropboxFolderManager>& engine) {
  loop()->runUntil([&] { return engine->isSettled(); }, platform::Millis(3600 * 1000));
}

void BM_FirstDownload(benchmark::State& state) {
  const int n = int(state.range(0));
  auto remote = testsupport::FakeRemote::create();
  for (int i = 0; i < n; ++i) remote->peerWrite(QStringLiteral("/id%1_1.orrx").arg(i), documentBytes(i));
  auto previous = platform::DropboxClientsManager::setAuthorizedClient(remote->client());
  auto quiet = std::make_shared<Quiet>();
  for (auto _ : state) {
    auto engine = DropboxFolderManager::createWithLocalFolder(QUuid::createUuid().toString(QUuid::WithoutBraces));
    engine->setDelegate(quiet);
    runToSettled(engine);
    state.PauseTiming();
    if (engine->state().docs().size() != n) state.SkipWithError("not every document arrived");
    engine->leaveState();
    QDir(engine->localManagedFolder()).removeRecursively();
    state.ResumeTiming();
  }
  platform::DropboxClientsManager::setAuthorizedClient(previous);
}
BENCHMARK(BM_FirstDownload)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_FirstUpload(benchmark::State& state) {
  const int n = int(state.range(0));
  auto quiet = std::make_shared<Quiet>();
  for (auto _ : state) {
    state.PauseTiming();
    auto remote = testsupport::FakeRemote::create();
    auto previous = platform::DropboxClientsManager::setAuthorizedClient(remote->client());
    auto engine = DropboxFolderManager::createWithLocalFolder(QUuid::createUuid().toString(QUuid::WithoutBraces));
    engine->setDelegate(quiet);
    runToSettled(engine);
    std::vector<std::shared_ptr<IdeaDocument>> docs;
    for (int i = 0; i < n; ++i) {
      auto doc = IdeaDocument::createWithIdentifier(QStringLiteral("dropbox:/id%1_2.orrx").arg(i));
      doc->setIdea(Idea::createWithText(QStringLiteral("document %1").arg(i)));
      docs.push_back(doc);
    }
    state.ResumeTiming();
    int done = 0;
    for (auto& doc : docs) engine->createDocument(doc, [&](DocumentToken t) { done += t > 0; });
    loop()->runUntil([&] { return done == n && engine->isSettled(); }, platform::Millis(3600 * 1000));
    state.PauseTiming();
    if (remote->livePaths().size() != qsizetype(n) + 1) state.SkipWithError("not every document went up");
    engine->leaveState();
    QDir(engine->localManagedFolder()).removeRecursively();
    platform::DropboxClientsManager::setAuthorizedClient(previous);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_FirstUpload)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(1);

// The same files written and read once, and one status file of N records written and read.
void BM_Floor(benchmark::State& state) {
  const int n = int(state.range(0));
  std::vector<QByteArray> bytes;
  for (int i = 0; i < n; ++i) bytes.push_back(documentBytes(i));
  for (auto _ : state) {
    QTemporaryDir dir;
    DropboxFolderManagerState status;
    for (int i = 0; i < n; ++i) {
      const QString name = QStringLiteral("file%1.orrx").arg(i);
      writeFileReplacing(dir.filePath(name), bytes[std::size_t(i)]);
      QFile in(dir.filePath(name));
      in.open(QIODevice::ReadOnly);
      auto doc = IdeaDocument::createWithIdentifier(QStringLiteral("dropbox:/x.orrx"));
      doc->loadFromOrreryData(in.readAll());
      status.docs().insert(
          QStringLiteral("dropbox:/id%1_1.orrx").arg(i),
          DocumentInfo::create(nullptr, SyncFileInfo::create(name, QStringLiteral("0123456789")), nullptr));
    }
    status.writeAtomicallyToURL(dir.filePath("orrery.local.status"));
    benchmark::DoNotOptimize(DropboxFolderManagerState::readFrom(dir.filePath("orrery.local.status")));
  }
}
BENCHMARK(BM_Floor)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(1);

// ---- a start

// A mirror folder as a start finds it: `maps` maps with records, each with an earlier save
// the status lets go of when `earlierSaves`, and `lost` maps whose records were lost; the
// local index lists the maps with records.
struct MirrorImage {
  std::map<QString, QByteArray> files;
};

MirrorImage mirrorImage(int maps, bool earlierSaves, int lost) {
  MirrorImage image;
  DropboxFolderManagerState status;
  ProxyList proxies;
  status.setLastMade(4 * (maps + lost));
  DropboxFolderManagerState::EarlierSaves earlier;
  for (int i = 0; i < maps + lost; ++i) {
    auto doc = IdeaDocument::createWithIdentifier(QStringLiteral("dropbox:/id%1_1.orrx").arg(i));
    doc->setIdea(Idea::createWithText(QStringLiteral("document %1").arg(i)));
    const QString name = QStringLiteral("file1_%1.orrx").arg(2 * i + 2);
    image.files[name] = doc->snapshot().encode(/*compressed=*/true);
    if (i >= maps) continue;
    status.docs().insert(doc->docIdentifier(),
                         DocumentInfo::create(nullptr, nullptr, SyncFileInfo::create(name, QString())));
    proxies.push_back(IdeaProxy::createWithDoc(doc));
    if (!earlierSaves) continue;
    const QString before = QStringLiteral("file1_%1.orrx").arg(2 * i + 1);
    image.files[before] = image.files[name];
    earlier.append({doc->docIdentifier(), before});
  }
  status.setEarlierSaves(earlier);
  auto index = IndexJSONDocument::createWithFileURL(QUrl(), PersistenceController::singleton().workQueue());
  index->setIdeaProxyList(proxies);
  // Written after the saves, as the home writes it after each: numbered above them.
  const QString indexName = QStringLiteral("file1_%1.index").arg(2 * (maps + lost) + 1);
  image.files[indexName] = index->contentsAsJSONData();
  status.setIndexDocumentInfo(
      DocumentInfo::create(nullptr, SyncFileInfo::create(indexName, QStringLiteral("0a")), nullptr));
  image.files[QString::fromLatin1(DropboxFolderManagerState::kStatusFileName)] = status.exportAsData();
  return image;
}

// The milliseconds from the engine's creation to the home showing every map, offline.
double startMs(const MirrorImage& image) {
  const QString folder = QUuid::createUuid().toString(QUuid::WithoutBraces);
  const QString dir = QDir(platform::applicationSupportFolder()).filePath(QStringLiteral("dropbox/") + folder);
  QDir().mkpath(dir);
  for (const auto& [name, bytes] : image.files) writeFileReplacing(QDir(dir).filePath(name), bytes);
  auto quiet = std::make_shared<Quiet>();
  std::shared_ptr<DropboxFolderManager> engine;
  const double ms = benchpairs::timeMs([&] {
    engine = DropboxFolderManager::createWithLocalFolder(folder);
    engine->setDelegate(quiet);
    loop()->runUntil(
        [&] {
          const auto& s = engine->state();
          // Every map's list entry is out; what the start left to look at runs on behind it.
          return s.isIndexDocumentAvailable() && s.documentsToLoadAsProxies().isEmpty() &&
                 !s.hasPendingGeneralOperation();
        },
        platform::Millis(600 * 1000));
  });
  // What the start left to look at, and the engine's going, are no part of it.
  loop()->runUntil([&] { return !engine->isBusyOffMainThread(); }, platform::Millis(600 * 1000));
  engine->leaveState();
  engine.reset();
  PersistenceController::singleton().workQueue().drain();
  QDir(dir).removeRecursively();
  return ms;
}

// N maps whose earlier saves the status lets go of and M maps whose records were lost, next
// to a start of N + M maps with nothing to sort, in turns.
void BM_StartWithLetGoSavesAndLostRecords(benchmark::State& state) {
  const int maps = int(state.range(0)), lost = int(state.range(1));
  const MirrorImage sorting = mirrorImage(maps, /*earlierSaves=*/true, lost);
  const MirrorImage normal = mirrorImage(maps + lost, /*earlierSaves=*/false, 0);
  auto previous = DropboxFolderManager::setNetworkProbe([] { return false; });
  benchpairs::runInTurns(
      state, [&] { return startMs(sorting); }, [&] { return startMs(normal); });
  DropboxFolderManager::setNetworkProbe(previous);
}
BENCHMARK(BM_StartWithLetGoSavesAndLostRecords)
    ->Args({1000, 0})
    ->Args({1000, 200})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(15);

// ---- HTTPS

struct Loopback {
  testsupport::TestCertificateAuthority authority{"bench"};
  testsupport::HttpsTestServer server{authority};
  platform::DropboxEndpoints endpoints() {
    platform::DropboxEndpoints e;
    e.apiBase = e.contentBase = QString::fromStdString(server.origin());
    const auto der = authority.rootDER();
    e.anchorsDER = {QByteArray(reinterpret_cast<const char*>(der.data()), qsizetype(der.size()))};
    return e;
  }
};

const std::string kMetadata = R"({".tag":"file","path_lower":"/big.orrx","rev":"0123456789"})";

void BM_HttpRoutesUpload(benchmark::State& state) {
  Loopback net;
  net.server.script("/2/files/upload", {testsupport::HttpsTestResponse::ok(kMetadata)});
  QTemporaryDir dir;
  const QString file = dir.filePath("big");
  {
    QFile out(file);
    out.open(QIODevice::WriteOnly);
    out.write(QByteArray(qsizetype(state.range(0)), 'x'));
  }
  auto routes = platform::HttpRoutes::create(net.endpoints(), {"key", "refresh", "access"});
  for (auto _ : state) {
    bool done = false;
    routes->uploadUrl("/big.orrx", platform::RemoteWriteMode::add(), false, {}, true, file,
                      [&](const auto& a) { done = static_cast<bool>(a.result); });
    loop()->runUntil([&] { return done; }, platform::Millis(60000));
    if (!done) state.SkipWithError("upload failed");
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_HttpRoutesUpload)->Arg(1 << 20)->Arg(20 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();

// The bare loop: the same bytes, trusted the same way, with nothing around them.
class RawClient final : public platform::CurlTransferClient {
 public:
  void transferDidReceiveResponse(const platform::HTTPResponseHead&) override {}
  void transferDidReceiveData(std::vector<std::uint8_t> bytes) override { received += bytes.size(); }
  void transferDidComplete(const std::optional<platform::TransferError>& error) override {
    ok = !error;
    done = true;
  }
  bool decidesServerTrust() const override { return true; }
  bool transferShouldTrustServer(const std::vector<X509*>&, const std::string&, int) override { return true; }
  std::atomic<bool> done{false};
  bool ok = false;
  std::size_t received = 0;
};

// One bare transfer; the bytes received, or nothing when it failed.
std::optional<std::size_t> rawTransfer(platform::CurlTransferLoop& transfers, const std::string& url,
                                       const QString& uploadFile) {
  platform::HTTPTransferRequest request;
  request.url = url;
  request.method = "POST";
  if (!uploadFile.isEmpty()) request.bodyFilePath = uploadFile.toStdString();
  auto client = std::make_shared<RawClient>();
  transfers.start(request, client);
  // The bound only ends a transfer that never finishes; the caller fails the benchmark.
  const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!client->done) {
    if (std::chrono::steady_clock::now() > bound) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return client->ok ? std::optional(client->received) : std::nullopt;
}

// Each iteration downloads the bytes once bare and once through the routes, from the same
// server over connections kept open, so the floor sees the same load as the download;
// the time is the routes' download, share_of_raw the bare time over the routes' time.
void BM_HttpRoutesDownload(benchmark::State& state) {
  Loopback net;
  const auto size = std::size_t(state.range(0));
  auto answer = testsupport::HttpsTestResponse::ok(std::string(size, 'x'), "application/octet-stream");
  answer.headers.push_back({"Dropbox-API-Result", kMetadata});
  net.server.script("/2/files/download", {answer});
  net.server.script("/raw", {answer});
  QTemporaryDir dir;
  auto routes = platform::HttpRoutes::create(net.endpoints(), {"key", "refresh", "access"});
  auto transfers = platform::CurlTransferLoop::create("bench.raw");
  using Clock = std::chrono::steady_clock;
  double rawSeconds = 0, routesSeconds = 0;
  for (auto _ : state) {
    const auto rawStart = Clock::now();
    if (rawTransfer(*transfers, net.server.origin() + "/raw", {}) != size) state.SkipWithError("raw transfer failed");
    const auto start = Clock::now();
    bool done = false;
    routes->downloadUrl("/big.orrx", true, dir.filePath("big"),
                        [&](const auto& a) { done = static_cast<bool>(a.result); });
    loop()->runUntil([&] { return done; }, platform::Millis(60000));
    const auto end = Clock::now();
    if (!done) state.SkipWithError("download failed");
    rawSeconds += std::chrono::duration<double>(start - rawStart).count();
    routesSeconds += std::chrono::duration<double>(end - start).count();
    state.SetIterationTime(std::chrono::duration<double>(end - start).count());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
  state.counters["share_of_raw"] = routesSeconds > 0 ? rawSeconds / routesSeconds : 0;
}
BENCHMARK(BM_HttpRoutesDownload)->Arg(1 << 20)->Arg(20 << 20)->Unit(benchmark::kMillisecond)->UseManualTime();

void BM_RawTransfer(benchmark::State& state, bool upload) {
  Loopback net;
  const std::string body(std::size_t(state.range(0)), 'x');
  net.server.script("/raw",
                    {testsupport::HttpsTestResponse::ok(upload ? kMetadata : body, "application/octet-stream")});
  QTemporaryDir dir;
  const QString file = dir.filePath("big");
  {
    QFile out(file);
    out.open(QIODevice::WriteOnly);
    out.write(QByteArray::fromStdString(body));
  }
  auto transfers = platform::CurlTransferLoop::create("bench.raw");
  for (auto _ : state)
    if (!rawTransfer(*transfers, net.server.origin() + "/raw", upload ? file : QString()))
      state.SkipWithError("transfer failed");
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
void BM_RawUpload(benchmark::State& state) { BM_RawTransfer(state, true); }
void BM_RawDownload(benchmark::State& state) { BM_RawTransfer(state, false); }
BENCHMARK(BM_RawUpload)->Arg(1 << 20)->Arg(20 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RawDownload)->Arg(1 << 20)->Arg(20 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  static QTemporaryDir home(QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                                ? QStringLiteral("/dev/shm/orrery-bench-XXXXXX")
                                : QDir::tempPath() + "/orrery-bench-XXXXXX");
  if (!home.isValid() || !testsupport::redirectStandardFolders(home.path())) return 2;
  QGuiApplication app(argc, argv);
  QCoreApplication::setOrganizationName("Orrery");
  QCoreApplication::setApplicationName("Orrery");
  orrery::setLogSink([](const QString&) {});
  platform::installMainQueuePoster(loop());
  loop()->adoptCurrentThread();
  DropboxFolderManager::setNetworkProbe([] { return true; });
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
