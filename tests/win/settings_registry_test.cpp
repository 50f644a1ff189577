// The settings against Wine's real registry, through the Win32 registry implementation.
// Each test works under a key of its own, deleted afterwards: a registry wrapper puts the
// settings' key path below that test key.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "common/identity.h"
#include "config/receiver_settings.h"
#include "platform/win32/win32_registry.h"
#include "tests/support/registry_contract.h"

namespace sfh56::win32 {
namespace {

using platform::RootKey;
using Bytes = std::vector<uint8_t>;

const std::string kSettingsPath = std::string(kSettingsKeyPrefix) + kPluginName;

// Deletes a key with everything below it.
void DeleteTree(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
    RegKeyOwner owner(key);
    char name[256];
    for (;;) {
      DWORD length = sizeof name;
      if (RegEnumKeyExA(owner.Get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS) {
        break;
      }
      DeleteTree(owner.Get(), name);
    }
  }
  RegDeleteKeyA(root, path.c_str());
}

// Sends every key path of the settings below a test's own key.
class RedirectedRegistry : public platform::Registry {
 public:
  explicit RedirectedRegistry(std::string base) : base_(std::move(base)) {}
  std::unique_ptr<platform::RegistryKey> OpenForRead(RootKey root,
                                                     const std::string& path) override {
    return real_.OpenForRead(root, base_ + "\\" + path);
  }
  std::unique_ptr<platform::RegistryKey> Create(RootKey root, const std::string& path) override {
    return real_.Create(root, base_ + "\\" + path);
  }

 private:
  Win32Registry real_;
  std::string base_;
};

class WineSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = std::string("Software\\SfhSettingsTest\\") +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    registry_ = std::make_unique<RedirectedRegistry>(base_);
    Cleanup();
  }
  void TearDown() override {
    Cleanup();
    // The shared parent goes with the last test (it is not deleted while it has keys).
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\SfhSettingsTest");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\SfhSettingsTest");
  }
  void Cleanup() {
    DeleteTree(HKEY_CURRENT_USER, base_);
    DeleteTree(HKEY_LOCAL_MACHINE, base_);
  }

  std::string FullPath() const { return base_ + "\\" + kSettingsPath; }

  // Plants a raw value with RegSetValueExA, creating the key when needed.
  void Put(const char* name, DWORD type, const Bytes& data, HKEY root = HKEY_CURRENT_USER) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, FullPath().c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegKeyOwner owner(key);
    ASSERT_EQ(
        RegSetValueExA(owner.Get(), name, 0, type, data.data(), static_cast<DWORD>(data.size())),
        ERROR_SUCCESS);
  }

  struct Raw {
    LONG status = ERROR_FILE_NOT_FOUND;
    DWORD type = 0;
    Bytes data;
  };
  Raw Get(const char* name, HKEY root = HKEY_CURRENT_USER) const {
    Raw raw;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, FullPath().c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return raw;
    RegKeyOwner owner(key);
    raw.data.resize(1024);
    DWORD size = static_cast<DWORD>(raw.data.size());
    raw.status = RegQueryValueExA(owner.Get(), name, nullptr, &raw.type, raw.data.data(), &size);
    raw.data.resize(raw.status == ERROR_SUCCESS ? size : 0);
    return raw;
  }

  bool KeyExists(HKEY root) const {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, FullPath().c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }

  ReceiverSettings Load(bool ring0_possible = false, RootKey root = RootKey::kCurrentUser) {
    ReceiverSettings s;
    s.ComName = "COM3";
    s.InputSignal = 2;
    s.CommandOrder = 5;
    s.BitMask = 8;
    s.PriorityLevel = 2;
    s.AllowRing0 = ring0_possible;
    LoadSettings(s, *registry_, root, ring0_possible);
    return s;
  }

  std::string base_;
  std::unique_ptr<RedirectedRegistry> registry_;
};

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}
Bytes TextZ(const std::string& text) {
  Bytes bytes = Text(text);
  bytes.push_back(0);
  return bytes;
}

TEST_F(WineSettings, NoKeyGivesDefaults) {
  const ReceiverSettings s = Load(/*ring0_possible=*/true);
  EXPECT_EQ(s.ComName, "COM1");
  EXPECT_EQ(s.InputSignal, 1);
  EXPECT_EQ(s.CommandOrder, 0);
  EXPECT_EQ(s.BitMask, 16);
  EXPECT_EQ(s.PriorityLevel, 7);
  EXPECT_TRUE(s.AllowRing0);
}

