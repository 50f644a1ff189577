// Library load and unload: the Win32 platform and the plugin live from process attach to
// process detach.

#include <memory>

#include "host/comm_thread_receiver.h"
#include "host/plugin.h"
#include "host/win32/loaded_plugin.h"
#include "platform/win32/win32_platform.h"

// Last: its macros would rename methods of the platform headers above.
#include <windows.h>

// The dialog's classes are Win32 through and through.
#include "config/win32/win32_config_box.h"

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

// Keeps the library loaded for as long as a receiver object exists, and lets it go once
// none does; the plugin calls it whenever that changes, from inside a host call. A
// receiver thread cannot end while the loader runs the library's unload (it needs the
// loader's lock to exit), so an unload with a live receiver would wait out the close's
// time limit and then unmap code the thread still runs. With this hold, a host that
// unloads an open plugin leaves it loaded and open until the process ends, and a
// receiver let go of while it was delivering keeps its code until it has ended.
void HoldLibrary(bool hold) {
  if (hold && g_library_hold == nullptr) {
    HMODULE self = nullptr;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCSTR>(&g_library_hold), &self)) {
      g_library_hold = self;
    }
  } else if (!hold && g_library_hold != nullptr) {
    // The host calls into the library through its own reference, so this never drops
    // the last one.
    HMODULE self = g_library_hold;
    g_library_hold = nullptr;
    FreeLibrary(self);
  }
}

void Attach() {
  auto library = std::make_unique<Library>();
  library->platform = std::make_unique<win32::Win32Platform>();
  library->plugin =
      std::make_unique<Plugin>(library->platform->platform(), CommThreadReceiverFactory());
  library->plugin->SetReceiverHold(HoldLibrary);
  library->plugin->SetConfigBox(std::make_unique<win32::Win32ConfigBox>());
  g_library = library.release();
  g_library->plugin->OnLoad();
}

void Detach() {
  Library* library = g_library;
  if (library == nullptr) return;
  // Inside the loader's notification the library's reference count is not touched.
  library->plugin->SetReceiverHold(nullptr);
  library->plugin->OnUnload();
  g_library = nullptr;
  // Only at process exit can a receiver still exist here (the hold keeps the library
  // loaded otherwise): its thread is gone and its state is left as it is.
  if (library->plugin->ReceiverAlive()) return;
  delete library;
}

}  // namespace

Plugin* LoadedPlugin() {
  return g_library != nullptr ? g_library->plugin.get() : nullptr;
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
