#pragma once
// The settings' registry persistence (LoadSettings, SaveSettings) against any registry:
// one typed suite run against the in-memory registry natively and the Win32 registry
// under Wine, so that each rule is written once and holds on both. Instantiate with a
// factory type that is default-constructible and offers, for the settings' own key:
//   platform::Registry& registry()
//   void Put(RootKey, const std::string& name, uint32_t type, std::vector<uint8_t> data)
//   std::optional<StoredValue> Read(RootKey, const std::string& name)
//   size_t ValueCount(RootKey)
//   bool KeyExists(RootKey)
//   void DeleteValue(RootKey, const std::string& name)
//   void DeleteKey(RootKey)
//   static constexpr int kGarbageRounds   (how many rounds of random values to load)

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "common/identity.h"
#include "config/receiver_settings.h"
#include "platform/registry.h"

namespace sfh56::test {

using Bytes = std::vector<uint8_t>;

struct StoredValue {
  uint32_t type = 0;
  Bytes data;
};

inline const std::string kSettingsKeyPath = std::string(kSettingsKeyPrefix) + kPluginName;

inline Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}
inline Bytes TextZ(const std::string& text) {
  Bytes bytes = Text(text);
  bytes.push_back(0);
  return bytes;
}

// Settings whose every field differs from the defaults, so a test sees what Load set.
inline ReceiverSettings Scribbled() {
  ReceiverSettings s;
  s.ComName = "COM3";
  s.InputSignal = 2;
  s.CommandOrder = 5;
  s.BitMask = 8;
  s.PriorityLevel = 2;
  s.AllowRing0 = true;
  s.StableCodes = true;
  s.ServiceMode = true;
  return s;
}

// The five plain defaults, and the classic decoding.
inline void ExpectFiveDefaults(const ReceiverSettings& s) {
  EXPECT_FALSE(s.StableCodes);
  EXPECT_EQ(s.ComName, "COM1");
  EXPECT_EQ(s.InputSignal, 1);
  EXPECT_EQ(s.CommandOrder, 0);
  EXPECT_EQ(s.BitMask, 16);
  EXPECT_EQ(s.PriorityLevel, 7);
}

// Settings of every field non-default and AllowRing0 set, and the seven values, in order,
// that saving them writes.
inline ReceiverSettings SettingsToSave() {
  ReceiverSettings s;
  s.ComName = "COM4";
  s.InputSignal = 2;
  s.CommandOrder = 0x01020304;
  s.BitMask = -2;
  s.PriorityLevel = 8;
  s.AllowRing0 = true;
  s.StableCodes = true;
  s.ServiceMode = true;
  return s;
}
struct NamedStoredValue {
  const char* name;
  uint32_t type;
  Bytes data;
};
inline std::vector<NamedStoredValue> SavedValues() {
  return {
      {"ComName", platform::kRegSz, TextZ("COM4")},
      {"InputSignal", platform::kRegBinary, {2}},
      {"CommandOrder", platform::kRegBinary, {0x04, 0x03, 0x02, 0x01}},
      {"BitMask", platform::kRegBinary, {0xFE, 0xFF, 0xFF, 0xFF}},
      {"PriorityLevel", platform::kRegBinary, {8}},
      {"AllowRing0", platform::kRegBinary, {1}},
      {"StableCodes", platform::kRegBinary, {1}},
  };
}

template <typename Factory>
class SettingsContract : public ::testing::Test {
 protected:
  static constexpr platform::RootKey kUser = platform::RootKey::kCurrentUser;
  static constexpr platform::RootKey kMachine = platform::RootKey::kLocalMachine;

  platform::Registry& registry() { return factory.registry(); }
  void Put(const std::string& name, uint32_t type, Bytes data) {
    factory.Put(kUser, name, type, std::move(data));
  }
  std::optional<StoredValue> Read(const std::string& name) { return factory.Read(kUser, name); }
  ReceiverSettings Load(bool ring0_possible = false, platform::RootKey root = kUser) {
    ReceiverSettings s = Scribbled();
    s.AllowRing0 = ring0_possible;  // as the receiver object's constructor leaves it
    LoadSettings(s, registry(), root, ring0_possible);
    return s;
  }

