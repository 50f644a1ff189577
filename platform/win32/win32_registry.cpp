#include "platform/win32/win32_registry.h"

#include <cstring>
#include <utility>
#include <vector>

namespace sfh56::win32 {

RegKeyOwner& RegKeyOwner::operator=(RegKeyOwner&& other) noexcept {
  if (this != &other) {
    Reset();
    key_ = other.Release();
  }
  return *this;
}

HKEY RegKeyOwner::Release() {
  return std::exchange(key_, nullptr);
}

void RegKeyOwner::Reset() {
  if (key_ != nullptr) RegCloseKey(std::exchange(key_, nullptr));
}

HKEY RootHandle(platform::RootKey root) {
  switch (root) {
    case platform::RootKey::kCurrentUser:
      return HKEY_CURRENT_USER;
    case platform::RootKey::kLocalMachine:
      return HKEY_LOCAL_MACHINE;
    case platform::RootKey::kDynData:
      return HKEY_DYN_DATA;
  }
  return nullptr;
}

namespace {

class Win32RegistryKey : public platform::RegistryKey {
 public:
  explicit Win32RegistryKey(RegKeyOwner key) : key_(std::move(key)) {}

  long QueryValue(const std::string& name, uint32_t* type, uint8_t* data, uint32_t* size) override {
    DWORD value_type = 0;
    DWORD value_size = size != nullptr ? *size : 0;
    const LONG status =
        RegQueryValueExA(key_.Get(), name.c_str(), nullptr, type != nullptr ? &value_type : nullptr,
                         data, size != nullptr ? &value_size : nullptr);
    if (type != nullptr) *type = value_type;
    if (size != nullptr) *size = value_size;
    return status;
  }

  long SetValue(const std::string& name, uint32_t type, const uint8_t* data,
                uint32_t size) override {
    return RegSetValueExA(key_.Get(), name.c_str(), 0, type, data, size);
  }

  bool QueryCounts(Counts* counts) override {
    DWORD subkeys = 0;
    DWORD values = 0;
    if (counts == nullptr ||
        RegQueryInfoKeyA(key_.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      return false;
    }
    counts->values = values;
    counts->subkeys = subkeys;
    return true;
  }

  long EnumKey(uint32_t index, uint32_t name_capacity, std::string* name) override {
    std::vector<char> buffer(name_capacity + 1, '\0');
    const LONG status = RegEnumKeyA(key_.Get(), index, buffer.data(), name_capacity);
    if (status == ERROR_SUCCESS)
      *name = std::string(buffer.data(), strnlen(buffer.data(), name_capacity));
    return status;
  }

  long EnumValue(uint32_t index, uint32_t name_capacity, std::string* name, uint32_t* type,
                 uint8_t* data, uint32_t* size) override {
    std::vector<char> buffer(name_capacity + 1, '\0');
    DWORD name_length = name_capacity;
    DWORD value_type = 0;
    DWORD value_size = size != nullptr ? *size : 0;
    const LONG status = RegEnumValueA(key_.Get(), index, buffer.data(), &name_length, nullptr,
                                      &value_type, data, size != nullptr ? &value_size : nullptr);
    if (status == ERROR_SUCCESS) {
      *name = std::string(buffer.data(), strnlen(buffer.data(), name_capacity));
      if (type != nullptr) *type = value_type;
    }
    if (size != nullptr) *size = value_size;
    return status;
  }

 private:
  RegKeyOwner key_;
};

}  // namespace

std::unique_ptr<platform::RegistryKey> Win32Registry::OpenForRead(platform::RootKey root,
                                                                  const std::string& path) {
  const HKEY root_handle = RootHandle(root);
  if (root_handle == nullptr) return nullptr;
  HKEY key = nullptr;
  if (RegOpenKeyExA(root_handle, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return nullptr;
  }
  return std::make_unique<Win32RegistryKey>(RegKeyOwner(key));
}

std::unique_ptr<platform::RegistryKey> Win32Registry::Create(platform::RootKey root,
                                                             const std::string& path) {
  const HKEY root_handle = RootHandle(root);
  if (root_handle == nullptr) return nullptr;
  HKEY key = nullptr;
  if (RegCreateKeyExA(root_handle, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return nullptr;
  }
  return std::make_unique<Win32RegistryKey>(RegKeyOwner(key));
}

}  // namespace sfh56::win32
