// Decoder speed on recorded signals and on the worst train the capture can deliver.
// Counts heap allocations made while decoding: there must be none.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <new>
#include <sstream>
#include <vector>

#include "decode/decoder.h"
#include "decode/stable_decoder.h"
#include "tools/irdecode_input.h"
#include "tools/replay/durations.h"

namespace {
std::atomic<long> allocations{0};
}

// Counts every allocation and hands it to the ordinary allocator.
void* operator new(size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  std::free(p);
}

namespace sfh56 {
namespace {

std::vector<PulseTrain> CorpusTrains() {
  std::ifstream in(SFH_BENCH_DATA_DIR "/corpus_sample.tsv", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  std::vector<tools::InputError> errors;
  std::vector<PulseTrain> trains;
  for (const tools::Recording& r : tools::ParseCorpusTsv(text.str(), errors)) {
    for (const PulseTrain& t : ReplayedTrains(r.durations_us, kReplayTicksPerSecond)) {
      if (t.LastEdgeIndex > 10) trains.push_back(t);  // trains that are decoded in full
    }
  }
  return trains;
}

// 301 edges, 300 intervals of distinct lengths below the gap limit, both levels spread
// alike so that the whole set is the candidate set of both walks.
PulseTrain WorstCaseTrain() {
  PulseTrain train;
  train.TicksPerSecond = 3579545.0;
  int64_t t = 123456789;
  for (int c = 0; c < kEdgeCapacity; ++c) {
    train.Edges[c] = {c % 2 == 0 ? 0u : kIdleStatus, t};
    t += 1000 + ((c * 7919) % 300) * 61;  // distinct, 0.28 ms to 5.4 ms
  }
  train.LastEdgeIndex = kEdgeCapacity - 1;
  return train;
}

void BM_DecodeCorpusTrain(benchmark::State& st) {
  static const std::vector<PulseTrain> trains = CorpusTrains();
  size_t i = 0;
  const long before = allocations.load();
  for (auto _ : st) {
    benchmark::DoNotOptimize(DecodePulseTrain(trains[i], 16));
    if (++i == trains.size()) i = 0;
  }
  st.counters["allocs_per_decode"] =
      static_cast<double>(allocations.load() - before) / static_cast<double>(st.iterations());
  st.counters["trains"] = static_cast<double>(trains.size());
}
BENCHMARK(BM_DecodeCorpusTrain);

void BM_DecodeWorstCase300Edges(benchmark::State& st) {
  const PulseTrain train = WorstCaseTrain();
  const long before = allocations.load();
  for (auto _ : st) benchmark::DoNotOptimize(DecodePulseTrain(train, 0));
  st.counters["allocs_per_decode"] =
      static_cast<double>(allocations.load() - before) / static_cast<double>(st.iterations());
}
BENCHMARK(BM_DecodeWorstCase300Edges);

// The stable decoding on the same trains: it must stay within twice the classic's time.
void BM_StableDecodeCorpusTrain(benchmark::State& st) {
  static const std::vector<PulseTrain> trains = CorpusTrains();
  size_t i = 0;
  const long before = allocations.load();
  for (auto _ : st) {
    benchmark::DoNotOptimize(DecodeStable(trains[i], 16));
    if (++i == trains.size()) i = 0;
  }
  st.counters["allocs_per_decode"] =
      static_cast<double>(allocations.load() - before) / static_cast<double>(st.iterations());
}
BENCHMARK(BM_StableDecodeCorpusTrain);

void BM_StableDecodeWorstCase300Edges(benchmark::State& st) {
  const PulseTrain train = WorstCaseTrain();
  const long before = allocations.load();
  for (auto _ : st) benchmark::DoNotOptimize(DecodeStable(train, 0));
  st.counters["allocs_per_decode"] =
      static_cast<double>(allocations.load() - before) / static_cast<double>(st.iterations());
}
BENCHMARK(BM_StableDecodeWorstCase300Edges);

}  // namespace
}  // namespace sfh56

BENCHMARK_MAIN();
