#include "platform/sim/sim_registry.h"

#include <gtest/gtest.h>

#include <optional>
#include <thread>
#include <vector>

#include "tests/support/registry_contract.h"

namespace sfh56::test {
namespace {

// The rules every registry keeps, against the in-memory one.
struct SimRegistryFactory {
  sim::SimRegistry sim_registry;
  platform::Registry& registry() { return sim_registry; }
  bool KeyExists(platform::RootKey root, const std::string& path) {
    return sim_registry.KeyExists(root, path);
  }
  std::optional<std::vector<uint8_t>> ReadRaw(platform::RootKey root, const std::string& path,
                                              const std::string& name) {
    const auto raw = sim_registry.ReadRaw(root, path, name);
    if (!raw) return std::nullopt;
    return raw->data;
  }
};
INSTANTIATE_TYPED_TEST_SUITE_P(Sim, RegistryContract, ::testing::Types<SimRegistryFactory>);

}  // namespace
}  // namespace sfh56::test

namespace sfh56::sim {
namespace {

using platform::RootKey;
using Bytes = std::vector<uint8_t>;

constexpr RootKey kUser = RootKey::kCurrentUser;

TEST(SimRegistry, DeletingAKeyRemovesTheTree) {
  SimRegistry registry;
  ASSERT_TRUE(registry.Create(kUser, "A\\B\\C"));
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

TEST(SimRegistry, SubkeysEnumerateInCreationOrderAndForgetDeletedOnes) {
  SimRegistry registry;
  constexpr auto kMachine = platform::RootKey::kLocalMachine;
  registry.PutRaw(kMachine, "Enum\\Zeta", "V", platform::kRegSz, {'z', 0});
  registry.PutRaw(kMachine, "Enum\\alpha\\Inner", "V", platform::kRegSz, {});
  ASSERT_TRUE(registry.Create(kMachine, "ENUM\\Mid"));
  registry.DeleteKey(kMachine, "Enum\\Zeta");
  registry.PutRaw(kMachine, "Enum\\Zeta", "V", platform::kRegSz, {'z', 0});
  auto key = registry.OpenForRead(kMachine, "Enum");
  ASSERT_TRUE(key);
  std::vector<std::string> names;
  std::string name;
  for (uint32_t i = 0; key->EnumKey(i, 16, &name) == platform::kErrorSuccess; ++i) {
    names.push_back(name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"alpha", "Mid", "Zeta"}));
}

}  // namespace
}  // namespace sfh56::sim
