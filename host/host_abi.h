#pragma once
// The host's function pointers and records as they cross the plugin boundary.
//
// On the product (32-bit Windows) every host function is stdcall with 32-bit arguments
// and the host's tables hold 32-bit pointers. The 64-bit Windows build, which exists only
// to run the Windows tests, has a single calling convention and pointer-sized slots; the
// layouts below are written in pointer-sized words so that both are right.

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define SFH_HOST_CALL __stdcall
#else
#define SFH_HOST_CALL
#endif

namespace sfh56 {

// The older host's translation function (support record word 10): (text, buffer, size);
// only the low byte of the result counts, non-zero = translated.
using SupportTranslateFunction = uint32_t(SFH_HOST_CALL*)(const char* text, char* buffer,
                                                          int32_t size);
// The newer host's translation function (function table slot 12): exactly 1 = translated.
using TableTranslateFunction = int32_t(SFH_HOST_CALL*)(const char* text, char* buffer,
                                                       int32_t size);
// The newer host's event function (function table slot 25): (code, payload, 0, device).
using EventFunction = int32_t(SFH_HOST_CALL*)(const char* code, const char* payload,
                                              int32_t reserved, int32_t device_number);
// The older host's translation function given to init_device: returns the text to show.
using HostTranslateFunction = const char*(SFH_HOST_CALL*)(const char* text);

// The older host's support record: a 32-bit byte count in the first word, the translation
// function in the eleventh word.
inline constexpr size_t kSupportBlockWords = 11;
inline constexpr size_t kSupportTranslateWord = 10;

// The newer host's table of function pointers.
inline constexpr size_t kFunctionTableSlots = 28;
inline constexpr size_t kTableTranslateSlot = 12;
inline constexpr size_t kTableEventSlot = 25;

// Text translation writes into a buffer of this many characters.
inline constexpr int32_t kTranslationBufferChars = 1000;

template <typename Function>
Function FunctionFromWord(uintptr_t word) {
  return reinterpret_cast<Function>(word);
}

}  // namespace sfh56
