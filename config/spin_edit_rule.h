#pragma once
// The rules of a spin edit: a number field with up and down arrows that keeps its value
// within a range.

#include <cstdint>
#include <string>

namespace sfh56 {

struct SpinEditRule {
  int32_t min_value;
  int32_t max_value;
  int max_chars;  // the longest text the field takes

  // The nearest value within the range.
  int32_t Clamp(int64_t value) const;
  // The value the text stands for: an optional sign and decimal digits, brought into the
  // range. Anything else (empty, a lone sign, a decimal point, letters) reads as the
  // minimum.
  int32_t Read(const std::string& text) const;
  // One arrow press (delta +1 or -1) from what the text reads as.
  int32_t Step(const std::string& text, int delta) const {
    return Clamp(int64_t{Read(text)} + delta);
  }
  // Whether a typed character may enter the field: digits, the signs and the decimal
  // separator (the field still reads such text as a number or as the minimum).
  static bool AcceptsChar(char c, char decimal_separator);
  static std::string Text(int32_t value) { return std::to_string(value); }
};

inline constexpr SpinEditRule kCommandOrderSpin{0, 9, 1};
inline constexpr SpinEditRule kBitMaskSpin{0, 99, 2};
inline constexpr SpinEditRule kPrioritySpin{0, 8, 1};

}  // namespace sfh56
