// The settings in the in-memory registry: the rules every registry must give them
// (tests/support/settings_contract.h), and what only the in-memory registry can show
// (the order of the values, failures switched on at will).
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/identity.h"
#include "config/receiver_settings.h"
#include "platform/sim/sim_registry.h"
#include "tests/support/settings_contract.h"

namespace sfh56::test {
namespace {

struct SimSettingsRegistry {
  static constexpr int kGarbageRounds = 2000;

  platform::Registry& registry() { return sim_registry; }
  void Put(platform::RootKey root, const std::string& name, uint32_t type, Bytes data) {
    sim_registry.PutRaw(root, kSettingsKeyPath, name, type, std::move(data));
  }
  std::optional<StoredValue> Read(platform::RootKey root, const std::string& name) {
    const auto raw = sim_registry.ReadRaw(root, kSettingsKeyPath, name);
    if (!raw) return std::nullopt;
    return StoredValue{raw->type, raw->data};
  }
  size_t ValueCount(platform::RootKey root) {
    return sim_registry.Values(root, kSettingsKeyPath).size();
  }
  bool KeyExists(platform::RootKey root) { return sim_registry.KeyExists(root, kSettingsKeyPath); }
  void DeleteValue(platform::RootKey root, const std::string& name) {
    sim_registry.DeleteValue(root, kSettingsKeyPath, name);
  }
  void DeleteKey(platform::RootKey root) { sim_registry.DeleteKey(root, kSettingsKeyPath); }

  sim::SimRegistry sim_registry;
};
INSTANTIATE_TYPED_TEST_SUITE_P(Sim, SettingsContract, ::testing::Types<SimSettingsRegistry>);

using platform::kRegSz;
using platform::RootKey;

const std::string& kKeyPath = kSettingsKeyPath;
constexpr RootKey kUser = RootKey::kCurrentUser;
constexpr RootKey kMachine = RootKey::kLocalMachine;

class SettingsStore : public ::testing::Test {
 protected:
  void Put(const std::string& name, uint32_t type, Bytes data) {
    registry_.PutRaw(kUser, kKeyPath, name, type, std::move(data));
  }
  ReceiverSettings Load(bool ring0_possible = false) {
    ReceiverSettings s = Scribbled();
    s.AllowRing0 = ring0_possible;  // as the receiver object's constructor leaves it
    LoadSettings(s, registry_, kUser, ring0_possible);
    return s;
  }

  sim::SimRegistry registry_;
};

TEST_F(SettingsStore, SaveWritesTheSevenValuesInOrder) {
  SaveSettings(SettingsToSave(), registry_, kUser);

  const auto values = registry_.Values(kUser, kKeyPath);
  ASSERT_EQ(values.size(), 7u) << "ServiceMode is never stored";
  const std::vector<NamedStoredValue> expected = SavedValues();
  for (size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(values[i].name, expected[i].name);
    EXPECT_EQ(values[i].value.type, expected[i].type) << expected[i].name;
    EXPECT_EQ(values[i].value.data, expected[i].data) << expected[i].name;
  }
}

// An unterminated text of eleven bytes typed REG_SZ: the in-memory registry hands it over
// as it is and ten characters are kept. (Wine's registry refuses it with ERROR_MORE_DATA,
// as a text that needs room for its terminator, and the default stands; typed
// REG_BINARY, both registries hand it over: see the shared suite.)
TEST_F(SettingsStore, UnterminatedElevenByteNameOfTypeTextKeepsTenCharacters) {
  Put("ComName", kRegSz, Text("ABCDEFGHIJK"));
  EXPECT_EQ(Load().ComName, "ABCDEFGHIJ");
}

TEST_F(SettingsStore, RegistryFailuresAreSilentAndLeaveDefaultsOrTheStoredKey) {
  Put("ComName", kRegSz, TextZ("COM2"));
  registry_.SetFailOpen(true);
  const ReceiverSettings s = Load(true);
  ExpectFiveDefaults(s);
  EXPECT_TRUE(s.AllowRing0);
  EXPECT_EQ(registry_.OpenCalls(), 1);

  registry_.SetFailCreate(true);
  ReceiverSettings changed;
  changed.ComName = "COM9";
  SaveSettings(changed, registry_, kUser);
  SaveSettings(changed, registry_, kMachine);
  EXPECT_EQ(registry_.CreateCalls(), 2);
  EXPECT_EQ(registry_.ReadRaw(kUser, kKeyPath, "ComName")->data, TextZ("COM2"));
  EXPECT_EQ(registry_.Values(kUser, kKeyPath).size(), 1u);
  EXPECT_FALSE(registry_.KeyExists(kMachine, kKeyPath));
}

}  // namespace
}  // namespace sfh56::test
