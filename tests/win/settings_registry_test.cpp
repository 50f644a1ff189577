// The Win32 registry under Wine: the rules every registry keeps and the settings'
// persistence on it (typed suites shared with the in-memory registry), and what only a
// real registry shows. Each test works under a key of its own, deleted afterwards.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/identity.h"
#include "config/receiver_settings.h"
#include "platform/win32/win32_registry.h"
#include "tests/support/registry_contract.h"
#include "tests/support/settings_contract.h"

namespace sfh56::win32 {
namespace {

using platform::RootKey;
using Bytes = std::vector<uint8_t>;

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

HKEY RootHandle(RootKey root) {
  return root == RootKey::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// The settings in Wine's real registry, under a key of each test's own, deleted
// afterwards: a registry wrapper puts the settings' key path below that test key.
struct Win32SettingsRegistry {
  // Every round writes and loads through the real registry: fewer than in memory.
  static constexpr int kGarbageRounds = 150;

  Win32SettingsRegistry()
      : base(std::string("Software\\SfhSettingsTest\\") +
             ::testing::UnitTest::GetInstance()->current_test_info()->name()),
        redirected(base) {
    Cleanup();
  }
  ~Win32SettingsRegistry() {
    Cleanup();
    // The shared parent goes with the last test (it is not deleted while it has keys).
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\SfhSettingsTest");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\SfhSettingsTest");
  }
  void Cleanup() {
    DeleteTree(HKEY_CURRENT_USER, base);
    DeleteTree(HKEY_LOCAL_MACHINE, base);
  }
  std::string FullPath() const { return base + "\\" + test::kSettingsKeyPath; }

  platform::Registry& registry() { return redirected; }

  // Plants a raw value with RegSetValueExA, creating the key when needed.
  void Put(RootKey root, const std::string& name, uint32_t type, const Bytes& data) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(RootHandle(root), FullPath().c_str(), 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegKeyOwner owner(key);
    // RegSetValueExA looks at the byte after a text value's data and, when it is zero,
    // stores it too as the terminator (Windows does the same). A byte that is never zero
    // follows the data, so that exactly the given bytes are stored whatever the heap holds.
    Bytes guarded = data;
    guarded.push_back(0xFF);
    ASSERT_EQ(RegSetValueExA(owner.Get(), name.c_str(), 0, type, guarded.data(),
                             static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
  }

  std::optional<test::StoredValue> Read(RootKey root, const std::string& name) const {
    HKEY key = nullptr;
    if (RegOpenKeyExA(RootHandle(root), FullPath().c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    RegKeyOwner owner(key);
    Bytes data(1024);
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(data.size());
    if (RegQueryValueExA(owner.Get(), name.c_str(), nullptr, &type, data.data(), &size) !=
        ERROR_SUCCESS) {
      return std::nullopt;
    }
    data.resize(size);
    return test::StoredValue{type, data};
  }

  size_t ValueCount(RootKey root) const {
    HKEY key = nullptr;
    if (RegOpenKeyExA(RootHandle(root), FullPath().c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
      return 0;
    }
    RegKeyOwner owner(key);
    DWORD value_count = 0;
    if (RegQueryInfoKeyA(owner.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &value_count, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      return 0;
    }
    return value_count;
  }

  bool KeyExists(RootKey root) const {
    HKEY key = nullptr;
    if (RegOpenKeyExA(RootHandle(root), FullPath().c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
      return false;
    }
    RegCloseKey(key);
    return true;
  }

  void DeleteValue(RootKey root, const std::string& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(RootHandle(root), FullPath().c_str(), 0, KEY_ALL_ACCESS, &key) ==
        ERROR_SUCCESS) {
      RegKeyOwner owner(key);
      RegDeleteValueA(owner.Get(), name.c_str());
    }
  }

  void DeleteKey(RootKey root) { DeleteTree(RootHandle(root), FullPath()); }

  std::string base;
  RedirectedRegistry redirected;
};

// What only a real registry can show: keys that cannot be opened or created.
class WineSettings : public ::testing::Test {
 protected:
  ReceiverSettings Load(bool ring0_possible, RootKey root) {
    ReceiverSettings s = test::Scribbled();
    s.AllowRing0 = ring0_possible;
    LoadSettings(s, settings_.registry(), root, ring0_possible);
    return s;
  }

  Win32SettingsRegistry settings_;
};

TEST_F(WineSettings, KeysThatCannotBeOpenedOrCreatedAreSilent) {
  // A root that names no predefined key fails to open and to create.
  const auto bogus = static_cast<RootKey>(0x80000099u);
  ReceiverSettings s;
  s.ComName = "COM9";
  SaveSettings(s, settings_.registry(), bogus);
  EXPECT_EQ(Load(false, bogus).ComName, "COM1");
  EXPECT_FALSE(settings_.KeyExists(RootKey::kCurrentUser));

  // A key name longer than the registry allows cannot be created.
  RedirectedRegistry too_long(settings_.base + "\\" + std::string(300, 'k'));
  SaveSettings(s, too_long, RootKey::kCurrentUser);
  ReceiverSettings loaded;
  LoadSettings(loaded, too_long, RootKey::kCurrentUser, false);
  EXPECT_EQ(loaded.ComName, "COM1");
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
INSTANTIATE_TYPED_TEST_SUITE_P(Win32, SettingsContract,
                               ::testing::Types<win32::Win32SettingsRegistry>);

}  // namespace
}  // namespace sfh56::test
