// Flattens a generated two-level hierarchy: a top cell with M instances of mid cells, each
// mid cell holding L leaf instances (placed, with settings and info), nets at every level.
// The flattened top has M x L instances (10^6 by default). Prints the time of the flatten
// call and the peak resident memory of the process.
//
//   bench_flatten [mids=1000] [leaves=1000] [distinct_mid_cells=1]

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "vondrel/flatten.h"

using namespace vondrel;

namespace {

NetlistInstance instance(const std::string& name, const std::string& component, JsonValue settings) {
  JsonObject info;
  info.insert_or_assign("model", JsonValue("nch"));
  return NetlistInstance{"kcl", component, std::move(settings), std::move(info), std::nullopt, name};
}

NetlistData mid_cell(long leaves) {
  NetlistData d;
  d.instances.reserve(leaves);
  d.extras.reserve(leaves);
  JsonObject settings;
  settings.insert_or_assign("w", JsonValue(0.5));
  settings.insert_or_assign("l", JsonValue::integer(2));
  for (long i = 0; i < leaves; ++i) {
    const std::string name = "l" + std::to_string(i);
    d.instances.insert_or_assign(name, instance(name, "leaf", JsonValue(settings)));
    const double x = static_cast<double>(i % 100) * 2.0;
    const double y = static_cast<double>(i / 100) * 3.0;
    d.extras.insert_or_assign(name, PlacedExtra{"LEAF", Placement{x, y, (i % 4) * 90.0, i % 2 == 1,
                                                                  BBox{x - 1, y - 1, x + 1, y + 1}}});
  }
  d.ports = {NetlistPort{"IN"}, NetlistPort{"OUT"}, NetlistPort{"VDD"}};
  // A chain through the leaves, and a supply net reaching every leaf.
  d.nets.reserve(leaves + 2);
  d.nets.push_back(Net{{NetlistPort{"IN"}, PortRef{"l0", "A"}}});
  for (long i = 0; i + 1 < leaves; ++i)
    d.nets.push_back(Net{{PortRef{"l" + std::to_string(i), "Y"}, PortRef{"l" + std::to_string(i + 1), "A"}}});
  d.nets.push_back(Net{{NetlistPort{"OUT"}, PortRef{"l" + std::to_string(leaves - 1), "Y"}}});
  Net supply{{NetlistPort{"VDD"}}};
  supply.members.reserve(leaves + 1);
  for (long i = 0; i < leaves; ++i) supply.members.push_back(PortRef{"l" + std::to_string(i), "VDD"});
  d.nets.push_back(std::move(supply));
  return d;
}

long peak_rss_mib() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss / 1024;  // kilobytes on Linux
}

}  // namespace

int main(int argc, char** argv) {
  const long mids = argc > 1 ? std::atol(argv[1]) : 1000;
  const long leaves = argc > 2 ? std::atol(argv[2]) : 1000;
  const long distinct = argc > 3 ? std::atol(argv[3]) : 1;

  NetlistDataMap netlists;
  for (long c = 0; c < distinct; ++c) netlists.emplace("MID" + std::to_string(c), mid_cell(leaves));

  NetlistData top;
  top.ports = {NetlistPort{"IN"}, NetlistPort{"OUT"}, NetlistPort{"VDD"}};
  Net supply{{NetlistPort{"VDD"}}};
  for (long m = 0; m < mids; ++m) {
    const std::string name = "m" + std::to_string(m);
    top.instances.insert_or_assign(name, instance(name, "mid", JsonValue()));
    top.extras.insert_or_assign(name, PlacedExtra{"MID" + std::to_string(m % distinct),
                                                  Placement{m * 500.0, 0.0, 0.0, false, BBox{}}});
    top.nets.push_back(Net{{PortRef{name, "OUT"},
                            m + 1 < mids ? NetMember(PortRef{"m" + std::to_string(m + 1), "IN"})
                                         : NetMember(NetlistPort{"OUT"})}});
    supply.members.push_back(PortRef{name, "VDD"});
  }
  top.nets.push_back(Net{{NetlistPort{"IN"}, PortRef{"m0", "IN"}}});
  top.nets.push_back(std::move(supply));

  const FlattenOptions options = FlattenOptions::make(std::nullopt, std::nullopt, true, false, false, ".");
  const long rss_before = peak_rss_mib();
  const auto t0 = std::chrono::steady_clock::now();
  Result<FlattenResult> r = flatten_netlist(std::move(top), {}, netlists, {}, options);
  const auto t1 = std::chrono::steady_clock::now();
  if (!r) {
    std::fprintf(stderr, "flatten failed: %s\n", r.error().message().c_str());
    return 1;
  }
  const double secs = std::chrono::duration<double>(t1 - t0).count();
  std::printf("flatten: %ld mids x %ld leaves (%ld distinct mid cells)\n", mids, leaves, distinct);
  std::printf("  result: %zu instances, %zu nets\n", r->data.instances.size(), r->data.nets.size());
  std::printf("  time: %.3f s\n", secs);
  std::printf("  peak RSS: %ld MiB (input built: %ld MiB)\n", peak_rss_mib(), rss_before);
  return 0;
}
