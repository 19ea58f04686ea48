#pragma once
// A measure and its floor timed in turns within one benchmark: measure, floor, measure,
// floor… so that a swing in the machine's load falls on both alike, and each ratio comes from
// one pair run back to back. The benchmark's time is the measure's mean (manual time); its
// counters give the measure's and the floor's medians ("measure_ms", "floor_ms"), the median,
// lowest and highest ratio of a pair ("ratio", "ratio_low", "ratio_high") and the median time
// the measure adds to its floor ("added_ms"), with the minor page faults of a step ("faults",
// "floor_faults", medians) and what a first touch of a fresh page costs on this machine at the
// time ("touch_us"): on a virtual machine that is a few microseconds (about ten times bare
// metal) and moves with the host's memory, so a step landing on fresh pages measures the
// machine as much as the work.
//
// Each step answers the milliseconds it took, so that it can leave out what is not part of
// it (closing what it opened, say).

#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <sys/resource.h>

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

// Minor page faults of the whole process so far (exports run helper threads too).
inline double minorFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_minflt);
}

// Microseconds a first touch of a fresh anonymous page takes: the median of three rounds of
// 16 MiB mapped, touched page by page and unmapped.
inline double firstTouchUs() {
  constexpr std::size_t kBytes = std::size_t(16) << 20, kPage = 4096;
  std::vector<double> rounds;
  for (int round = 0; round < 3; ++round) {
    void* memory = mmap(nullptr, kBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return 0;
    auto* bytes = static_cast<volatile char*>(memory);
    rounds.push_back(timeMs([&] {
                       for (std::size_t at = 0; at < kBytes; at += kPage) bytes[at] = 1;
                     }) *
                     1000 / double(kBytes / kPage));
    munmap(memory, kBytes);
  }
  return quantile(rounds, 0.5);
}

// What the pairs measured, each vector in the order they ran.
struct Pairs {
  std::vector<double> measureMs;
  std::vector<double> floorMs;
  std::vector<double> measureFaults;
  std::vector<double> floorFaults;

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
    state.counters["measure_ms"] = quantile(measureMs, 0.5);
    state.counters["floor_ms"] = quantile(floorMs, 0.5);
    state.counters["ratio"] = quantile(r, 0.5);
    state.counters["ratio_low"] = quantile(r, 0);
    state.counters["ratio_high"] = quantile(r, 1);
    state.counters["added_ms"] = quantile(addedMs(), 0.5);
    if (!measureFaults.empty()) {
      state.counters["faults"] = quantile(measureFaults, 0.5);
      state.counters["floor_faults"] = quantile(floorFaults, 0.5);
      state.counters["touch_us"] = firstTouchUs();
    }
  }
};

// Runs one pair per iteration; `measure` and `floor` answer the milliseconds they took. Needs
// UseManualTime() on the benchmark.
template <class Measure, class Floor>
Pairs runInTurns(benchmark::State& state, Measure&& measure, Floor&& floor) {
  Pairs pairs;
  for (auto _ : state) {
    double faults = minorFaults();
    const double m = measure();
    pairs.measureFaults.push_back(minorFaults() - faults);
    faults = minorFaults();
    pairs.floorMs.push_back(floor());
    pairs.floorFaults.push_back(minorFaults() - faults);
    pairs.measureMs.push_back(m);
    state.SetIterationTime(m / 1000);
  }
  pairs.report(state);
  return pairs;
}

}  // namespace benchpairs
