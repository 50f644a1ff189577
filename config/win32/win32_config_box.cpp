#include "config/win32/win32_config_box.h"

#include <shellapi.h>

namespace sfh56::win32 {

Win32ConfigBox::Win32ConfigBox(ShellOpen shell_open)
    : shell_open_(shell_open != nullptr ? shell_open : ShellExecuteA) {}

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
