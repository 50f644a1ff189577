#include "config/win32/win32_config_box.h"

namespace sfh56::win32 {
namespace {

// The shell is loaded only when the user follows the link: imported, it would come into
// the host's process with the plugin, and the shell brings COM and its helper processes.
HINSTANCE WINAPI OpenWithShell(HWND parent, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                               LPCSTR directory, INT show) {
  // Left loaded: what the shell started for the request may still run in it.
  HMODULE shell = LoadLibraryA("shell32.dll");
  if (shell == nullptr) return nullptr;
  const auto open = reinterpret_cast<ShellOpen>(
      reinterpret_cast<void (*)()>(GetProcAddress(shell, "ShellExecuteA")));
  return open != nullptr ? open(parent, verb, file, parameters, directory, show) : nullptr;
}

}  // namespace

Win32ConfigBox::Win32ConfigBox(ShellOpen shell_open)
    : shell_open_(shell_open != nullptr ? shell_open : OpenWithShell) {}

int Win32ConfigBox::ShowModal(const ConfigBoxTexts& texts, ConfigBoxValues& values) {
  try {
    TConfigBox box(texts, values, shell_open_);
    if (!box.Created()) return kModalResultNone;
    const int result = box.ShowModal();
    if (result == kModalResultOk) values = box.Values();
    return result;  // the dialog and every window it opened go with box
  } catch (...) {
    return kModalResultNone;
  }
}

}  // namespace sfh56::win32
