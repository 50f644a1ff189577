// Library load and unload: the Win32 platform and the plugin live from process attach to
// process detach.

#include <memory>

#include "host/comm_thread_receiver.h"
#include "host/plugin.h"
#include "host/win32/loaded_plugin.h"
#include "platform/win32/win32_platform.h"

// Last: its macros would rename methods of the platform headers above.
#include <windows.h>

namespace sfh56::dll {
namespace {

// Everything the loaded library owns.
struct Library {
  std::unique_ptr<win32::Win32Platform> platform;
  std::unique_ptr<Plugin> plugin;
};

Library* g_library = nullptr;
// The library's own reference to itself while a receiver object exists.
HMODULE g_library_hold = nullptr;

void Attach() {
  auto library = std::make_unique<Library>();
  library->platform = std::make_unique<win32::Win32Platform>();
  library->plugin =
      std::make_unique<Plugin>(library->platform->platform(), CommThreadReceiverFactory());
  g_library = library.release();
  g_library->plugin->OnLoad();
}

void Detach() {
  Library* library = g_library;
  if (library == nullptr) return;
  library->plugin->OnUnload();
  g_library = nullptr;
  // A receiver whose thread could not be ended still uses the plugin and the platform;
  // they are left in place for it rather than destroyed under a running thread.
  if (library->plugin->ReceiverAlive()) return;
  delete library;
}

}  // namespace

Plugin* LoadedPlugin() {
  return g_library != nullptr ? g_library->plugin.get() : nullptr;
}

void UpdateLibraryHold() noexcept {
  const Plugin* plugin = LoadedPlugin();
  const bool receiver = plugin != nullptr && plugin->ReceiverAlive();
  if (receiver && g_library_hold == nullptr) {
    HMODULE self = nullptr;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCSTR>(&g_library_hold), &self)) {
      g_library_hold = self;
    }
  } else if (!receiver && g_library_hold != nullptr) {
    // The host calls this through its own reference to the library, so this never drops
    // the last one.
    HMODULE self = g_library_hold;
    g_library_hold = nullptr;
    FreeLibrary(self);
  }
}

}  // namespace sfh56::dll

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reserved;
  try {
    if (reason == DLL_PROCESS_ATTACH) sfh56::dll::Attach();
    if (reason == DLL_PROCESS_DETACH) sfh56::dll::Detach();
  } catch (...) {
    // The library still loads: without a plugin every entry point answers as one that
    // could not be carried out.
  }
  return TRUE;
}
