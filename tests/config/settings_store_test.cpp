#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "common/identity.h"
#include "config/receiver_settings.h"
#include "platform/sim/sim_registry.h"

namespace sfh56 {
namespace {

using platform::kRegBinary;
using platform::kRegDword;
using platform::kRegSz;
using platform::RootKey;
using Bytes = std::vector<uint8_t>;

const std::string kKeyPath = std::string("Software\\Girder3\\HardPlugins\\") + kPluginName;
constexpr RootKey kUser = RootKey::kCurrentUser;
constexpr RootKey kMachine = RootKey::kLocalMachine;

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}
Bytes TextZ(const std::string& text) {
  Bytes bytes = Text(text);
  bytes.push_back(0);
  return bytes;
}

// Settings whose every field differs from the defaults, so a test sees what Load set.
ReceiverSettings Scribbled() {
  ReceiverSettings s;
  s.ComName = "COM3";
  s.InputSignal = 2;
  s.CommandOrder = 5;
  s.BitMask = 8;
  s.PriorityLevel = 2;
  s.AllowRing0 = true;
  s.ServiceMode = true;
  return s;
}

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

void ExpectFiveDefaults(const ReceiverSettings& s) {
  EXPECT_EQ(s.ComName, "COM1");
  EXPECT_EQ(s.InputSignal, 1);
  EXPECT_EQ(s.CommandOrder, 0);
  EXPECT_EQ(s.BitMask, 16);
  EXPECT_EQ(s.PriorityLevel, 7);
}

TEST_F(SettingsStore, KeyPathIsThePrefixFollowedByTheDeviceName) {
  EXPECT_EQ(kKeyPath, std::string(kSettingsKeyPrefix) + "Plonix SFH-56 device");
  SaveSettings(ReceiverSettings{}, registry_, kUser);
  EXPECT_TRUE(registry_.KeyExists(kUser, "Software\\Girder3\\HardPlugins\\Plonix SFH-56 device"));
}

TEST_F(SettingsStore, NoKeyGivesDefaultsAndLeavesServiceModeAlone) {
  for (const bool possible : {false, true}) {
    const ReceiverSettings s = Load(possible);
    ExpectFiveDefaults(s);
    EXPECT_EQ(s.AllowRing0, possible);
    EXPECT_TRUE(s.ServiceMode);
  }
}

TEST_F(SettingsStore, NoKeyKeepsTheRing0SwitchButNeverBeyondWhatIsPossible) {
  ReceiverSettings s;
  s.AllowRing0 = false;  // cleared by a capture that found no port address
  LoadSettings(s, registry_, kUser, /*ring0_possible=*/true);
  EXPECT_FALSE(s.AllowRing0);

  s.AllowRing0 = true;  // the driver has gone since
  LoadSettings(s, registry_, kUser, /*ring0_possible=*/false);
  EXPECT_FALSE(s.AllowRing0);
}

TEST_F(SettingsStore, MissingValuesTakeDefaultsEvenWhenOthersArePresent) {
  Put("ComName", kRegSz, TextZ("COM2"));
  const ReceiverSettings s = Load();
  EXPECT_EQ(s.ComName, "COM2");
  EXPECT_EQ(s.InputSignal, 1);
  EXPECT_EQ(s.CommandOrder, 0);
  EXPECT_EQ(s.BitMask, 16);
  EXPECT_EQ(s.PriorityLevel, 7);
}

TEST_F(SettingsStore, ComNameEndsAtTheFirstZeroOrWithTheData) {
  struct Case {
    Bytes stored;
    std::string expected;
  };
  const Case cases[] = {
      {Text("COM7"), "COM7"},  // no terminator
      {TextZ("COM10"), "COM10"},
      {Bytes{'C', 'O', 0, 'M', '5'}, "CO"},   // zero inside
      {TextZ("ABCDEFGHIJ"), "ABCDEFGHIJ"},    // ten characters and zero: 11 bytes
      {Text("ABCDEFGHIJK"), "ABCDEFGHIJ"},    // 11 bytes, no zero: ten characters kept
      {Text("ABCDEFGHIJKL"), "COM1"},         // 12 bytes do not fit
      {TextZ("ABCDEFGHIJK"), "COM1"},         // 12 bytes with the zero
      {Text(std::string(300, 'x')), "COM1"},  // long
      {Bytes{}, ""},                          // empty data
  };
  for (const Case& c : cases) {
    Put("ComName", kRegSz, c.stored);
    EXPECT_EQ(Load().ComName, c.expected) << "stored " << c.stored.size() << " bytes";
  }
}

TEST_F(SettingsStore, RegistryTypesAreNotExamined) {
  Put("ComName", kRegBinary, TextZ("USB"));
  Put("InputSignal", kRegSz, Bytes{2});
  Put("CommandOrder", kRegDword, Bytes{3, 0, 0, 0});
  Put("BitMask", 0, Bytes{32, 0, 0, 0});
  Put("PriorityLevel", 11, Bytes{8});
  Put("AllowRing0", kRegSz, Bytes{1});
  const ReceiverSettings s = Load(/*ring0_possible=*/true);
  EXPECT_EQ(s.ComName, "USB");
  EXPECT_EQ(s.InputSignal, 2);
  EXPECT_EQ(s.CommandOrder, 3);
  EXPECT_EQ(s.BitMask, 32);
  EXPECT_EQ(s.PriorityLevel, 8);
  EXPECT_TRUE(s.AllowRing0);
  EXPECT_TRUE(s.ServiceMode) << "never loaded";
}

TEST_F(SettingsStore, FiveCharacterPortNameRoundTrips) {
  ReceiverSettings s;
  s.ComName = "COM10";
  SaveSettings(s, registry_, kUser);
  const auto stored = registry_.ReadRaw(kUser, kKeyPath, "ComName");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->type, kRegSz);
  EXPECT_EQ(stored->data, TextZ("COM10"));
  EXPECT_EQ(Load().ComName, "COM10");
}