  Factory factory;
};

TYPED_TEST_SUITE_P(SettingsContract);

TYPED_TEST_P(SettingsContract, KeyPathIsThePrefixFollowedByTheDeviceName) {
  EXPECT_EQ(kSettingsKeyPath, std::string(kSettingsKeyPrefix) + "Plonix SFH-56 device");
  EXPECT_EQ(kSettingsKeyPath, "Software\\Girder3\\HardPlugins\\Plonix SFH-56 device");
  SaveSettings(ReceiverSettings{}, this->registry(), this->kUser);
  EXPECT_TRUE(this->factory.KeyExists(this->kUser));
}

TYPED_TEST_P(SettingsContract, NoKeyGivesDefaultsAndLeavesServiceModeAlone) {
  for (const bool possible : {false, true}) {
    const ReceiverSettings s = this->Load(possible);
    ExpectFiveDefaults(s);
    EXPECT_EQ(s.AllowRing0, possible);
    EXPECT_TRUE(s.ServiceMode);
  }
}

TYPED_TEST_P(SettingsContract, NoKeyKeepsTheRing0SwitchButNeverBeyondWhatIsPossible) {
  ReceiverSettings s;
  s.AllowRing0 = false;  // cleared by a capture that found no port address
  LoadSettings(s, this->registry(), this->kUser, /*ring0_possible=*/true);
  EXPECT_FALSE(s.AllowRing0);

  s.AllowRing0 = true;  // the driver has gone since
  LoadSettings(s, this->registry(), this->kUser, /*ring0_possible=*/false);
  EXPECT_FALSE(s.AllowRing0);
}

TYPED_TEST_P(SettingsContract, MissingValuesTakeDefaultsEvenWhenOthersArePresent) {
  this->Put("ComName", platform::kRegSz, TextZ("COM2"));
  const ReceiverSettings s = this->Load();
  EXPECT_EQ(s.ComName, "COM2");
  EXPECT_EQ(s.InputSignal, 1);
  EXPECT_EQ(s.CommandOrder, 0);
  EXPECT_EQ(s.BitMask, 16);
  EXPECT_EQ(s.PriorityLevel, 7);
  EXPECT_FALSE(s.StableCodes) << "settings stored before the stable decoding keep the classic";
}

TYPED_TEST_P(SettingsContract, ComNameEndsAtTheFirstZeroOrWithTheData) {
  struct Case {
    uint32_t type;
    Bytes stored;
    std::string expected;
  };
  const Case cases[] = {
      {platform::kRegSz, Text("COM7"), "COM7"},  // no terminator
      {platform::kRegSz, TextZ("COM10"), "COM10"},
      {platform::kRegSz, Bytes{'C', 'O', 0, 'M', '5'}, "CO"},     // zero inside
      {platform::kRegSz, TextZ("ABCDEFGHIJ"), "ABCDEFGHIJ"},      // ten characters and zero
      {platform::kRegBinary, Text("ABCDEFGHIJK"), "ABCDEFGHIJ"},  // 11 bytes, no zero: ten kept
      {platform::kRegSz, Text("ABCDEFGHIJKL"), "COM1"},           // 12 bytes do not fit
      {platform::kRegSz, TextZ("ABCDEFGHIJK"), "COM1"},           // 12 bytes with the zero
      {platform::kRegSz, Text(std::string(300, 'x')), "COM1"},    // long
      {platform::kRegSz, TextZ(std::string(200, 'Q')), "COM1"},   // long, terminated
      {platform::kRegSz, Bytes{}, ""},                            // empty data
  };
  for (const Case& c : cases) {
    this->Put("ComName", c.type, c.stored);
    EXPECT_EQ(this->Load().ComName, c.expected) << "stored " << c.stored.size() << " bytes";
  }
}

