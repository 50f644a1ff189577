#pragma once
// An in-memory registry for tests. It behaves like the Win32 registry where the settings
// depend on it: a value longer than the caller's buffer fails with kErrorMoreData and
// reports the size it needs, the type is reported but never checked, key paths and value
// names ignore letter case, and each root has its own keys. Subkeys enumerate in the
// order they were created and values in the order they were first written, so a test
// decides the enumeration order the registry would give. Tests look at and plant raw
// values of any type and length, and can make opening or creating keys fail.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace sfh56::sim {

class SimRegistry : public platform::Registry {
 public:
  struct RawValue {
    uint32_t type = 0;
    std::vector<uint8_t> data;
  };
  struct NamedValue {
    std::string name;
    RawValue value;
  };

  SimRegistry();
  ~SimRegistry() override;
  SimRegistry(const SimRegistry&) = delete;
  SimRegistry& operator=(const SimRegistry&) = delete;

  // Keys opened here stay usable after the registry object is gone (their calls then
  // fail), as Win32 handles stay valid however the caller's objects are destroyed.
  std::unique_ptr<platform::RegistryKey> OpenForRead(platform::RootKey root,
                                                     const std::string& path) override;
  std::unique_ptr<platform::RegistryKey> Create(platform::RootKey root,
                                                const std::string& path) override;

  // Inspection and planting, bypassing the failure switches.
  bool KeyExists(platform::RootKey root, const std::string& path) const;
  std::optional<RawValue> ReadRaw(platform::RootKey root, const std::string& path,
                                  const std::string& name) const;
  // The key's values in the order in which they were first written.
  std::vector<NamedValue> Values(platform::RootKey root, const std::string& path) const;
  // Creates the key (and its parents) when needed; any type, any length (empty too).
  void PutRaw(platform::RootKey root, const std::string& path, const std::string& name,
              uint32_t type, std::vector<uint8_t> data);
  void DeleteValue(platform::RootKey root, const std::string& path, const std::string& name);
  // Deletes the key with everything below it.
  void DeleteKey(platform::RootKey root, const std::string& path);

  // While set, OpenForRead or Create fails (returns null) as Win32 does without access.
  void SetFailOpen(bool fail);
  void SetFailCreate(bool fail);
  // How often each was called, failed calls included.
  int OpenCalls() const;
  int CreateCalls() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace sfh56::sim