TEST_F(SettingsStore, PortNameIsSavedNoLongerThanItCanBeReadBack) {
  ReceiverSettings s;
  s.ComName = "\\\\.\\VERYLONGPORTNAME";
  SaveSettings(s, registry_, kUser);
  EXPECT_EQ(registry_.ReadRaw(kUser, kKeyPath, "ComName")->data, TextZ("\\\\.\\VERYLO"));
  EXPECT_EQ(Load().ComName, "\\\\.\\VERYLO");

  s.ComName = std::string("CO\0M9", 5);  // a zero ends the text
  SaveSettings(s, registry_, kUser);
  EXPECT_EQ(registry_.ReadRaw(kUser, kKeyPath, "ComName")->data, TextZ("CO"));
}

TEST_F(SettingsStore, InputSignalOutsideItsThreePinsFallsBackToDsr) {
  Put("InputSignal", kRegDword, Bytes{2, 0, 0, 0});  // a DWORD typed by hand: too long
  EXPECT_EQ(Load().InputSignal, 1);
  for (const uint8_t pin : {0, 1, 2}) {
    Put("InputSignal", kRegBinary, Bytes{pin});
    EXPECT_EQ(Load().InputSignal, pin);
  }
  for (const uint8_t pin : {3, 4, 128, 255}) {
    Put("InputSignal", kRegBinary, Bytes{pin});
    EXPECT_EQ(Load().InputSignal, 1) << "stored " << int{pin};
  }
  Put("InputSignal", kRegBinary, Bytes{});
  EXPECT_EQ(Load().InputSignal, 1);
}

TEST_F(SettingsStore, NumbersOutsideTheDialogsRangesAreLoadedUnchanged) {
  Put("CommandOrder", kRegBinary, Bytes{12, 0, 0, 0});
  Put("PriorityLevel", kRegBinary, Bytes{9});
  Put("BitMask", kRegBinary, Bytes{0xFE, 0xFF, 0xFF, 0xFF});
  ReceiverSettings s = Load();
  EXPECT_EQ(s.CommandOrder, 12);
  EXPECT_EQ(s.PriorityLevel, 9);
  EXPECT_EQ(s.BitMask, -2);

  Put("CommandOrder", kRegBinary, Bytes{0x00, 0x00, 0x00, 0x80});
  Put("PriorityLevel", kRegBinary, Bytes{255});
  s = Load();
  EXPECT_EQ(s.CommandOrder, INT32_MIN);
  EXPECT_EQ(s.PriorityLevel, 255);
}

TEST_F(SettingsStore, ShortNumbersAreZeroExtendedAndEmptyOnesIgnored) {
  Put("CommandOrder", kRegBinary, Bytes{12});
  Put("BitMask", kRegBinary, Bytes{0x20, 0x01});
  EXPECT_EQ(Load().CommandOrder, 12);
  EXPECT_EQ(Load().BitMask, 0x120);

  Put("CommandOrder", kRegBinary, Bytes{0xFF, 0xFF, 0xFF});  // not sign-extended
  EXPECT_EQ(Load().CommandOrder, 0xFFFFFF);

  Put("CommandOrder", kRegBinary, Bytes{});
  Put("BitMask", kRegBinary, Bytes{});
  Put("PriorityLevel", kRegBinary, Bytes{});
  const ReceiverSettings s = Load();
  EXPECT_EQ(s.CommandOrder, 0);
  EXPECT_EQ(s.BitMask, 16);
  EXPECT_EQ(s.PriorityLevel, 7);

  Put("BitMask", kRegBinary, Bytes{1, 0, 0, 0, 0});  // five bytes do not fit
  EXPECT_EQ(Load().BitMask, 16);
}

