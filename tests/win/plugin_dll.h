#pragma once
// Loads the product library the way a host does and resolves its entry points by name.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>

namespace sfh56::dlltest {

#if defined(_WIN64)
#define SFH_TEST_HOST_CALL
#else
#define SFH_TEST_HOST_CALL __stdcall
#endif

using TextExport = char*(SFH_TEST_HOST_CALL*)(char*, int32_t);
using IntExport = int32_t(SFH_TEST_HOST_CALL*)();
using IntArgExport = int32_t(SFH_TEST_HOST_CALL*)(int32_t);
using CompareExport = int32_t(SFH_TEST_HOST_CALL*)(const char*, const char*);
using OpenExport = int32_t(SFH_TEST_HOST_CALL*)(int32_t, int32_t, int32_t, void*);
using InfoExport = int32_t(SFH_TEST_HOST_CALL*)(int32_t, int32_t, int32_t);
using SupportExport = int32_t(SFH_TEST_HOST_CALL*)(void*);
using VoidExport = void(SFH_TEST_HOST_CALL*)();
using InitExport = void(SFH_TEST_HOST_CALL*)(HWND, void*);

inline constexpr char kDllName[] = "sfh56.dll";

class PluginDll {
 public:
  PluginDll() : module_(LoadLibraryA(kDllName)) {}
  ~PluginDll() { Unload(); }
  PluginDll(const PluginDll&) = delete;
  PluginDll& operator=(const PluginDll&) = delete;

  bool Loaded() const { return module_ != nullptr; }
  void Unload() {
    if (module_ != nullptr) FreeLibrary(module_);
    module_ = nullptr;
  }

  template <typename Function>
  Function Get(const char* name) const {
    FARPROC address = GetProcAddress(module_, name);
    EXPECT_NE(address, nullptr) << name;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
  }

 private:
  HMODULE module_;
};

}  // namespace sfh56::dlltest
