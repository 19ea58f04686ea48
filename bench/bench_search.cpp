// Indexing and searching a cloud location of 1 000 documents of 1 000 ideas each through a
// Workspace over an in-memory engine that decodes documents on its own queue, as the cloud
// engines do. Counters: "docs_per_s" documents indexed per second, "first_result_ms" the time
// from a search's start to its answer, "longest_step_ms" the longest single turn of the main
// queue while the search ran (it must stay well under one frame, 16.7 ms), "steps" the turns.

#include "model/idea.h"
#include "model/workspace.h"

#include "platform/core/dispatch.h"

#include "../tests/model/support/memory_persistence_state.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

using namespace orrery;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kDocuments = 1000;
constexpr int kIdeasPerDocument = 1000;

// The main queue of the benchmark: runs on the calling thread and times every turn.
class SteppingMainQueue final : public platform::MainQueuePoster {
 public:
  void post(platform::Task task) override {
    std::lock_guard lock(mMutex);
    mTasks.push_back(std::move(task));
    mCond.notify_all();
  }
  void postAfter(platform::Millis delay, platform::Task task) override {
    std::lock_guard lock(mMutex);
    mTimers.emplace(Clock::now() + delay, std::move(task));
    mCond.notify_all();
  }
  bool isMainThread() const override { return std::this_thread::get_id() == mThread; }

  // Runs tasks until `done`; a search that never answers ends the run with a message.
  void runUntil(const std::function<bool()>& done) {
    const auto bound = Clock::now() + std::chrono::seconds(120);
    while (!done()) {
      platform::Task task;
      {
        std::unique_lock lock(mMutex);
        const bool ready = mCond.wait_until(lock, bound, [&] {
          return !mTasks.empty() || (!mTimers.empty() && mTimers.begin()->first <= Clock::now());
        });
        if (!ready) {
          std::fprintf(stderr, "bench_search: no answer within 120 s\n");
          std::exit(1);
        }
        if (!mTasks.empty()) {
          task = std::move(mTasks.front());
          mTasks.pop_front();
        } else {
          task = std::move(mTimers.begin()->second);
          mTimers.erase(mTimers.begin());
        }
      }
      const auto start = Clock::now();
      task();
      longest = std::max(longest, Clock::now() - start);
      ++steps;
    }
  }
  void resetCounters() {
    longest = {};
    steps = 0;
  }

  Clock::duration longest{};
  long steps = 0;

 private:
  std::mutex mMutex;
  std::condition_variable mCond;
  std::deque<platform::Task> mTasks;
  std::multimap<Clock::time_point, platform::Task> mTimers;
  std::thread::id mThread = std::this_thread::get_id();
};

class Recorder final : public WorkspaceDelegate {
 public:
  void searchIsReady(const ProxyList& results, std::int64_t requestIdentifier, WorkspaceInterface*) override {
    answered[requestIdentifier] = results.size();
  }
  std::map<std::int64_t, std::size_t> answered;
};

const char* const kWords[] = {"river", "garden", "budget", "travel", "meeting", "design", "review", "launch",
                              "kitchen", "reading", "music", "health", "school", "friends", "ideas", "weekend"};

IdeaPtr makeDocumentTree(int document) {
  IdeaPtr root = Idea::createWithText(QString("Document %1").arg(document));
  std::vector<IdeaPtr> all{root};
  for (int i = 1; i < kIdeasPerDocument; ++i) {
    QString text = QString("%1 %2 item %3").arg(kWords[(i * 7 + document) % 16], kWords[(i * 3) % 16]).arg(i);
    // A rare word: in one idea of every tenth document.
    if (i == 500 && document % 10 == 0) text += " needle";
    IdeaPtr idea = Idea::createWithText(text);
    all[(i - 1) / 8]->addIdea(idea);
    all.push_back(idea);
  }
  return root;
}