TEST_F(SettingsStore, AllowRing0IsReadOnlyWhileRing0IsPossible) {
  Put("AllowRing0", kRegBinary, Bytes{1});
  EXPECT_FALSE(Load(/*ring0_possible=*/false).AllowRing0);
  EXPECT_TRUE(Load(/*ring0_possible=*/true).AllowRing0);

  Put("AllowRing0", kRegBinary, Bytes{0});
  EXPECT_FALSE(Load(true).AllowRing0);
  Put("AllowRing0", kRegBinary, Bytes{0x80});
  EXPECT_TRUE(Load(true).AllowRing0);
  Put("AllowRing0", kRegBinary, Bytes{1, 0, 0, 0});  // too long: Ring0Possible stands
  EXPECT_TRUE(Load(true).AllowRing0);
  registry_.DeleteValue(kUser, kKeyPath, "AllowRing0");
  EXPECT_TRUE(Load(true).AllowRing0);
}

TEST_F(SettingsStore, StoredRing0WithoutRing0IsSavedBackAsOff) {
  Put("AllowRing0", kRegBinary, Bytes{1});
  ReceiverSettings s;
  LoadSettings(s, registry_, kUser, /*ring0_possible=*/false);
  ASSERT_FALSE(s.AllowRing0);
  SaveSettings(s, registry_, kUser);
  EXPECT_EQ(registry_.ReadRaw(kUser, kKeyPath, "AllowRing0")->data, Bytes{0});
}

TEST_F(SettingsStore, SaveWritesSixValuesWithTheirTypesAndWidthsInOrder) {
  ReceiverSettings s;
  s.ComName = "COM4";
  s.InputSignal = 2;
  s.CommandOrder = 0x01020304;
  s.BitMask = -2;
  s.PriorityLevel = 8;
  s.AllowRing0 = true;
  s.ServiceMode = true;
  SaveSettings(s, registry_, kUser);

  const auto values = registry_.Values(kUser, kKeyPath);
  ASSERT_EQ(values.size(), 6u) << "ServiceMode is never stored";
  const struct {
    const char* name;
    uint32_t type;
    Bytes data;
  } expected[] = {
      {"ComName", kRegSz, TextZ("COM4")},
      {"InputSignal", kRegBinary, {2}},
      {"CommandOrder", kRegBinary, {0x04, 0x03, 0x02, 0x01}},
      {"BitMask", kRegBinary, {0xFE, 0xFF, 0xFF, 0xFF}},
      {"PriorityLevel", kRegBinary, {8}},
      {"AllowRing0", kRegBinary, {1}},
  };
  for (size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(values[i].name, expected[i].name);
    EXPECT_EQ(values[i].value.type, expected[i].type) << expected[i].name;
    EXPECT_EQ(values[i].value.data, expected[i].data) << expected[i].name;
  }

  const ReceiverSettings loaded = Load(/*ring0_possible=*/true);
  EXPECT_EQ(loaded.ComName, "COM4");
  EXPECT_EQ(loaded.InputSignal, 2);
  EXPECT_EQ(loaded.CommandOrder, 0x01020304);
  EXPECT_EQ(loaded.BitMask, -2);
  EXPECT_EQ(loaded.PriorityLevel, 8);
  EXPECT_TRUE(loaded.AllowRing0);
}

TEST_F(SettingsStore, TheRootKeyInForceAtTheCallIsUsed) {
  ReceiverSettings s;
  s.ComName = "COM2";
  SaveSettings(s, registry_, kMachine);
  EXPECT_TRUE(registry_.KeyExists(kMachine, kKeyPath));
  EXPECT_FALSE(registry_.KeyExists(kUser, kKeyPath));

  EXPECT_EQ(Load().ComName, "COM1") << "the user root holds nothing";
  ReceiverSettings machine;
  LoadSettings(machine, registry_, kMachine, false);
  EXPECT_EQ(machine.ComName, "COM2");
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

// Whatever a hand-edited or foreign key holds, loading ends with settings the receiver
// can use: no crash, a pin of 0..2, a name of at most ten characters, and no ring-0
// switch that is not possible.
TEST_F(SettingsStore, GarbageValuesOfAnyTypeAndLengthLoadSafely) {
  const uint32_t seed = 20261208;
  std::mt19937 random(seed);
  std::printf("garbage registry values, seed %u\n", static_cast<unsigned>(seed));
  SCOPED_TRACE("seed " + std::to_string(seed));
  const char* const names[] = {"ComName",       "InputSignal", "CommandOrder", "BitMask",
                               "PriorityLevel", "AllowRing0",  "ServiceMode",  "comname"};
  for (int round = 0; round < 2000; ++round) {
    registry_.DeleteKey(kUser, kKeyPath);
    for (const char* name : names) {
      if (random() % 4 == 0) continue;  // some missing
      const uint32_t type = random() % 12;
      const size_t length = random() % 3 == 0 ? random() % 6 : random() % 40;
      Bytes data(length);
      for (uint8_t& byte : data) byte = static_cast<uint8_t>(random());
      Put(name, type, std::move(data));
    }
    const bool possible = random() % 2 == 0;
    const ReceiverSettings s = Load(possible);
    ASSERT_LE(s.InputSignal, 2) << "round " << round;
    ASSERT_LE(s.ComName.size(), 10u) << "round " << round;
    ASSERT_TRUE(possible || !s.AllowRing0) << "round " << round;
  }
}

}  // namespace
}  // namespace sfh56
