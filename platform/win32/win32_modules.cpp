#include "platform/win32/win32_modules.h"

namespace sfh56::win32 {

void* Win32Module::Resolve(const std::string& name) {
  // Entry points travel through the seam as untyped addresses; the caller casts each one
  // back to its own function type.
  FARPROC entry = GetProcAddress(handle_.Get(), name.c_str());
  return reinterpret_cast<void*>(entry);
}

std::unique_ptr<platform::Module> Win32Modules::Load(const std::string& name) {
  ModuleHandle handle(LoadLibraryA(name.c_str()));
  if (!handle) return nullptr;
  return std::make_unique<Win32Module>(std::move(handle));
}

std::optional<std::vector<uint8_t>> Win32Modules::OwnResource(const std::string& name) {
  static const char anchor = 0;
  HMODULE self = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          &anchor, &self)) {
    return std::nullopt;
  }
  HRSRC resource = FindResourceA(self, name.c_str(), MAKEINTRESOURCEA(10));  // RT_RCDATA
  if (resource == nullptr) return std::nullopt;
  HGLOBAL loaded = LoadResource(self, resource);
  const DWORD size = SizeofResource(self, resource);
  const auto* bytes = static_cast<const uint8_t*>(loaded ? LockResource(loaded) : nullptr);
  if (bytes == nullptr) return std::nullopt;
  return std::vector<uint8_t>(bytes, bytes + size);
}

}  // namespace sfh56::win32
