// JSON text of a generated 100k-instance netlist: reading it into the wire record and into a
// Netlist, and writing both back.
#include <benchmark/benchmark.h>

#include <string>

#include "vondrel/json.h"
#include "vondrel/wire.h"

namespace {

using namespace vondrel;

Netlist make_netlist(int n_instances) {
  Netlist netlist;
  netlist.instances.reserve(static_cast<std::size_t>(n_instances));
  for (int i = 0; i < n_instances; ++i) {
    std::string name = "u" + std::to_string(i);
    JsonObject settings;
    settings.insert_or_assign("w", JsonValue(0.5 + i % 7));
    settings.insert_or_assign("l", JsonValue(0.18));
    settings.insert_or_assign("nf", JsonValue::uinteger(static_cast<std::uint64_t>(1 + i % 4)));
    settings.insert_or_assign("model", JsonValue("nch_lvt"));
    JsonObject info;
    if (i % 3 == 0) info.insert_or_assign("origin", JsonValue("generated"));
    NetlistInstance inst{"pdk", i % 2 ? "nand2" : "inv", JsonValue(std::move(settings)), std::move(info),
                         i % 10 == 0 ? std::optional<NetlistArray>(NetlistArray{2, 3}) : std::nullopt, name};
    netlist.instances.insert_or_assign(std::move(name), std::move(inst));
  }
  for (int i = 0; i < n_instances; ++i) {
    Net net;
    net.members.push_back(PortRef{"u" + std::to_string(i), "out"});
    net.members.push_back(PortRef{"u" + std::to_string((i + 1) % n_instances), "a"});
    if (i % 10 == 0) net.members.push_back(PortArrayRef{"u" + std::to_string(i), "b", 1, 2});
    if (i % 100 == 0) net.members.push_back(NetlistPort{"p" + std::to_string(i)});
    netlist.nets.push_back(std::move(net));
  }
  for (int i = 0; i < n_instances; i += 100) netlist.ports.push_back(NetlistPort{"p" + std::to_string(i)});
  return netlist;
}

const std::string& document() {
  static const std::string text = [] {
    std::string out;
    (void)write_json(out, make_netlist(100000));
    return out;
  }();
  return text;
}

void BM_ReadNetlistWire(benchmark::State& state) {
  const std::string& text = document();
  NetlistWire wire;
  for (auto _ : state) {
    // Freeing the previous round's records is not reading.
    state.PauseTiming();
    wire = NetlistWire();
    state.ResumeTiming();
    Status s = read_json(text, wire);
    if (!s.ok()) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(wire);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
  state.counters["MB"] = static_cast<double>(text.size()) / 1e6;
}

// The road of Netlist.from_json: the record read straight into the netlist, each instance
// then named after its key.
void BM_ReadNetlist(benchmark::State& state) {
  const std::string& text = document();
  Netlist netlist;
  for (auto _ : state) {
    state.PauseTiming();
    netlist = Netlist();
    state.ResumeTiming();
    Status s = read_json(text, netlist);
    if (!s.ok()) state.SkipWithError("read failed");
    for (auto it = netlist.instances.begin(); it != netlist.instances.end(); ++it) it.value().name = it->first;
    benchmark::DoNotOptimize(netlist);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_WriteNetlistWire(benchmark::State& state) {
  const std::string& text = document();
  NetlistWire wire;
  (void)read_json(text, wire);
  for (auto _ : state) {
    std::string out;
    out.reserve(128);
    (void)write_json(out, wire);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

// The same into a buffer kept from the previous round: the formatting alone, without the
// growth of a fresh buffer.
void BM_WriteNetlistWireWarm(benchmark::State& state) {
  const std::string& text = document();
  NetlistWire wire;
  (void)read_json(text, wire);
  std::string out;
  for (auto _ : state) {
    out.clear();
    (void)write_json(out, wire);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

// The road of Netlist.to_json: the netlist written as its record, no wire struct built.
void BM_WriteNetlist(benchmark::State& state) {
  const std::string& text = document();
  const Netlist netlist = make_netlist(100000);
  for (auto _ : state) {
    std::string out;
    out.reserve(128);
    (void)write_json(out, netlist);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

BENCHMARK(BM_ReadNetlistWire)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadNetlist)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteNetlistWire)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteNetlistWireWarm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteNetlist)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