TYPED_TEST_P(SettingsContract, RegistryTypesAreNotExamined) {
  this->Put("ComName", platform::kRegBinary, TextZ("USB"));
  this->Put("InputSignal", platform::kRegSz, Bytes{2});
  this->Put("CommandOrder", platform::kRegDword, Bytes{3, 0, 0, 0});
  this->Put("BitMask", 0, Bytes{32, 0, 0, 0});
  this->Put("PriorityLevel", 11, Bytes{8});
  this->Put("AllowRing0", platform::kRegSz, Bytes{1});
  const ReceiverSettings s = this->Load(/*ring0_possible=*/true);
  EXPECT_EQ(s.ComName, "USB");
  EXPECT_EQ(s.InputSignal, 2);
  EXPECT_EQ(s.CommandOrder, 3);
  EXPECT_EQ(s.BitMask, 32);
  EXPECT_EQ(s.PriorityLevel, 8);
  EXPECT_TRUE(s.AllowRing0);
  EXPECT_TRUE(s.ServiceMode) << "never loaded";
}

TYPED_TEST_P(SettingsContract, FiveCharacterPortNameRoundTrips) {
  ReceiverSettings s;
  s.ComName = "COM10";
  SaveSettings(s, this->registry(), this->kUser);
  const auto stored = this->Read("ComName");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->type, platform::kRegSz);
  EXPECT_EQ(stored->data, TextZ("COM10"));
  EXPECT_EQ(this->Load().ComName, "COM10");
}

TYPED_TEST_P(SettingsContract, PortNameIsSavedNoLongerThanItCanBeReadBack) {
  ReceiverSettings s;
  s.ComName = "\\\\.\\VERYLONGPORTNAME";
  SaveSettings(s, this->registry(), this->kUser);
  EXPECT_EQ(this->Read("ComName")->data, TextZ("\\\\.\\VERYLO"));
  EXPECT_EQ(this->Load().ComName, "\\\\.\\VERYLO");

  s.ComName = std::string("CO\0M9", 5);  // a zero ends the text
  SaveSettings(s, this->registry(), this->kUser);
  EXPECT_EQ(this->Read("ComName")->data, TextZ("CO"));
}

TYPED_TEST_P(SettingsContract, InputSignalOutsideItsThreePinsFallsBackToDsr) {
  this->Put("InputSignal", platform::kRegDword, Bytes{2, 0, 0, 0});  // a DWORD: too long
  EXPECT_EQ(this->Load().InputSignal, 1);
  for (const uint8_t pin : {0, 1, 2}) {
    this->Put("InputSignal", platform::kRegBinary, Bytes{pin});
    EXPECT_EQ(this->Load().InputSignal, pin);
  }
  for (const uint8_t pin : {3, 4, 128, 255}) {
    this->Put("InputSignal", platform::kRegBinary, Bytes{pin});
    EXPECT_EQ(this->Load().InputSignal, 1) << "stored " << int{pin};
  }
  this->Put("InputSignal", platform::kRegBinary, Bytes{});
  EXPECT_EQ(this->Load().InputSignal, 1);
}

TYPED_TEST_P(SettingsContract, NumbersOutsideTheDialogsRangesAreLoadedUnchanged) {
  this->Put("CommandOrder", platform::kRegBinary, Bytes{12, 0, 0, 0});
  this->Put("PriorityLevel", platform::kRegBinary, Bytes{9});
  this->Put("BitMask", platform::kRegBinary, Bytes{0xFE, 0xFF, 0xFF, 0xFF});
  ReceiverSettings s = this->Load();
  EXPECT_EQ(s.CommandOrder, 12);
  EXPECT_EQ(s.PriorityLevel, 9);
  EXPECT_EQ(s.BitMask, -2);

  this->Put("CommandOrder", platform::kRegBinary, Bytes{0x00, 0x00, 0x00, 0x80});
  this->Put("PriorityLevel", platform::kRegBinary, Bytes{255});
  s = this->Load();
  EXPECT_EQ(s.CommandOrder, INT32_MIN);
  EXPECT_EQ(s.PriorityLevel, 255);
}

