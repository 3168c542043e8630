// Queue operations per second under contention: producers insert by
// priority while one consumer pops, under one lock as the server's queues do.
#include <benchmark/benchmark.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "flumera/priority_list.h"

namespace {

struct Item {
  long priority;
  Item* next;
};

void Contended(benchmark::State& state) {
  const int producers = int(state.range(0));
  constexpr int kPerProducer = 20000;
  int64_t operations = 0;
  for (auto _ : state) {
    std::mutex lock;
    Item* head = nullptr;
    std::vector<Item> items(size_t(producers) * kPerProducer);
    std::vector<std::thread> threads;
    for (int p = 0; p < producers; ++p)
      threads.emplace_back([&, p] {
        for (int i = 0; i < kPerProducer; ++i) {
          Item* item = &items[size_t(p) * kPerProducer + i];
          item->priority = i % 4;  // a few levels, as media and control messages are
          std::lock_guard<std::mutex> g(lock);
          flumera::InsertByPriority(head, item);
        }
      });
    int popped = 0;
    while (popped < producers * kPerProducer) {
      std::lock_guard<std::mutex> g(lock);
      if (flumera::PopHead(head)) ++popped;
    }
    for (auto& t : threads) t.join();
    operations += 2 * int64_t(popped);
  }
  state.counters["ops/s"] = benchmark::Counter(double(operations), benchmark::Counter::kIsRate);
}
BENCHMARK(Contended)->Arg(1)->Arg(4)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
