#pragma once
// A measure and its floor timed in turns within one benchmark: measure, floor, measure,
// floor… so that a swing in the machine's load falls on both alike, and each ratio comes from
// one pair run back to back. The benchmark's time is the measure's (manual time); its counters
// give the floor's median ("floor_ms"), the median, lowest and highest ratio of a pair
// ("ratio", "ratio_low", "ratio_high") and the median time the measure adds to its floor
// ("added_ms").
//
// Each step answers the milliseconds it took, so that it can leave out what is not part of
// it (closing what it opened, say).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace benchpairs {

// The milliseconds `step` takes.
template <class Step>
double timeMs(Step&& step) {
  const auto start = std::chrono::steady_clock::now();
  step();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The value at `fraction` (0.5: the median) of the sorted values.
inline double quantile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(fraction * double(values.size() - 1) + 0.5);
  return values[std::min(at, values.size() - 1)];
}

// What the pairs measured, each vector in the order they ran.
struct Pairs {
  std::vector<double> measureMs;
  std::vector<double> floorMs;

  std::vector<double> ratios() const {
    std::vector<double> r;
    for (std::size_t i = 0; i < measureMs.size(); ++i)
      if (floorMs[i] > 0) r.push_back(measureMs[i] / floorMs[i]);
    return r;
  }
  std::vector<double> addedMs() const {
    std::vector<double> a;
    for (std::size_t i = 0; i < measureMs.size(); ++i) a.push_back(measureMs[i] - floorMs[i]);
    return a;
  }

  void report(benchmark::State& state) const {
    if (measureMs.empty()) return;
    const std::vector<double> r = ratios();
    state.counters["floor_ms"] = quantile(floorMs, 0.5);
    state.counters["ratio"] = quantile(r, 0.5);
    state.counters["ratio_low"] = quantile(r, 0);
    state.counters["ratio_high"] = quantile(r, 1);
    state.counters["added_ms"] = quantile(addedMs(), 0.5);
  }
};

// Runs one pair per iteration; `measure` and `floor` answer the milliseconds they took. Needs
// UseManualTime() on the benchmark.
template <class Measure, class Floor>
Pairs runInTurns(benchmark::State& state, Measure&& measure, Floor&& floor) {
  Pairs pairs;
  for (auto _ : state) {
    const double m = measure();
    pairs.floorMs.push_back(floor());
    pairs.measureMs.push_back(m);
    state.SetIterationTime(m / 1000);
  }
  pairs.report(state);
  return pairs;
}

}  // namespace benchpairs
