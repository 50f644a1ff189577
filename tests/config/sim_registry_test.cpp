#include "platform/sim/sim_registry.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace sfh56::sim {
namespace {

using platform::RootKey;
using Bytes = std::vector<uint8_t>;

constexpr RootKey kUser = RootKey::kCurrentUser;
constexpr RootKey kMachine = RootKey::kLocalMachine;

TEST(SimRegistry, ShortBufferFailsWithMoreDataAndReportsTheSizeNeeded) {
  SimRegistry registry;
  registry.PutRaw(kUser, "A\\B", "V", platform::kRegSz, Bytes{'x', 'y', 'z', 0});
  auto key = registry.OpenForRead(kUser, "A\\B");
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
}

TEST(SimRegistry, KeysAreSeparatePerRootAndIgnoreLetterCase) {
  SimRegistry registry;
  EXPECT_FALSE(registry.OpenForRead(kUser, "Software\\X"));
  auto created = registry.Create(kUser, "Software\\X");
  ASSERT_TRUE(created);
  uint8_t one = 1;
  EXPECT_EQ(created->SetValue("Value", platform::kRegBinary, &one, 1), platform::kErrorSuccess);

  EXPECT_TRUE(registry.KeyExists(kUser, "SOFTWARE\\x\\"));
  EXPECT_FALSE(registry.KeyExists(kMachine, "Software\\X"));
  ASSERT_TRUE(registry.ReadRaw(kUser, "software\\x", "VALUE"));

  auto read_only = registry.OpenForRead(kUser, "software\\X");
  ASSERT_TRUE(read_only);
  EXPECT_EQ(read_only->SetValue("Other", platform::kRegBinary, &one, 1),
            platform::kErrorAccessDenied);
}

TEST(SimRegistry, CreatingAKeyCreatesItsParentsAndDeletingRemovesTheTree) {
  SimRegistry registry;
  ASSERT_TRUE(registry.Create(kUser, "A\\B\\C"));
  EXPECT_TRUE(registry.OpenForRead(kUser, "a"));
  EXPECT_TRUE(registry.OpenForRead(kUser, "A\\b"));
  EXPECT_FALSE(registry.OpenForRead(kUser, "A\\BC"));
  registry.DeleteKey(kUser, "A\\B");
  EXPECT_FALSE(registry.KeyExists(kUser, "A\\B\\C"));
  EXPECT_FALSE(registry.KeyExists(kUser, "A\\B"));
  EXPECT_TRUE(registry.KeyExists(kUser, "A"));
}

TEST(SimRegistry, FailureSwitchesAndKeysThatOutliveTheRegistry) {
  auto registry = std::make_unique<SimRegistry>();
  registry->PutRaw(kUser, "K", "V", platform::kRegBinary, Bytes{7});
  registry->SetFailOpen(true);
  EXPECT_FALSE(registry->OpenForRead(kUser, "K"));
  registry->SetFailOpen(false);
  auto key = registry->OpenForRead(kUser, "K");
  registry->SetFailCreate(true);
  EXPECT_FALSE(registry->Create(kUser, "New"));
  EXPECT_FALSE(registry->KeyExists(kUser, "New"));

  registry.reset();
  uint8_t byte = 0;
  uint32_t size = 1;
  EXPECT_EQ(key->QueryValue("V", nullptr, &byte, &size), platform::kErrorFileNotFound);
}

TEST(SimRegistry, ConcurrentWritersAndReadersKeepEveryValueWhole) {
  SimRegistry registry;
  constexpr int kWrites = 2000;
  std::thread writer([&] {
    auto key = registry.Create(kUser, "K");
    for (int i = 0; i < kWrites; ++i) {
      const Bytes data(static_cast<size_t>(i % 17), static_cast<uint8_t>(i));
      key->SetValue("V", platform::kRegBinary, data.data(), static_cast<uint32_t>(data.size()));
    }
  });
  for (int i = 0; i < kWrites; ++i) {
    if (auto raw = registry.ReadRaw(kUser, "K", "V")) {
      for (const uint8_t byte : raw->data) ASSERT_EQ(byte, raw->data.front());
    }
  }
  writer.join();
}

TEST(SimRegistry, EnumerationFollowsCreationOrderWithinTheCallersBuffers) {
  SimRegistry registry;
  registry.PutRaw(kMachine, "Enum\\Zeta", "V", platform::kRegSz, Bytes{'z', 0});
  registry.PutRaw(kMachine, "Enum\\alpha\\Inner", "V", platform::kRegSz, Bytes{});
  registry.PutRaw(kMachine, "ENUM\\Zeta", "Second", platform::kRegBinary, Bytes(9, 1));
  ASSERT_TRUE(registry.Create(kMachine, "Enum\\Mid"));
  auto key = registry.OpenForRead(kMachine, "Enum");
  ASSERT_TRUE(key);
  platform::RegistryKey::Counts counts;
  ASSERT_TRUE(key->QueryCounts(&counts));
  EXPECT_EQ(counts.subkeys, 3u);
  EXPECT_EQ(counts.values, 0u);
  std::string name;
  std::vector<std::string> names;
  for (uint32_t i = 0; key->EnumKey(i, 6, &name) == platform::kErrorSuccess; ++i) {
    names.push_back(name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Zeta", "alpha", "Mid"})) << "as first written";
  EXPECT_EQ(key->EnumKey(1, 5, &name), platform::kErrorMoreData) << "no room for the zero";
  EXPECT_EQ(key->EnumKey(3, 6, &name), platform::kErrorNoMoreItems);

  auto zeta = registry.OpenForRead(kMachine, "enum\\zeta");
  ASSERT_TRUE(zeta && zeta->QueryCounts(&counts));
  EXPECT_EQ(counts.values, 2u);
  uint8_t data[8] = {};
  uint32_t type = 0;
  uint32_t size = sizeof data;
  EXPECT_EQ(zeta->EnumValue(0, 2, &name, &type, data, &size), platform::kErrorSuccess);
  EXPECT_EQ(name, "V");
  EXPECT_EQ(size, 2u);
  EXPECT_EQ(zeta->EnumValue(0, 1, &name, &type, data, &size), platform::kErrorMoreData);
  size = sizeof data;
  EXPECT_EQ(zeta->EnumValue(1, 16, &name, &type, data, &size), platform::kErrorMoreData);
  EXPECT_EQ(size, 9u) << "the size the data need";
  EXPECT_EQ(zeta->EnumValue(2, 16, &name, &type, data, &size), platform::kErrorNoMoreItems);

  registry.DeleteKey(kMachine, "Enum\\alpha");
  ASSERT_TRUE(key->QueryCounts(&counts));
  EXPECT_EQ(counts.subkeys, 2u);
  EXPECT_EQ(key->EnumKey(1, 6, &name), platform::kErrorSuccess);
  EXPECT_EQ(name, "Mid");
}

}  // namespace
}  // namespace sfh56::sim
