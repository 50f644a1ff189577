#include "config/spin_edit_rule.h"

#include <algorithm>

namespace sfh56 {

int32_t SpinEditRule::Clamp(int64_t value) const {
  return static_cast<int32_t>(std::clamp<int64_t>(value, min_value, max_value));
}

int32_t SpinEditRule::Read(const std::string& text) const {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return min_value;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return min_value;
    // Any number past the range reads as the nearest bound; stop before it can overflow.
    value = std::min<int64_t>(value * 10 + (text[i] - '0'), int64_t{1} << 40);
  }
  return Clamp(negative ? -value : value);
}

bool SpinEditRule::AcceptsChar(char c, char decimal_separator) {
  return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == decimal_separator;
}

}  // namespace sfh56
