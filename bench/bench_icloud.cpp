// The iCloud engine over the local-folder container: from start to the complete list (the
// workspace's batch update) with 1 000 and 10 000 documents, and from a change of the index
// to the new list, next to its floor (scanning
// "Documents" and reading and decoding the index); and the sync-state file of 10 000 records
// written and read, next to a bare QJsonDocument round trip of the same text.
// Every main-thread step is timed, from creating the workspace over its engine to the
// workspace taking the complete list, each with the destruction of its task. Counters:
// "max_step_ms" is the longest step in wall time over all runs, "run_max_step_ms" the median
// over the runs of each run's longest step (a single run's worst step on a busy machine
// measures the machine), "max_cpu_step_ms" the longest step in main-thread CPU time over all
// runs (what the program itself spends in one step, preemption left out), "close_step_ms" the
// longest closing of the workspace, a step of its own.

#include "../tests/support/cloud_container_fixture.h"
#include "../tests/support/test_home.h"

#include "cloud/cloud_mode.h"
#include "cloud/dropbox_folder_manager_state.h"
#include "foundation/logging.h"
#include "model/index_document.h"
#include "model/workspace.h"
#include "platform/cloud/metadata_query.h"
#include "platform/core/notification_center.h"
#include "platform/core/run_loop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>

#include <time.h>

using namespace orrery;

namespace {

double threadCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

struct Step {
  double wallMs = 0;
  double cpuMs = 0;
};

// Runs main-queue tasks on a RunLoop and times each one, with what its task holds released.
class TimedPoster final : public platform::MainQueuePoster {
 public:
  void post(platform::Task task) override { loop->post(timed(std::move(task))); }
  void postAfter(platform::Millis delay, platform::Task task) override {
    loop->postAfter(delay, timed(std::move(task)));
  }
  bool isMainThread() const override { return loop->isMainThread(); }

  template <typename Work>
  void time(Work&& work) {
    QElapsedTimer timer;
    const double cpuStart = threadCpuMs();
    timer.start();
    work();
    steps.push_back({timer.nsecsElapsed() / 1e6, threadCpuMs() - cpuStart});
  }

  platform::Task timed(platform::Task task) {
    auto held = std::make_shared<platform::Task>(std::move(task));
    return [this, held] {
      time([&] {
        platform::Task run = std::move(*held);
        run();
      });
    };
  }

  std::shared_ptr<platform::RunLoop> loop = std::make_shared<platform::RunLoop>();
  std::vector<Step> steps;
};

class Listed final : public WorkspaceDelegate {
 public:
  void batchUpdateDoneInWorkspace(WorkspaceInterface*) override { listed = true; }
  bool listed = false;
};

std::map<int, std::unique_ptr<testsupport::CloudContainerFixture>>& containers() {
  static std::map<int, std::unique_ptr<testsupport::CloudContainerFixture>> made;
  return made;
}

testsupport::CloudContainerFixture& containerWith(int documents) {
  auto& slot = containers()[documents];
  if (!slot) {
    slot = std::make_unique<testsupport::CloudContainerFixture>();
    slot->addDocuments(documents);
  }
  // The environment names the container of this size.
  qputenv("ORRERY_CLOUD_CONTAINER", slot->root().toUtf8());
  return *slot;
}

// The timed poster as the main queue while it lives, over a container of `documents`.
struct TimedMainQueue {
  explicit TimedMainQueue(int documents) { containerWith(documents); }
  ~TimedMainQueue() { platform::installMainQueuePoster(previous); }
  std::shared_ptr<TimedPoster> poster = std::make_shared<TimedPoster>();
  std::shared_ptr<platform::MainQueuePoster> previous = platform::installMainQueuePoster(poster);
};

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The longest steps over the runs of one benchmark.
class LongestSteps {
 public:
  void addRun(const std::vector<Step>& steps) {
    double runMax = 0;
    for (const Step& step : steps) {
      runMax = std::max(runMax, step.wallMs);
      mMaxCpu = std::max(mMaxCpu, step.cpuMs);
    }
    mMax = std::max(mMax, runMax);
    mRunMax.push_back(runMax);
  }
  void report(benchmark::State& state) const {
    state.counters["max_step_ms"] = mMax;
    state.counters["run_max_step_ms"] = median(mRunMax);
    state.counters["max_cpu_step_ms"] = mMaxCpu;
  }

