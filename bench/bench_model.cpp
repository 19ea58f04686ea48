// The idea model's JSON form: encoding and decoding whole trees, against a plain QJsonDocument
// parse of the same text (the floor any reader pays), and deep copies of large trees.

#include "../tests/model/idea_test_trees.h"
#include "model/json_decoder.h"
#include "model/idea_identifier_maker.h"
#include "model/json_encoder.h"

#include <QGuiApplication>
#include <QJsonDocument>

#include <benchmark/benchmark.h>

#include <limits>
#include <map>

using namespace orrery;

namespace {

// One random tree per size and picture share, made once: 1% of the ideas carry pictures.
const IdeaPtr& tree(int ideas, bool pictures) {
  static std::map<std::pair<int, bool>, IdeaPtr> trees;
  IdeaPtr& slot = trees[{ideas, pictures}];
  if (!slot) slot = ideatrees::randomTree({ideas, pictures ? 0.01 : 0.0, 0.05, 7});
  return slot;
}

QByteArray encode(const Idea& root) {
  JSONEncoder encoder;
  encoder.encodeObject(root);
  return encoder.data();
}

const QByteArray& text(int ideas, bool pictures) {
  static std::map<std::pair<int, bool>, QByteArray> texts;
  QByteArray& slot = texts[{ideas, pictures}];
  if (slot.isEmpty()) slot = encode(*tree(ideas, pictures));
  return slot;
}

void BM_EncodeTree(benchmark::State& state) {
  const IdeaPtr& root = tree(int(state.range(0)), state.range(1) != 0);
  qint64 bytes = 0;
  for (auto _ : state) {
    const QByteArray json = encode(*root);
    bytes += json.size();
    benchmark::DoNotOptimize(json.constData());
  }
  state.SetBytesProcessed(bytes);
  state.counters["json_MB"] = double(text(int(state.range(0)), state.range(1) != 0).size()) / 1e6;
}

void BM_DecodeTree(benchmark::State& state) {
  const QByteArray& json = text(int(state.range(0)), state.range(1) != 0);
  for (auto _ : state) {
    auto decoder = JSONDecoder::createWithData(json);
    decoder->addAlias<Idea>("idea");
    decoder->addAlias<Idea>("ideas");
    decoder->addAlias<IconImage>("iconImage");
    IdeaPtr root = decoder->decodeObjectOfClass<Idea>();
    if (!root) state.SkipWithError("decoding failed");
    benchmark::DoNotOptimize(root.get());
  }
  state.SetBytesProcessed(qint64(state.iterations()) * json.size());
}

// The floor: parsing the same text into a QJsonDocument and nothing more.
void BM_ParseFloor(benchmark::State& state) {
  const QByteArray& json = text(int(state.range(0)), state.range(1) != 0);
  for (auto _ : state) {
    QJsonDocument document = QJsonDocument::fromJson(json);
    benchmark::DoNotOptimize(document.isObject());
  }
  state.SetBytesProcessed(qint64(state.iterations()) * json.size());
}

// A deep copy with new identifiers of a tree built as an editor builds one (ideas added in
// random places, so a walk in tree order jumps about the heap), 5 % of the ideas links within
// the tree; releasing the copy is left out of the time. Floor: what any copy must make, the
// same number of heap objects of an idea's size, each with a fresh identifier made the way
// the copy makes them, chained one to the next, on one thread. The copy uses several threads,
// so all of these are wall time.
void BM_DeepCopy(benchmark::State& state) {
  const IdeaPtr& root = tree(int(state.range(0)), false);
  for (auto _ : state) {
    IdeaPtr copy = root->deepCopyWithNewIdentifiersNoExternalLinks();
    benchmark::DoNotOptimize(copy.get());
    state.PauseTiming();
    copy.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(qint64(state.iterations()) * state.range(0));
}

// The same copy on the calling thread alone (a depth limit below every level keeps a copy
// serial): the copy in parts must never be slower, even on two cores.
void BM_DeepCopyOnOneThread(benchmark::State& state) {
  const IdeaPtr& root = tree(int(state.range(0)), false);
  for (auto _ : state) {
    IdeaPtr copy = root->ideaByRestrictingDepth(std::numeric_limits<qint64>::max() - 1);
    benchmark::DoNotOptimize(copy.get());
    state.PauseTiming();
    copy.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(qint64(state.iterations()) * state.range(0));
}

void BM_DeepCopyFloor(benchmark::State& state) {
  struct Node {
    std::shared_ptr<Node> next;
    QString identifier;
    char rest[sizeof(Idea) - sizeof(std::shared_ptr<Node>) - sizeof(QString)];
  };
  const int count = int(state.range(0));
  for (auto _ : state) {
    const IdentifierMaker identifiers;
    auto first = std::make_shared<Node>();
    first->identifier = identifiers.next();
    Node* last = first.get();
    for (int i = 1; i < count; ++i) {
      last->next = std::make_shared<Node>();
      last = last->next.get();
      last->identifier = identifiers.next();
    }
    benchmark::DoNotOptimize(last);
    state.PauseTiming();
    // Released from the front one at a time: a chain released by recursion would overflow.
    while (first) first = std::move(first->next);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(qint64(state.iterations()) * state.range(0));
}

void sizes(benchmark::internal::Benchmark* b) {
  for (int pictures : {0, 1})
    for (int ideas : {1000, 10000, 100000}) b->Args({ideas, pictures});
  b->ArgNames({"ideas", "pictures"})->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_EncodeTree)->Apply(sizes);
BENCHMARK(BM_DecodeTree)->Apply(sizes);
BENCHMARK(BM_ParseFloor)->Apply(sizes);
BENCHMARK(BM_DeepCopy)->Arg(25000)->Arg(100000)->ArgName("ideas")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DeepCopyOnOneThread)->Arg(25000)->Arg(100000)->ArgName("ideas")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DeepCopyFloor)->Arg(100000)->ArgName("ideas")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
