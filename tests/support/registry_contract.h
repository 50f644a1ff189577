#pragma once
// The rules every Registry keeps, as one typed suite run against each implementation
// (the in-memory one natively, the Win32 one under Wine). Instantiate with a factory
// type that is default-constructible and offers, for key paths of the test's own:
//   platform::Registry& registry()
//   bool KeyExists(platform::RootKey root, const std::string& path)
//   std::optional<std::vector<uint8_t>> ReadRaw(root, path, value_name)

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace sfh56::test {

template <typename Factory>
class RegistryContract : public ::testing::Test {
 protected:
  Factory factory;
};

TYPED_TEST_SUITE_P(RegistryContract);

TYPED_TEST_P(RegistryContract, ShortBufferFailsWithMoreDataAndReportsTheSizeNeeded) {
  platform::Registry& registry = this->factory.registry();
  {
    auto created = registry.Create(platform::RootKey::kCurrentUser, "A\\B");
    ASSERT_TRUE(created);
    const uint8_t text[] = {'x', 'y', 'z', 0};
    ASSERT_EQ(created->SetValue("V", platform::kRegSz, text, sizeof text), platform::kErrorSuccess);
  }
  auto key = registry.OpenForRead(platform::RootKey::kCurrentUser, "A\\B");
  ASSERT_TRUE(key);

  uint8_t buffer[8] = {};
  uint32_t type = 0;
  uint32_t size = 3;
  EXPECT_EQ(key->QueryValue("V", &type, buffer, &size), platform::kErrorMoreData);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(type, platform::kRegSz);

  size = sizeof buffer;
  EXPECT_EQ(key->QueryValue("V", nullptr, buffer, &size), platform::kErrorSuccess);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(buffer[2], 'z');

  size = 0;
  EXPECT_EQ(key->QueryValue("V", &type, nullptr, &size), platform::kErrorSuccess) << "size query";
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(key->QueryValue("V", &type, buffer, nullptr), platform::kErrorInvalidParameter);
  EXPECT_EQ(key->QueryValue("W", &type, buffer, &size), platform::kErrorFileNotFound);
  const uint8_t one = 1;
  EXPECT_NE(key->SetValue("W", platform::kRegBinary, &one, 1), platform::kErrorSuccess)
      << "opened for reading";
}

TYPED_TEST_P(RegistryContract, KeysAreSeparatePerRootAndIgnoreLetterCase) {
  platform::Registry& registry = this->factory.registry();
  constexpr auto kUser = platform::RootKey::kCurrentUser;
  constexpr auto kMachine = platform::RootKey::kLocalMachine;
  EXPECT_FALSE(registry.OpenForRead(kUser, "Software\\X"));
  auto created = registry.Create(kUser, "Software\\X");
  ASSERT_TRUE(created);
  uint8_t one = 1;
  EXPECT_EQ(created->SetValue("Value", platform::kRegBinary, &one, 1), platform::kErrorSuccess);

  EXPECT_TRUE(this->factory.KeyExists(kUser, "SOFTWARE\\x\\"));
  EXPECT_FALSE(this->factory.KeyExists(kMachine, "Software\\X"));
  ASSERT_TRUE(this->factory.ReadRaw(kUser, "software\\x", "VALUE"));

  auto read_only = registry.OpenForRead(kUser, "software\\X");
  ASSERT_TRUE(read_only);
  EXPECT_EQ(read_only->SetValue("Other", platform::kRegBinary, &one, 1),
            platform::kErrorAccessDenied);
}

TYPED_TEST_P(RegistryContract, CreatingAKeyCreatesItsParents) {
  platform::Registry& registry = this->factory.registry();
  constexpr auto kUser = platform::RootKey::kCurrentUser;
  ASSERT_TRUE(registry.Create(kUser, "A\\B\\C"));
  EXPECT_TRUE(registry.OpenForRead(kUser, "a"));
  EXPECT_TRUE(registry.OpenForRead(kUser, "A\\b"));
  EXPECT_FALSE(registry.OpenForRead(kUser, "A\\BC"));
}

// Enumeration as the device-resource lookup walks the registry: counts, names within the
// caller's buffers, and the end. The order is the registry's own.
TYPED_TEST_P(RegistryContract, EnumerationGivesCountsAndNamesWithinTheCallersBuffers) {
  platform::Registry& registry = this->factory.registry();
  constexpr auto kMachine = platform::RootKey::kLocalMachine;
  {
    auto zeta = registry.Create(kMachine, "Enum\\Zeta");
    ASSERT_TRUE(zeta);
    const uint8_t text[] = {'z', 0};
    const uint8_t nine[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    ASSERT_EQ(zeta->SetValue("V", platform::kRegSz, text, sizeof text), platform::kErrorSuccess);
    ASSERT_EQ(zeta->SetValue("Second", platform::kRegBinary, nine, sizeof nine),
              platform::kErrorSuccess);
    ASSERT_TRUE(registry.Create(kMachine, "Enum\\alpha\\Inner"));
    ASSERT_TRUE(registry.Create(kMachine, "Enum\\Mid"));
  }
  auto key = registry.OpenForRead(kMachine, "Enum");
  ASSERT_TRUE(key);
  platform::RegistryKey::Counts counts;
  ASSERT_TRUE(key->QueryCounts(&counts));
  EXPECT_EQ(counts.subkeys, 3u);
  EXPECT_EQ(counts.values, 0u);
  std::vector<std::string> names;
  std::string name;
  for (uint32_t i = 0; i < counts.subkeys; ++i) {
    ASSERT_EQ(key->EnumKey(i, 6, &name), platform::kErrorSuccess) << i;
    names.push_back(name);
  }
  EXPECT_EQ(key->EnumKey(counts.subkeys, 6, &name), platform::kErrorNoMoreItems);
  const auto alpha = std::find(names.begin(), names.end(), "alpha");
  ASSERT_NE(alpha, names.end());
  EXPECT_EQ(key->EnumKey(static_cast<uint32_t>(alpha - names.begin()), 5, &name),
            platform::kErrorMoreData)
      << "no room for the terminating zero";
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Mid", "Zeta", "alpha"})) << "names as written";

  auto zeta = registry.OpenForRead(kMachine, "enum\\zeta");
  ASSERT_TRUE(zeta && zeta->QueryCounts(&counts));
  EXPECT_EQ(counts.values, 2u);
  uint8_t data[8] = {};
  uint32_t type = 0;
  int seen = 0;
  for (uint32_t i = 0; i < 2; ++i) {
    uint32_t size = sizeof data;
    const long status = zeta->EnumValue(i, 16, &name, &type, data, &size);
    if (status == platform::kErrorSuccess) {
      EXPECT_EQ(name, "V");
      EXPECT_EQ(type, platform::kRegSz);
      EXPECT_EQ(size, 2u);
      EXPECT_EQ(data[0], 'z');
      size = sizeof data;
      EXPECT_EQ(zeta->EnumValue(i, 1, &name, &type, data, &size), platform::kErrorMoreData)
          << "no room for the name's terminating zero";
    } else {
      EXPECT_EQ(status, platform::kErrorMoreData) << "nine bytes in a buffer of eight";
      EXPECT_EQ(size, 9u) << "the size the data need";
    }
    ++seen;
  }
  EXPECT_EQ(seen, 2);
  uint32_t size = sizeof data;
  EXPECT_EQ(zeta->EnumValue(2, 16, &name, &type, data, &size), platform::kErrorNoMoreItems);
}

REGISTER_TYPED_TEST_SUITE_P(RegistryContract, ShortBufferFailsWithMoreDataAndReportsTheSizeNeeded,
                            KeysAreSeparatePerRootAndIgnoreLetterCase,
                            CreatingAKeyCreatesItsParents,
                            EnumerationGivesCountsAndNamesWithinTheCallersBuffers);

}  // namespace sfh56::test