 private:
  double mMax = 0;
  double mMaxCpu = 0;
  std::vector<double> mRunMax;
};

std::size_t listedCount(const Workspace& workspace) {
  return workspace.proxyListOrNilIfNotReady().value_or(ProxyList()).size();
}

void BM_CloudModeStartToReady(benchmark::State& state) {
  const auto documents = std::size_t(state.range(0));
  TimedMainQueue queue{int(documents)};
  const auto& poster = queue.poster;
  LongestSteps longest;
  double maxCloseStep = 0;
  for (auto _ : state) {
    poster->steps.clear();
    Listed screens;
    std::shared_ptr<Workspace> workspace;
    poster->time([&] { workspace = Workspace::create(CloudMode::create(), &screens); });
    const bool listed = poster->loop->runUntil([&] { return screens.listed; }, platform::Millis(120000));
    const std::size_t count = listedCount(*workspace);
    // Closing (the user leaves the location) is not on the way to the list: counted apart.
    const std::size_t listSteps = poster->steps.size();
    poster->time([&] {
      workspace->closeWorkspace();
      workspace.reset();
    });
    poster->loop->runPending();
    maxCloseStep = std::max(maxCloseStep, poster->steps[listSteps].wallMs);
    poster->steps.resize(listSteps);
    if (!listed || count != documents) {
      state.SkipWithError("the workspace did not list every document");
      break;
    }
    longest.addRun(poster->steps);
  }
  longest.report(state);
  state.counters["close_step_ms"] = maxCloseStep;
}
BENCHMARK(BM_CloudModeStartToReady)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// Another instance rewrote the index: from the change's notice to the workspace's new list,
// which replaces one of the same documents.
void BM_CloudModeIndexChangeToList(benchmark::State& state) {
  const auto documents = std::size_t(state.range(0));
  TimedMainQueue queue{int(documents)};
  const auto& poster = queue.poster;
  Listed screens;
  auto workspace = Workspace::create(CloudMode::create(), &screens);
  poster->loop->runUntil([&] { return screens.listed; }, platform::Millis(120000));
  auto mode = std::dynamic_pointer_cast<CloudMode>(workspace->currentState());
  LongestSteps longest;
  for (auto _ : state) {
    poster->steps.clear();
    screens.listed = false;
    poster->time([&] {
      platform::NotificationCenter::defaultCenter().post(IndexDocumentChangedNotification,
                                                         mode->subscribedIndexDocument().get());
    });
    const bool listed = poster->loop->runUntil([&] { return screens.listed; }, platform::Millis(120000));
    if (!listed || listedCount(*workspace) != documents) {
      state.SkipWithError("the workspace did not list every document again");
      break;
    }
    longest.addRun(poster->steps);
  }
  longest.report(state);
  workspace->closeWorkspace();
  workspace.reset();
  poster->loop->runPending();
}
BENCHMARK(BM_CloudModeIndexChangeToList)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_CloudModeFloor(benchmark::State& state) {
  auto& container = containerWith(int(state.range(0)));
  for (auto _ : state) {
    auto items = platform::MetadataQuery::scan(container.documents(), "*");
    IndexDocument index(QUrl::fromLocalFile(container.indexPath()));
    bool read = false;
    index.readBinaryWithCompletionHandler([&](bool ok) { read = ok; });
    benchmark::DoNotOptimize(items.size() + index.ideaProxyList().size() + read);
  }
}
BENCHMARK(BM_CloudModeFloor)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

DropboxFolderManagerState stateOf(int records) {
  DropboxFolderManagerState state;
  for (int i = 0; i < records; ++i) {
    const QString name = QString::asprintf("id1765100000_%d.orrx", i);
    const QString rev = QString::asprintf("%09x", 0x1000 + i);
    state.docs().insert("dropbox:/" + name,
                        DocumentInfo::create(SyncFileInfo::EMPTY(), SyncFileInfo::create(name, rev),
                                             i % 3 ? nullptr : SyncFileInfo::create(name + "~", rev)));
  }
  return state;
}

void BM_SyncStateWriteAndRead(benchmark::State& state) {
  QTemporaryDir dir;
  const QString path = dir.filePath("orrery.local.status");
  const auto record = stateOf(int(state.range(0)));
  for (auto _ : state) {
    record.writeAtomicallyToURL(path);
    auto back = DropboxFolderManagerState::readFrom(path);
    benchmark::DoNotOptimize(back->docs().size());
  }
}
BENCHMARK(BM_SyncStateWriteAndRead)->Arg(10000)->Unit(benchmark::kMillisecond);

// The same without the disk: the coder pair alone.
void BM_SyncStateEncodeAndDecode(benchmark::State& state) {
  const auto record = stateOf(int(state.range(0)));
  for (auto _ : state) {
    auto back = DropboxFolderManagerState::readFromData(record.exportAsData());
    benchmark::DoNotOptimize(back->docs().size());
  }
}
BENCHMARK(BM_SyncStateEncodeAndDecode)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_SyncStateEncode(benchmark::State& state) {
  const auto record = stateOf(int(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(record.exportAsData().size());
}
BENCHMARK(BM_SyncStateEncode)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_SyncStateDecode(benchmark::State& state) {
  const QByteArray text = stateOf(int(state.range(0))).exportAsData();
  for (auto _ : state) benchmark::DoNotOptimize(DropboxFolderManagerState::readFromData(text)->docs().size());
}
BENCHMARK(BM_SyncStateDecode)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_BareJsonRoundTrip(benchmark::State& state) {
  const QByteArray text = stateOf(int(state.range(0))).exportAsData();
  for (auto _ : state) {
    const QJsonDocument document = QJsonDocument::fromJson(text);
    benchmark::DoNotOptimize(document.toJson(QJsonDocument::Compact).size());
  }
}
BENCHMARK(BM_BareJsonRoundTrip)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  static QTemporaryDir home;
  if (!home.isValid() || !testsupport::redirectStandardFolders(home.path())) return 2;
  QCoreApplication app(argc, argv);
  QCoreApplication::setOrganizationName("Orrery");
  QCoreApplication::setApplicationName("Orrery");
  orrery::setLogSink([](const QString&) {});
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  containers().clear();
  return 0;
}
