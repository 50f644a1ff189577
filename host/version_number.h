#pragma once
// Turning a version text into a number, and the host-version test built on it.

#include <cstddef>
#include <string_view>

namespace sfh56 {

// Result of converting a text to a number.
struct NumberConversion {
  bool ok = false;
  double value = 0.0;
  // When the conversion failed: the position (counted from 1) of the first character
  // that does not fit the accepted form, or one past the end when the text ends early.
  size_t failure_position = 0;
};

// Accepts exactly: leading spaces, an optional sign, a mantissa of decimal digits with at
// most one point (either side may be empty, and so may both: "." and "e5" are 0), and an
// optional exponent ("E"/"e", optional sign, one or more digits). The text may not end directly after the leading spaces, the
// sign, the exponent letter or the exponent's sign. The value is the nearest double to
// the decimal number written, independent of the C locale.
NumberConversion ConvertNumber(std::string_view text);

// The number a host's FileVersion text stands for: converted whole, or else up to the
// character where the conversion failed. False when neither converts.
bool ParseVersionNumber(std::string_view file_version, double& value);

// 2 when the FileVersion text gives a number of at least 3.1, else 1.
int HostVersionResult(std::string_view file_version);

}  // namespace sfh56
