#pragma once
// The settings' registry through the Win32 registry functions (ANSI).

#include <windows.h>

#include <memory>
#include <string>

#include "platform/registry.h"

namespace sfh56::win32 {

// Owns an open registry key and closes it once. Movable, not copyable.
class RegKeyOwner {
 public:
  RegKeyOwner() = default;
  explicit RegKeyOwner(HKEY key) : key_(key) {}
  ~RegKeyOwner() { Reset(); }
  RegKeyOwner(RegKeyOwner&& other) noexcept : key_(other.Release()) {}
  RegKeyOwner& operator=(RegKeyOwner&& other) noexcept;
  RegKeyOwner(const RegKeyOwner&) = delete;
  RegKeyOwner& operator=(const RegKeyOwner&) = delete;

  HKEY Get() const { return key_; }
  explicit operator bool() const { return key_ != nullptr; }
  HKEY Release();
  void Reset();

 private:
  HKEY key_ = nullptr;
};

// The predefined root handle of a RootKey; null for a value that names no known root.
HKEY RootHandle(platform::RootKey root);

class Win32Registry : public platform::Registry {
 public:
  std::unique_ptr<platform::RegistryKey> OpenForRead(platform::RootKey root,
                                                     const std::string& path) override;
  std::unique_ptr<platform::RegistryKey> Create(platform::RootKey root,
                                                const std::string& path) override;
};

}  // namespace sfh56::win32
