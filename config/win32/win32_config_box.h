#pragma once
// The configuration dialog the plugin shows: TConfigBox behind the ConfigBox interface.

#include "config/config_box.h"
#include "config/win32/config_box_unit.h"

namespace sfh56::win32 {

class Win32ConfigBox : public ConfigBox {
 public:
  explicit Win32ConfigBox(ShellOpen shell_open = nullptr);
  int ShowModal(const ConfigBoxTexts& texts, ConfigBoxValues& values) override;

 private:
  ShellOpen shell_open_;
};

}  // namespace sfh56::win32