struct Location {
  SteppingMainQueue* main = nullptr;
  std::shared_ptr<testing::MemoryPersistenceState> engine;
  ProxyList proxies;
  platform::SerialQueue readQueue{"bench.search.read"};
};

Location& location() {
  static Location* shared = [] {
    auto* made = new Location();
    made->engine = std::make_shared<testing::MemoryPersistenceState>();
    made->engine->setReadQueue(&made->readQueue);
    for (int d = 0; d < kDocuments; ++d) {
      const QString identifier = QString("iCloud:/id%1_%2.orrx").arg(1'700'000'000 + d).arg(d);
      made->engine->store(identifier, makeDocumentTree(d));
      made->proxies.push_back(testing::MemoryPersistenceState::withoutDocument(
          IdeaProxy::createWithDoc(made->engine->read(identifier))));
    }
    return made;
  }();
  return *shared;
}

// A workspace whose engine has just delivered its complete list.
std::shared_ptr<Workspace> listedWorkspace(Recorder& recorder) {
  auto workspace = Workspace::create(location().engine, &recorder);
  for (const auto& proxy : location().proxies) location().engine->reportFound(proxy->docIdentifier());
  location().engine->reportProxyList(location().proxies);
  return workspace;
}

void reportStep(benchmark::State& state, const SteppingMainQueue& main) {
  state.counters["longest_step_ms"] = std::chrono::duration<double, std::milli>(main.longest).count();
  state.counters["steps"] = double(main.steps);
}

// The indexing pass a new complete list starts: every document read and indexed.
void BM_IndexLocation(benchmark::State& state) {
  auto& main = *location().main;
  Clock::duration total{};
  for (auto _ : state) {
    Recorder recorder;
    main.resetCounters();
    const auto start = Clock::now();
    auto workspace = listedWorkspace(recorder);
    main.runUntil([&] { return !recorder.answered.empty(); });
    total += Clock::now() - start;
    if (recorder.answered.begin()->second != std::size_t(kDocuments)) state.SkipWithError("not every document listed");
    reportStep(state, main);
  }
  state.counters["docs_per_s"] =
      double(kDocuments) * double(state.iterations()) / std::chrono::duration<double>(total).count();
}
BENCHMARK(BM_IndexLocation)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// A screen's search started the moment the list arrives: it indexes the whole location, then
// matches, and answers once.
void BM_SearchColdLocation(benchmark::State& state) {
  auto& main = *location().main;
  for (auto _ : state) {
    Recorder recorder;
    main.resetCounters();
    const auto start = Clock::now();
    auto workspace = listedWorkspace(recorder);
    workspace->startSearch("needle", 1);
    main.runUntil([&] { return recorder.answered.count(1) > 0; });
    state.counters["first_result_ms"] = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (recorder.answered[1] != std::size_t(kDocuments / 10)) state.SkipWithError("wrong number of results");
    reportStep(state, main);
  }
}
BENCHMARK(BM_SearchColdLocation)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// Searches of an indexed location: a rare word and a common one.
void BM_SearchIndexedLocation(benchmark::State& state) {
  auto& main = *location().main;
  Recorder recorder;
  auto workspace = listedWorkspace(recorder);
  main.runUntil([&] { return !recorder.answered.empty(); });
  const QString text = state.range(0) ? "garden" : "needle";
  std::int64_t request = 1000;
  for (auto _ : state) {
    main.resetCounters();
    const auto start = Clock::now();
    const std::int64_t id = ++request;
    workspace->startSearch(text, id);
    main.runUntil([&] { return recorder.answered.count(id) > 0; });
    state.counters["first_result_ms"] = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    reportStep(state, main);
  }
}
BENCHMARK(BM_SearchIndexedLocation)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  auto main = std::make_shared<SteppingMainQueue>();
  platform::installMainQueuePoster(main);
  location().main = main.get();
  ::benchmark::Initialize(&argc, argv);
  ::benchmark::RunSpecifiedBenchmarks();
  ::benchmark::Shutdown();
  return 0;
}
