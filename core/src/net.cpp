#include "vondrel/net.h"

#include <algorithm>

namespace vondrel {

void sort_members(std::vector<NetMember>& members) {
  if (std::is_sorted(members.begin(), members.end())) return;
  std::stable_sort(members.begin(), members.end());
}

}  // namespace vondrel
