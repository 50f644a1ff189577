#include "hwaccess/resource_lists.h"

namespace sfh56 {
namespace {

constexpr size_t kAllocationHeaderSize = 8;
constexpr size_t kCmListHeaderSize = 4;
constexpr size_t kCmFullDescriptorHeaderSize = 16;
constexpr size_t kCmPartialDescriptorSize = 16;

enum AllocationType : uint32_t { kAllocMemory = 1, kAllocIo = 2, kAllocDma = 3, kAllocIrq = 4 };
enum CmType : uint8_t { kCmPort = 1, kCmInterrupt = 2, kCmMemory = 3, kCmDma = 4 };

// Little-endian fields; the caller has checked that they lie inside the bytes.
uint16_t Le16(std::span<const uint8_t> bytes, size_t at) {
  return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}
uint32_t Le32(std::span<const uint8_t> bytes, size_t at) {
  return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
         static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

template <typename T>
void AddCapped(std::vector<T>& list, T value) {
  if (list.size() < kMaxResourcesOfAKind) list.push_back(value);
}

void ReadAllocationRecord(std::span<const uint8_t> record, ResourceLists& lists) {
  if (record.size() < 8) return;
  switch (Le32(record, 4)) {
    case kAllocMemory:
      if (record.size() >= 20) lists.AddMemory(Le32(record, 12), Le32(record, 16));
      break;
    case kAllocIo:
      if (record.size() >= 16) lists.AddIo(Le16(record, 12), Le16(record, 14));
      break;
    case kAllocDma:
      if (record.size() >= 10) lists.AddDmaChannel(record[9]);
      break;
    case kAllocIrq:
      if (record.size() >= 11) lists.AddIrq(record[10]);
      break;
    default:
      break;
  }
}

void ReadPartialDescriptor(std::span<const uint8_t> partial, ResourceLists& lists) {
  switch (partial[0]) {
    case kCmPort: {
      const uint16_t first = Le16(partial, 4);
      lists.AddIo(first, static_cast<uint16_t>(first + Le16(partial, 12) - 1));
      break;
    }
    case kCmInterrupt:
      lists.AddIrq(partial[8]);
      break;
    case kCmMemory: {
      const uint32_t first = Le32(partial, 4);
      lists.AddMemory(first, first + Le32(partial, 12) - 1);
      break;
    }
    case kCmDma:
      lists.AddDmaChannel(partial[4]);
      break;
    default:
      break;
  }
}

}  // namespace

void ResourceLists::AddIrq(uint8_t irq) {
  AddCapped(Irq, irq);
}

void ResourceLists::AddDmaChannel(uint8_t channel) {
  AddCapped(DmaChannel, channel);
}

void ResourceLists::AddIo(uint16_t first, uint16_t last) {
  if (IoBase.size() >= kMaxResourcesOfAKind) return;
  IoBase.push_back(first);
  IoEnd.push_back(last);
}

void ResourceLists::AddMemory(uint32_t first, uint32_t last) {
  if (MemBase.size() >= kMaxResourcesOfAKind) return;
  MemBase.push_back(first);
  MemEnd.push_back(last);
}

void ResourceLists::Clear() {
  *this = ResourceLists{};
}

void ParseAllocationRecords(std::span<const uint8_t> value, ResourceLists& lists) {
  size_t at = kAllocationHeaderSize;
  // Every record advances by at least one byte (its low length byte is not 0), so the
  // chain cannot come back on itself; a record that claims more than is left ends it.
  while (at < value.size() && value[at] != 0) {
    if (value.size() - at < 4) return;
    const uint32_t length = Le32(value, at);
    if (length > value.size() - at) return;
    ReadAllocationRecord(value.subspan(at, length), lists);
    at += length;
  }
}

void ParseCmResourceList(std::span<const uint8_t> value, ResourceLists& lists) {
  if (value.size() < kCmListHeaderSize) return;
  const uint8_t full_count = value[0];
  size_t at = kCmListHeaderSize;
  for (int full = 0; full < full_count; ++full) {
    if (value.size() - at < kCmFullDescriptorHeaderSize) return;
    const uint8_t partial_count = value[at + 12];
    at += kCmFullDescriptorHeaderSize;
    for (int partial = 0; partial < partial_count; ++partial) {
      if (value.size() - at < kCmPartialDescriptorSize) return;
      ReadPartialDescriptor(value.subspan(at, kCmPartialDescriptorSize), lists);
      at += kCmPartialDescriptorSize;
    }
  }
}

}  // namespace sfh56
