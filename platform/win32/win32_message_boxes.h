#pragma once

#include "platform/ui.h"

namespace sfh56::win32 {

// MessageBoxA with no owner window.
class Win32MessageBoxes : public platform::MessageBoxes {
 public:
  int Show(const std::string& text, const std::string& caption, uint32_t flags) override;
};

}  // namespace sfh56::win32
