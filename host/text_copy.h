#pragma once
// Texts handed across the host boundary.

#include <cstdint>

namespace sfh56 {

// Copies at most max characters of source into buffer and always writes a terminating
// zero after them (up to max + 1 bytes). A negative max copies nothing but the zero. A
// null buffer is left alone. Returns buffer.
char* CopyText(char* buffer, const char* source, int32_t max);

// Byte-wise, case-sensitive comparison of two zero-terminated texts. A null pointer
// equals only another null pointer.
bool TextsEqual(const char* a, const char* b);

}  // namespace sfh56
