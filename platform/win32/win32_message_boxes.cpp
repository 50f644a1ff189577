#include "platform/win32/win32_message_boxes.h"

#include <windows.h>

namespace sfh56::win32 {

int Win32MessageBoxes::Show(const std::string& text, const std::string& caption, uint32_t flags) {
  return MessageBoxA(nullptr, text.c_str(), caption.c_str(), flags);
}

}  // namespace sfh56::win32
