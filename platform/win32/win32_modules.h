#pragma once
// Libraries loaded with LoadLibraryA and released with FreeLibrary.

#include <windows.h>

#include <memory>
#include <string>

#include "platform/modules.h"

namespace sfh56::win32 {

// Owns one loaded library; frees it once. Movable, not copyable.
class ModuleHandle {
 public:
  ModuleHandle() = default;
  explicit ModuleHandle(HMODULE module) : module_(module) {}
  ModuleHandle(ModuleHandle&& other) noexcept : module_(other.Release()) {}
  ModuleHandle& operator=(ModuleHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ModuleHandle(const ModuleHandle&) = delete;
  ModuleHandle& operator=(const ModuleHandle&) = delete;
  ~ModuleHandle() { Reset(); }

  HMODULE Get() const { return module_; }
  explicit operator bool() const { return module_ != nullptr; }
  HMODULE Release() {
    HMODULE module = module_;
    module_ = nullptr;
    return module;
  }
  void Reset(HMODULE module = nullptr) {
    if (module_ != nullptr) FreeLibrary(module_);
    module_ = module;
  }

 private:
  HMODULE module_ = nullptr;
};

class Win32Module : public platform::Module {
 public:
  explicit Win32Module(ModuleHandle handle) : handle_(std::move(handle)) {}
  void* Resolve(const std::string& name) override;

 private:
  ModuleHandle handle_;
};

class Win32Modules : public platform::Modules {
 public:
  std::unique_ptr<platform::Module> Load(const std::string& name) override;
  // Looks in the module that holds this code: the plugin library in the product, the test
  // program in the Windows tests that link the platform directly.
  std::optional<std::vector<uint8_t>> OwnResource(const std::string& name) override;
};

}  // namespace sfh56::win32