TYPED_TEST_P(SettingsContract, ShortNumbersAreZeroExtendedAndEmptyOrLongOnesIgnored) {
  this->Put("CommandOrder", platform::kRegBinary, Bytes{12});
  this->Put("BitMask", platform::kRegBinary, Bytes{0x20, 0x01});
  EXPECT_EQ(this->Load().CommandOrder, 12);
  EXPECT_EQ(this->Load().BitMask, 0x120);

  this->Put("CommandOrder", platform::kRegBinary, Bytes{0xFF, 0xFF, 0xFF});  // not sign-extended
  EXPECT_EQ(this->Load().CommandOrder, 0xFFFFFF);

  this->Put("CommandOrder", platform::kRegBinary, Bytes{});
  this->Put("BitMask", platform::kRegBinary, Bytes{});
  this->Put("PriorityLevel", platform::kRegBinary, Bytes{});
  const ReceiverSettings s = this->Load();
  EXPECT_EQ(s.CommandOrder, 0);
  EXPECT_EQ(s.BitMask, 16);
  EXPECT_EQ(s.PriorityLevel, 7);

  this->Put("BitMask", platform::kRegBinary, Bytes{1, 0, 0, 0, 0});  // five bytes do not fit
  this->Put("CommandOrder", platform::kRegBinary, Bytes{1, 2, 3, 4, 5});
  EXPECT_EQ(this->Load().BitMask, 16);
  EXPECT_EQ(this->Load().CommandOrder, 0);
}

TYPED_TEST_P(SettingsContract, AllowRing0IsReadOnlyWhileRing0IsPossible) {
  this->Put("AllowRing0", platform::kRegBinary, Bytes{1});
  EXPECT_FALSE(this->Load(/*ring0_possible=*/false).AllowRing0);
  EXPECT_TRUE(this->Load(/*ring0_possible=*/true).AllowRing0);

  this->Put("AllowRing0", platform::kRegBinary, Bytes{0});
  EXPECT_FALSE(this->Load(true).AllowRing0);
  this->Put("AllowRing0", platform::kRegBinary, Bytes{0x80});
  EXPECT_TRUE(this->Load(true).AllowRing0);
  this->Put("AllowRing0", platform::kRegBinary, Bytes{1, 0, 0, 0});  // too long: possible stands
  EXPECT_TRUE(this->Load(true).AllowRing0);
  this->factory.DeleteValue(this->kUser, "AllowRing0");
  EXPECT_TRUE(this->Load(true).AllowRing0);
}

TYPED_TEST_P(SettingsContract, StoredRing0WithoutRing0LoadsOffAndIsSavedBackAsOff) {
  this->Put("AllowRing0", platform::kRegBinary, Bytes{1});
  EXPECT_TRUE(this->Load(/*ring0_possible=*/true).AllowRing0);
  ReceiverSettings s;
  LoadSettings(s, this->registry(), this->kUser, /*ring0_possible=*/false);
  ASSERT_FALSE(s.AllowRing0);
  SaveSettings(s, this->registry(), this->kUser);
  EXPECT_EQ(this->Read("AllowRing0")->data, Bytes{0});
}

TYPED_TEST_P(SettingsContract, SaveWritesSevenValuesWithTheirTypesAndWidths) {
  SaveSettings(SettingsToSave(), this->registry(), this->kUser);

  EXPECT_EQ(this->factory.ValueCount(this->kUser), 7u) << "ServiceMode is never stored";
  for (const NamedStoredValue& value : SavedValues()) {
    const auto stored = this->Read(value.name);
    ASSERT_TRUE(stored) << value.name;
    EXPECT_EQ(stored->type, value.type) << value.name;
    EXPECT_EQ(stored->data, value.data) << value.name;
  }

  const ReceiverSettings loaded = this->Load(/*ring0_possible=*/true);
  EXPECT_EQ(loaded.ComName, "COM4");
  EXPECT_EQ(loaded.InputSignal, 2);
  EXPECT_EQ(loaded.CommandOrder, 0x01020304);
  EXPECT_EQ(loaded.BitMask, -2);
  EXPECT_EQ(loaded.PriorityLevel, 8);
  EXPECT_TRUE(loaded.AllowRing0);
  EXPECT_TRUE(loaded.StableCodes);
}

