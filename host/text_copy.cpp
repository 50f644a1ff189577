#include "host/text_copy.h"

#include <cstring>

namespace sfh56 {

char* CopyText(char* buffer, const char* source, int32_t max) {
  if (buffer == nullptr) return buffer;
  size_t n = 0;
  if (source != nullptr && max > 0) {
    const size_t limit = static_cast<size_t>(max);
    while (n < limit && source[n] != '\0') ++n;
    std::memcpy(buffer, source, n);
  }
  buffer[n] = '\0';
  return buffer;
}

bool TextsEqual(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return a == b;
  return std::strcmp(a, b) == 0;
}

}  // namespace sfh56