TEST_F(WineSettings, ComNameOfEveryLength) {
  Put("ComName", REG_SZ, Text("COM7"));  // no terminator
  EXPECT_EQ(Load().ComName, "COM7");
  Put("ComName", REG_SZ, TextZ("ABCDEFGHIJ"));
  EXPECT_EQ(Load().ComName, "ABCDEFGHIJ");
  Put("ComName", REG_BINARY, Text("ABCDEFGHIJK"));
  EXPECT_EQ(Load().ComName, "ABCDEFGHIJ") << "11 bytes without a zero keep ten characters";
  Put("ComName", REG_SZ, Text("ABCDEFGHIJKL"));
  EXPECT_EQ(Load().ComName, "COM1") << "12 bytes do not fit";
  Put("ComName", REG_SZ, TextZ(std::string(200, 'Q')));
  EXPECT_EQ(Load().ComName, "COM1");
}

TEST_F(WineSettings, FiveCharacterPortNameRoundTrips) {
  ReceiverSettings s;
  s.ComName = "COM10";
  SaveSettings(s, *registry_, RootKey::kCurrentUser);
  const Raw raw = Get("ComName");
  ASSERT_EQ(raw.status, ERROR_SUCCESS);
  EXPECT_EQ(raw.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(raw.data, TextZ("COM10"));
  EXPECT_EQ(Load().ComName, "COM10");
}

TEST_F(WineSettings, InputSignalTooLongOrOutOfRangeIsDsr) {
  const DWORD dword_pin = 2;
  Put("InputSignal", REG_DWORD,
      Bytes(reinterpret_cast<const uint8_t*>(&dword_pin),
            reinterpret_cast<const uint8_t*>(&dword_pin) + 4));
  EXPECT_EQ(Load().InputSignal, 1);
  Put("InputSignal", REG_BINARY, Bytes{3});
  EXPECT_EQ(Load().InputSignal, 1);
  Put("InputSignal", REG_BINARY, Bytes{0});
  EXPECT_EQ(Load().InputSignal, 0);
}

TEST_F(WineSettings, NumbersAreLoadedUnchangedAndShortOnesZeroExtended) {
  Put("CommandOrder", REG_BINARY, Bytes{12, 0, 0, 0});
  Put("PriorityLevel", REG_BINARY, Bytes{9});
  Put("BitMask", REG_BINARY, Bytes{0x20, 0x01});
  ReceiverSettings s = Load();
  EXPECT_EQ(s.CommandOrder, 12);
  EXPECT_EQ(s.PriorityLevel, 9);
  EXPECT_EQ(s.BitMask, 0x120);
  Put("BitMask", REG_BINARY, Bytes{});
  Put("CommandOrder", REG_BINARY, Bytes{1, 2, 3, 4, 5});
  s = Load();
  EXPECT_EQ(s.BitMask, 16);
  EXPECT_EQ(s.CommandOrder, 0);
}

TEST_F(WineSettings, StoredRing0WithoutRing0LoadsOffAndIsSavedOff) {
  Put("AllowRing0", REG_BINARY, Bytes{1});
  EXPECT_TRUE(Load(/*ring0_possible=*/true).AllowRing0);
  const ReceiverSettings s = Load(/*ring0_possible=*/false);
  EXPECT_FALSE(s.AllowRing0);
  SaveSettings(s, *registry_, RootKey::kCurrentUser);
  EXPECT_EQ(Get("AllowRing0").data, Bytes{0});
}

TEST_F(WineSettings, SaveWritesSixValuesWithTheirTypesAndWidths) {
  ReceiverSettings s;
  s.ComName = "COM4";
  s.InputSignal = 2;
  s.CommandOrder = 0x01020304;
  s.BitMask = -2;
  s.PriorityLevel = 8;
  s.AllowRing0 = true;
  s.ServiceMode = true;
  SaveSettings(s, *registry_, RootKey::kCurrentUser);

  const struct {
    const char* name;
    DWORD type;
    Bytes data;
  } expected[] = {
      {"ComName", REG_SZ, TextZ("COM4")},
      {"InputSignal", REG_BINARY, {2}},
      {"CommandOrder", REG_BINARY, {0x04, 0x03, 0x02, 0x01}},
      {"BitMask", REG_BINARY, {0xFE, 0xFF, 0xFF, 0xFF}},
      {"PriorityLevel", REG_BINARY, {8}},
      {"AllowRing0", REG_BINARY, {1}},
  };
  for (const auto& value : expected) {
    const Raw raw = Get(value.name);
    ASSERT_EQ(raw.status, ERROR_SUCCESS) << value.name;
    EXPECT_EQ(raw.type, value.type) << value.name;
    EXPECT_EQ(raw.data, value.data) << value.name;
  }

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, FullPath().c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  RegKeyOwner owner(key);
  DWORD value_count = 0;
  ASSERT_EQ(RegQueryInfoKeyA(owner.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             &value_count, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(value_count, 6u) << "ServiceMode is never stored";

  const ReceiverSettings loaded = Load(/*ring0_possible=*/true);
  EXPECT_EQ(loaded.ComName, "COM4");
  EXPECT_EQ(loaded.InputSignal, 2);
  EXPECT_EQ(loaded.CommandOrder, 0x01020304);
  EXPECT_EQ(loaded.BitMask, -2);
  EXPECT_EQ(loaded.PriorityLevel, 8);
  EXPECT_TRUE(loaded.AllowRing0);
}

TEST_F(WineSettings, TheRootKeySwitchIsHonoured) {
  ReceiverSettings s;
  s.ComName = "COM2";
  SaveSettings(s, *registry_, RootKey::kLocalMachine);
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER));
  EXPECT_EQ(Load(false, RootKey::kLocalMachine).ComName, "COM2");
  EXPECT_EQ(Load(false, RootKey::kCurrentUser).ComName, "COM1");
}

TEST_F(WineSettings, KeysThatCannotBeOpenedOrCreatedAreSilent) {
  // A root that names no predefined key fails to open and to create.
  const auto bogus = static_cast<RootKey>(0x80000099u);
  ReceiverSettings s;
  s.ComName = "COM9";
  SaveSettings(s, *registry_, bogus);
  EXPECT_EQ(Load(false, bogus).ComName, "COM1");
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER));

  // A key name longer than the registry allows cannot be created.
  RedirectedRegistry too_long(base_ + "\\" + std::string(300, 'k'));
  SaveSettings(s, too_long, RootKey::kCurrentUser);
  ReceiverSettings loaded;
  LoadSettings(loaded, too_long, RootKey::kCurrentUser, false);
  EXPECT_EQ(loaded.ComName, "COM1");
}