TYPED_TEST_P(SettingsContract, TheRootKeyInForceAtTheCallIsUsed) {
  ReceiverSettings s;
  s.ComName = "COM2";
  SaveSettings(s, this->registry(), this->kMachine);
  EXPECT_TRUE(this->factory.KeyExists(this->kMachine));
  EXPECT_FALSE(this->factory.KeyExists(this->kUser));

  EXPECT_EQ(this->Load().ComName, "COM1") << "the user root holds nothing";
  EXPECT_EQ(this->Load(false, this->kMachine).ComName, "COM2");
}

// Whatever a hand-edited or foreign key holds, loading ends with settings the receiver
// can use: no crash, a pin of 0..2, a name of at most ten characters, and no ring-0
// switch that is not possible.
TYPED_TEST_P(SettingsContract, GarbageValuesOfAnyTypeAndLengthLoadSafely) {
  const uint32_t seed = 20261208;
  std::mt19937 random(seed);
  std::printf("garbage registry values, seed %u\n", static_cast<unsigned>(seed));
  SCOPED_TRACE("seed " + std::to_string(seed));
  const char* const names[] = {"ComName",     "InputSignal",   "CommandOrder",
                               "BitMask",     "PriorityLevel", "AllowRing0",
                               "StableCodes", "ServiceMode",   "comname"};
  for (int round = 0; round < TypeParam::kGarbageRounds; ++round) {
    this->factory.DeleteKey(this->kUser);
    for (const char* name : names) {
      if (random() % 4 == 0) continue;  // some missing
      const uint32_t type = random() % 12;
      const size_t length = random() % 3 == 0 ? random() % 6 : random() % 40;
      Bytes data(length);
      for (uint8_t& byte : data) byte = static_cast<uint8_t>(random());
      this->Put(name, type, std::move(data));
    }
    const bool possible = random() % 2 == 0;
    const ReceiverSettings s = this->Load(possible);
    ASSERT_LE(s.InputSignal, 2) << "round " << round;
    ASSERT_LE(s.ComName.size(), 10u) << "round " << round;
    ASSERT_TRUE(possible || !s.AllowRing0) << "round " << round;
  }
}

REGISTER_TYPED_TEST_SUITE_P(
    SettingsContract, KeyPathIsThePrefixFollowedByTheDeviceName,
    NoKeyGivesDefaultsAndLeavesServiceModeAlone,
    NoKeyKeepsTheRing0SwitchButNeverBeyondWhatIsPossible,
    MissingValuesTakeDefaultsEvenWhenOthersArePresent, ComNameEndsAtTheFirstZeroOrWithTheData,
    RegistryTypesAreNotExamined, FiveCharacterPortNameRoundTrips,
    PortNameIsSavedNoLongerThanItCanBeReadBack, InputSignalOutsideItsThreePinsFallsBackToDsr,
    NumbersOutsideTheDialogsRangesAreLoadedUnchanged,
    ShortNumbersAreZeroExtendedAndEmptyOrLongOnesIgnored, AllowRing0IsReadOnlyWhileRing0IsPossible,
    StoredRing0WithoutRing0LoadsOffAndIsSavedBackAsOff,
    SaveWritesSevenValuesWithTheirTypesAndWidths, TheRootKeyInForceAtTheCallIsUsed,
    GarbageValuesOfAnyTypeAndLengthLoadSafely);

}  // namespace sfh56::test
