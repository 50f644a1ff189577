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

}  // namespace sfh56::win32
