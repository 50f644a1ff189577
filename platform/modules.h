#pragma once
// Loading a library by name and resolving its entry points.

#include <memory>
#include <string>

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
};

}  // namespace sfh56::platform