TEST_F(WineSettings, GarbageValuesLoadSafely) {
  const uint32_t seed = 20261208;
  std::printf("garbage registry values, seed %u\n", static_cast<unsigned>(seed));
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  const char* const names[] = {"ComName", "InputSignal",   "CommandOrder",
                               "BitMask", "PriorityLevel", "AllowRing0"};
  for (int round = 0; round < 150; ++round) {
    for (const char* name : names) {
      const DWORD type = random() % 12;
      const size_t length = random() % 3 == 0 ? random() % 6 : random() % 40;
      Bytes data(length);
      for (uint8_t& byte : data) byte = static_cast<uint8_t>(random());
      Put(name, type, data);
    }
    const bool possible = random() % 2 == 0;
    const ReceiverSettings s = Load(possible);
    ASSERT_LE(s.InputSignal, 2) << "round " << round;
    ASSERT_LE(s.ComName.size(), 10u) << "round " << round;
    ASSERT_TRUE(possible || !s.AllowRing0) << "round " << round;
  }
}

// The rules every registry keeps, against the Win32 one: under a key of each test's own,
// deleted afterwards.
struct Win32RegistryFactory {
  Win32RegistryFactory()
      : base(std::string("Software\\SfhRegistryContract\\") +
             ::testing::UnitTest::GetInstance()->current_test_info()->name()),
        redirected(base) {
    Cleanup();
  }
  ~Win32RegistryFactory() {
    Cleanup();
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\SfhRegistryContract");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\SfhRegistryContract");
  }
  void Cleanup() {
    DeleteTree(HKEY_CURRENT_USER, base);
    DeleteTree(HKEY_LOCAL_MACHINE, base);
  }
  static HKEY Root(RootKey root) {
    return root == RootKey::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  }

  platform::Registry& registry() { return redirected; }
  bool KeyExists(RootKey root, std::string path) {
    if (!path.empty() && path.back() == '\\') path.pop_back();
    HKEY key = nullptr;
    if (RegOpenKeyExA(Root(root), (base + "\\" + path).c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
      return false;
    }
    RegCloseKey(key);
    return true;
  }
  std::optional<Bytes> ReadRaw(RootKey root, const std::string& path, const std::string& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(Root(root), (base + "\\" + path).c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
      return std::nullopt;
    }
    RegKeyOwner owner(key);
    Bytes data(1024);
    DWORD size = static_cast<DWORD>(data.size());
    if (RegQueryValueExA(owner.Get(), name.c_str(), nullptr, nullptr, data.data(), &size) !=
        ERROR_SUCCESS) {
      return std::nullopt;
    }
    data.resize(size);
    return data;
  }

  std::string base;
  RedirectedRegistry redirected;
};

TEST(RegKeyOwner, MovesOwnershipAndClosesOnce) {
  HKEY raw = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &raw), ERROR_SUCCESS);
  RegKeyOwner first(raw);
  RegKeyOwner second(std::move(first));
  EXPECT_FALSE(first);
  EXPECT_EQ(second.Get(), raw);
  RegKeyOwner third;
  third = std::move(second);
  EXPECT_FALSE(second);
  third.Reset();
  EXPECT_FALSE(third);
  DWORD count = 0;
  EXPECT_NE(RegQueryInfoKeyA(raw, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS)
      << "the handle is closed";
}

}  // namespace
}  // namespace sfh56::win32

namespace sfh56::test {
namespace {

INSTANTIATE_TYPED_TEST_SUITE_P(Win32, RegistryContract,
                               ::testing::Types<win32::Win32RegistryFactory>);

}  // namespace
}  // namespace sfh56::test
