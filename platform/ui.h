#pragma once
// Message boxes with no owner window. Flags and results are the Win32 values.

#include <cstdint>
#include <string>

namespace sfh56::platform {

inline constexpr uint32_t kMbOk = 0x0;
inline constexpr uint32_t kMbRetryCancel = 0x5;
inline constexpr uint32_t kMbIconError = 0x10;
inline constexpr uint32_t kMbIconQuestion = 0x20;
inline constexpr uint32_t kMbTopmost = 0x40000;

inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdRetry = 4;

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  virtual int Show(const std::string& text, const std::string& caption, uint32_t flags) = 0;
};

}  // namespace sfh56::platform
