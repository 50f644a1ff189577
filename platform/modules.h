#pragma once
// Loading a library by name and resolving its entry points, and the resources carried
// inside the plugin's own module.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sfh56::platform {

class Module {
 public:
  virtual ~Module() = default;  // FreeLibrary
  // GetProcAddress; null when the entry point is missing.
  virtual void* Resolve(const std::string& name) = 0;
};

class Modules {
 public:
  virtual ~Modules() = default;
  // LoadLibraryA(name) with the system's ordinary search; null on failure.
  virtual std::unique_ptr<Module> Load(const std::string& name) = 0;
  // The bytes of the RCDATA resource of that name in the module this code is part of
  // (names match in any letter case); nullopt when there is none.
  virtual std::optional<std::vector<uint8_t>> OwnResource(const std::string& name) = 0;
};

}  // namespace sfh56::platform
