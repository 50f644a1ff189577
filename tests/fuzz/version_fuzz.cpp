// libFuzzer target: the host executable's FileVersion text, as any host may carry it.
// The conversion must say exactly where a text stops fitting, give the C library's
// double for every text it accepts, and the version test must follow from both.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "host/version_number.h"

namespace {

using namespace sfh56;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The accepted text rewritten in the C library's own form (strtod reads neither an
// empty mantissa nor leading spaces the same way), converted by strtod.
double ReferenceValue(std::string_view text) {
  size_t i = text.find_first_not_of(' ');
  std::string normal;
  if (text[i] == '+' || text[i] == '-') normal += text[i++];
  std::string integer;
  std::string fraction;
  while (i < text.size() && IsDigit(text[i])) integer += text[i++];
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) fraction += text[i++];
  }
  normal += integer.empty() ? "0" : integer;
  normal += "." + fraction + "0";
  if (integer.empty() && fraction.empty()) return normal[0] == '-' ? -0.0 : 0.0;
  normal += std::string(text.substr(i));  // the exponent, as written
  return std::strtod(normal.c_str(), nullptr);
}

bool SameDouble(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const NumberConversion conversion = ConvertNumber(text);
  if (conversion.ok) {
    if (conversion.failure_position != 0) std::abort();
    if (!SameDouble(conversion.value, ReferenceValue(text))) std::abort();
  } else {
    if (conversion.failure_position < 1 || conversion.failure_position > size + 1) std::abort();
    // What precedes the failing character either converts, or fails within itself.
    const std::string_view prefix = text.substr(0, conversion.failure_position - 1);
    const NumberConversion again = ConvertNumber(prefix);
    if (!again.ok && again.failure_position > prefix.size() + 1) std::abort();
  }

  double value = 0.0;
  const bool parsed = ParseVersionNumber(text, value);
  if (conversion.ok && (!parsed || !SameDouble(value, conversion.value))) std::abort();
  const int expected = !text.empty() && parsed && value >= 3.1 ? 2 : 1;
  if (HostVersionResult(text) != expected) std::abort();
  return 0;
}
