// libFuzzer target: the two resource lists the device registry holds (a Windows 9x
// "Allocation" record chain and an NT CM_RESOURCE_LIST), given the whole input as the
// value's bytes; the first byte also chooses which reader goes first. Every reading must
// stay inside the bytes (the sanitizers see a read past them), keep each kind at 16
// entries, keep ranges paired, and append: reading the same value again into the same
// lists adds to them without changing what was there.

#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "hwaccess/resource_lists.h"

namespace {

using sfh56::ResourceLists;

template <typename T>
void CheckPrefix(const std::vector<T>& once, const std::vector<T>& twice) {
  if (once.size() > sfh56::kMaxResourcesOfAKind || twice.size() > sfh56::kMaxResourcesOfAKind ||
      twice.size() < once.size()) {
    std::abort();
  }
  for (size_t i = 0; i < once.size(); ++i) {
    if (once[i] != twice[i]) std::abort();
  }
}

void Check(const ResourceLists& once, const ResourceLists& twice) {
  if (once.IoBase.size() != once.IoEnd.size() || once.MemBase.size() != once.MemEnd.size() ||
      twice.IoBase.size() != twice.IoEnd.size() || twice.MemBase.size() != twice.MemEnd.size()) {
    std::abort();
  }
  CheckPrefix(once.Irq, twice.Irq);
  CheckPrefix(once.DmaChannel, twice.DmaChannel);
  CheckPrefix(once.IoBase, twice.IoBase);
  CheckPrefix(once.IoEnd, twice.IoEnd);
  CheckPrefix(once.MemBase, twice.MemBase);
  CheckPrefix(once.MemEnd, twice.MemEnd);
}

using Reader = void (*)(std::span<const uint8_t>, ResourceLists&);

void Exercise(Reader read, std::span<const uint8_t> value) {
  // A copy of exactly the value's size, so that any read past it is one past an
  // allocation.
  const std::vector<uint8_t> bytes(value.begin(), value.end());
  ResourceLists once;
  read(bytes, once);
  ResourceLists twice = once;
  read(bytes, twice);
  Check(once, twice);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> value(data, size);
  const bool chain_first = size > 0 && (data[0] & 1) != 0;
  Exercise(chain_first ? sfh56::ParseAllocationRecords : sfh56::ParseCmResourceList, value);
  Exercise(chain_first ? sfh56::ParseCmResourceList : sfh56::ParseAllocationRecords, value);
  return 0;
}
