#pragma once
// The rules every Registry keeps, as one typed suite run against each implementation
// (the in-memory one natively, the Win32 one under Wine). Instantiate with a factory
// type that is default-constructible and offers, for key paths of the test's own:
//   platform::Registry& registry()
//   bool KeyExists(platform::RootKey root, const std::string& path)
//   std::optional<std::vector<uint8_t>> ReadRaw(root, path, value_name)

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

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

REGISTER_TYPED_TEST_SUITE_P(RegistryContract, ShortBufferFailsWithMoreDataAndReportsTheSizeNeeded,
                            KeysAreSeparatePerRootAndIgnoreLetterCase,
                            CreatingAKeyCreatesItsParents);

}  // namespace sfh56::test
