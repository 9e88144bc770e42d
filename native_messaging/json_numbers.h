// Number conversions of the JSON text: decimal significand and exponent to
// double, and the decimal forms written for integers and doubles.
#pragma once

#include <cstdint>

namespace vk::json_detail {

// The double nearest to 10^i, for 0 <= i <= 308.
double power_of_ten(int i);

// S × 10^E by one multiplication or division per table step (deliberately
// not correctly rounded); false when the result overflows.
bool decimal_to_double(std::uint64_t s, std::int32_t e, double& out);

// Each writer puts the decimal form at `p` and returns the end; bytes just
// past the end may be overwritten. Integers need room for 24 bytes,
// doubles for 32.
char* write_unsigned(char* p, std::uint64_t v);
char* write_signed(char* p, std::int64_t v);
// A value that is not finite (never parsed, but constructible) is "null".
char* write_double(char* p, double v);
// The text of the double (-1)^negative × m × 10^e, for m > 0, when the
// decimal digits of m are that double's shortest digits (trailing zeros
// are dropped here). Needs room for 32 bytes.
char* write_decimal(char* p, bool negative, std::uint64_t m, int e);
// The same with m given as its `count` decimal digits (no leading zero).
char* write_digits(char* p, bool negative, const char* digits, int count, int e);

}  // namespace vk::json_detail
