// Netlist operations on a netlist of 100k instances and 200k nets.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "vondrel/netlist.h"

using namespace vondrel;

namespace {

constexpr int kInstances = 100000;
constexpr int kNets = 200000;
constexpr int kPorts = 1000;

std::string inst_name(int i) { return "inst_" + std::to_string(i); }

// Instances of INV (ports A, A2, B, Y, Z) and, for 1 in 10, a 4 x 4 array. Every instance
// port sits on exactly one net of two or three members (one element of an array instance
// stands for it); 1 in 20 nets also holds a top-level port. Instances and nets come in
// random order.
Netlist make_netlist(unsigned seed) {
  std::mt19937_64 rng(seed);
  Netlist nl;
  nl.instances.reserve(kInstances);
  std::vector<int> order(kInstances);
  for (int i = 0; i < kInstances; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), rng);
  for (int i : order) {
    JsonObject settings;
    settings.insert_or_assign("w", JsonValue(1.0 + static_cast<double>(i % 7)));
    settings.insert_or_assign("l", JsonValue(0.5));
    const bool array = i % 10 == 0;
    (void)nl.create_inst_with_info(inst_name(i), "kcl", "INV", JsonValue(std::move(settings)), array ? 4 : 1,
                                   array ? 4 : 1, JsonObject());
  }
  for (int p = 0; p < kPorts; ++p) nl.create_port("P" + std::to_string(rng() % kPorts));

  static const char* kPortNames[] = {"A", "A2", "B", "Y", "Z"};
  std::vector<std::pair<int, int>> slots;  // (instance, port)
  slots.reserve(kInstances * 5);
  for (int i = 0; i < kInstances; ++i)
    for (int p = 0; p < 5; ++p) slots.emplace_back(i, p);
  std::shuffle(slots.begin(), slots.end(), rng);
  nl.nets.reserve(kNets);
  std::size_t next = 0;
  for (int n = 0; n < kNets && next < slots.size(); ++n) {
    Net net;
    const std::size_t count = 2 + (rng() % 2);
    for (std::size_t m = 0; m < count && next < slots.size(); ++m, ++next) {
      const auto [i, p] = slots[next];
      if (i % 10 == 0)
        net.members.push_back(PortArrayRef{inst_name(i), kPortNames[p], static_cast<std::int64_t>(1 + rng() % 4),
                                           static_cast<std::int64_t>(1 + rng() % 4)});
      else
        net.members.push_back(PortRef{inst_name(i), kPortNames[p]});
    }
    if (n % 20 == 0) net.members.push_back(NetlistPort{"P" + std::to_string(rng() % (2 * kPorts))});
    nl.nets.push_back(std::move(net));
  }
  return nl;
}

const Netlist& base() {
  static const Netlist nl = make_netlist(1);
  return nl;
}

void BM_Copy(benchmark::State& state) {
  for (auto _ : state) {
    Netlist copy = base();
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_Copy)->Unit(benchmark::kMillisecond);

void BM_Sort(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    Netlist copy = base();
    state.ResumeTiming();
    copy.sort();
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_Sort)->Unit(benchmark::kMillisecond);

void BM_Normalize(benchmark::State& state) {
  for (auto _ : state) {
    auto r = base().normalize(std::nullopt, std::nullopt, std::nullopt);
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_Normalize)->Unit(benchmark::kMillisecond);

void BM_NormalizeEquivalentPorts(benchmark::State& state) {
  const EquivalentPorts eq{{"INV", {{"A", "A2"}}}, {"TOP", {{"P1", "P2", "P3"}}}};
  std::size_t nets = 0;
  for (auto _ : state) {
    auto r = base().normalize("TOP", eq, std::nullopt);
    if (r.ok()) nets = r.value().nets.size();
    benchmark::DoNotOptimize(r);
  }
  state.counters["nets_before"] = static_cast<double>(base().nets.size());
  state.counters["nets_after"] = static_cast<double>(nets);
}
BENCHMARK(BM_NormalizeEquivalentPorts)->Unit(benchmark::kMillisecond);

void BM_FindNetDifference(benchmark::State& state) {
  static const Netlist other = make_netlist(2);
  for (auto _ : state) {
    auto r = base().find_net_difference(other);
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_FindNetDifference)->Unit(benchmark::kMillisecond);

void BM_FindNetDifferenceSelf(benchmark::State& state) {
  for (auto _ : state) {
    auto r = base().find_net_difference(base());
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_FindNetDifferenceSelf)->Unit(benchmark::kMillisecond);

void BM_DetectOpens(benchmark::State& state) {
  for (auto _ : state) {
    auto r = base().detect_opens();
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_DetectOpens)->Unit(benchmark::kMillisecond);

// Removes state.range(0) instances at once.
void BM_RemoveInstances(benchmark::State& state) {
  std::vector<std::string> names;
  for (int i = 0; i < state.range(0); ++i) names.push_back(inst_name(i * 97 % kInstances));
  for (auto _ : state) {
    state.PauseTiming();
    Netlist copy = base();
    std::vector<std::string> arg = names;
    state.ResumeTiming();
    (void)copy.remove_instances(std::move(arg));
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_RemoveInstances)->Arg(1)->Arg(100)->Arg(10000)->Unit(benchmark::kMillisecond);

// Removes state.range(0) instances that all sit on one supply net of every instance: each
// removal takes over what the one before it left of that net.
void BM_RemoveInstancesOnASharedNet(benchmark::State& state) {
  Netlist shared = base();
  Net supply;
  supply.members.reserve(kInstances);
  for (int i = 0; i < kInstances; ++i) supply.members.push_back(PortRef{inst_name(i), "VDD"});
  shared.nets.push_back(std::move(supply));
  std::vector<std::string> names;
  for (int i = 0; i < state.range(0); ++i) names.push_back(inst_name(i * 97 % kInstances));
  for (auto _ : state) {
    state.PauseTiming();
    Netlist copy = shared;
    std::vector<std::string> arg = names;
    state.ResumeTiming();
    (void)copy.remove_instances(std::move(arg));
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_RemoveInstancesOnASharedNet)->Arg(100)->Arg(10000)->Unit(benchmark::kMillisecond);

// Adds one net per top-level port of a cell with state.range(0) ports, each net holding its
// port and a reference to one instance.
void BM_AddNetsOnePerPort(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  Netlist cell;
  for (int p = 0; p < count; ++p) cell.create_port("PIN_" + std::to_string(p));
  (void)cell.create_inst_with_info("u", "kcl", "INV", JsonValue(), 1, 1, JsonObject());
  for (auto _ : state) {
    state.PauseTiming();
    Netlist copy = cell;
    state.ResumeTiming();
    for (int p = 0; p < count; ++p)
      (void)copy.add_net(Net{{NetlistPort{"PIN_" + std::to_string(p)}, PortRef{"u", "A"}}});
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_AddNetsOnePerPort)->Arg(1000)->Arg(20000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
