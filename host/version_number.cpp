#include "host/version_number.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <string>

namespace sfh56 {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

constexpr double kMinimumVersionForLevel2 = 3.1;

NumberConversion FailAt(size_t index) {
  return {false, 0.0, index + 1};
}

// Converts the unsigned decimal number [digits][.[digits]][e[sign]digits] to the nearest
// double. Either part of the mantissa, or both, may be empty: an empty mantissa stands
// for 0, so ".", "e5" and "+.e1" are 0, which never passes the version test. Values
// beyond the double's range become infinity or zero, as the decimal magnitude says.
double DecimalToDouble(const std::string& integer_digits, const std::string& fraction_digits,
                       bool exponent_negative, const std::string& exponent_digits) {
  std::string normal = integer_digits.empty() ? "0" : integer_digits;
  if (!fraction_digits.empty()) normal += "." + fraction_digits;
  // The exponent is saturated: anything beyond this is far outside a double's range
  // whatever the mantissa's length.
  constexpr int64_t kExponentLimit = 1'000'000'000;
  int64_t exponent = 0;
  for (char c : exponent_digits) {
    exponent = exponent * 10 + (c - '0');
    if (exponent > kExponentLimit) exponent = kExponentLimit;
  }
  if (exponent_negative) exponent = -exponent;
  if (!exponent_digits.empty()) normal += "e" + std::to_string(exponent);

  double value = 0.0;
  const auto [ptr, error] = std::from_chars(normal.data(), normal.data() + normal.size(), value,
                                            std::chars_format::general);
  (void)ptr;
  if (error == std::errc::result_out_of_range) {
    // Decide the direction by the position of the first significant digit.
    int64_t magnitude = 0;
    const size_t first = integer_digits.find_first_not_of('0');
    if (first != std::string::npos) {
      magnitude = static_cast<int64_t>(integer_digits.size() - first);
    } else {
      const size_t lead = fraction_digits.find_first_not_of('0');
      if (lead == std::string::npos) return 0.0;
      magnitude = -static_cast<int64_t>(lead);
    }
    return magnitude + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  }
  return value;
}

}  // namespace

NumberConversion ConvertNumber(std::string_view text) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && text[i] == ' ') ++i;
  if (i == n) return FailAt(n);

  bool negative = false;
  if (text[i] == '+' || text[i] == '-') {
    negative = text[i] == '-';
    ++i;
    if (i == n) return FailAt(n);
  }

  std::string integer_digits;
  std::string fraction_digits;
  while (i < n && IsDigit(text[i])) integer_digits += text[i++];
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && IsDigit(text[i])) fraction_digits += text[i++];
  }

  bool exponent_negative = false;
  std::string exponent_digits;
  if (i < n && (text[i] == 'E' || text[i] == 'e')) {
    ++i;
    if (i == n) return FailAt(n);
    if (text[i] == '+' || text[i] == '-') {
      exponent_negative = text[i] == '-';
      ++i;
      if (i == n) return FailAt(n);
    }
    if (!IsDigit(text[i])) return FailAt(i);
    while (i < n && IsDigit(text[i])) exponent_digits += text[i++];
  }
  if (i < n) return FailAt(i);

  const double magnitude =
      DecimalToDouble(integer_digits, fraction_digits, exponent_negative, exponent_digits);
  return {true, negative ? -magnitude : magnitude, 0};
}

bool ParseVersionNumber(std::string_view file_version, double& value) {
  NumberConversion conversion = ConvertNumber(file_version);
  if (!conversion.ok) {
    conversion = ConvertNumber(file_version.substr(0, conversion.failure_position - 1));
  }
  if (!conversion.ok) return false;
  value = conversion.value;
  return true;
}

int HostVersionResult(std::string_view file_version) {
  if (file_version.empty()) return 1;
  double value = 0.0;
  if (!ParseVersionNumber(file_version, value)) return 1;
  return value < kMinimumVersionForLevel2 ? 1 : 2;
}

}  // namespace sfh56
