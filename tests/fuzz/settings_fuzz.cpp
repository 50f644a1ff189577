// libFuzzer target: the settings loader over whatever the plugin's registry key holds
// (values of any name, type and length, written by hand or by another program). Every
// load must give settings the receiver can use; saving them and loading again must give
// the same settings, and saving those again the same registry values.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/identity.h"
#include "config/receiver_settings.h"
#include "platform/sim/sim_registry.h"

namespace {

using namespace sfh56;
using platform::RootKey;

constexpr RootKey kRoot = RootKey::kLocalMachine;
const char* const kNames[] = {"ComName",       "InputSignal", "CommandOrder", "BitMask",
                              "PriorityLevel", "AllowRing0",  "comname",      "Other"};

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Done() const { return pos_ >= size_; }
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::vector<uint8_t> Bytes(size_t n) {
    std::vector<uint8_t> bytes;
    while (bytes.size() < n && pos_ < size_) bytes.push_back(data_[pos_++]);
    return bytes;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

bool SameStored(const ReceiverSettings& a, const ReceiverSettings& b) {
  return a.ComName == b.ComName && a.InputSignal == b.InputSignal &&
         a.CommandOrder == b.CommandOrder && a.BitMask == b.BitMask &&
         a.PriorityLevel == b.PriorityLevel && a.AllowRing0 == b.AllowRing0;
}

void CheckUsable(const ReceiverSettings& s, bool ring0_possible) {
  if (s.ComName.size() > 10 || s.ComName.find('\0') != std::string::npos) std::abort();
  if (s.InputSignal > 2) std::abort();
  if (s.AllowRing0 && !ring0_possible) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  const uint8_t flags = in.Byte();
  const bool ring0_possible = (flags & 1) != 0;
  const std::string key = std::string(kSettingsKeyPrefix) + kPluginName;

  sim::SimRegistry registry;
  if ((flags & 2) == 0) registry.PutRaw(kRoot, key, "Unrelated", platform::kRegSz, {'x', 0});
  while (!in.Done()) {
    const uint8_t head = in.Byte();
    const uint32_t type = in.Byte() % 12;  // REG_NONE .. REG_QWORD and beyond
    const std::vector<uint8_t> bytes = in.Bytes(in.Byte() % 40);
    registry.PutRaw(kRoot, key, kNames[head % 8], type, bytes);
  }

  ReceiverSettings loaded;
  loaded.AllowRing0 = (flags & 4) != 0;  // whatever the receiver held before
  LoadSettings(loaded, registry, kRoot, ring0_possible);
  CheckUsable(loaded, ring0_possible);

  SaveSettings(loaded, registry, kRoot);
  const std::vector<sim::SimRegistry::NamedValue> saved = registry.Values(kRoot, key);
  ReceiverSettings reloaded;
  LoadSettings(reloaded, registry, kRoot, ring0_possible);
  if (!SameStored(loaded, reloaded)) std::abort();

  SaveSettings(reloaded, registry, kRoot);
  const std::vector<sim::SimRegistry::NamedValue> again = registry.Values(kRoot, key);
  if (again.size() != saved.size()) std::abort();
  for (size_t i = 0; i < saved.size(); ++i) {
    if (again[i].name != saved[i].name || again[i].value.type != saved[i].value.type ||
        again[i].value.data != saved[i].value.data) {
      std::abort();
    }
  }
  return 0;
}
