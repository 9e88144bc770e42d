#include "native_messaging/json_numbers.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>

namespace vk::json_detail {

// The conversion below must be plain binary64 arithmetic, one rounding per
// operation; the build also turns off contraction into fused operations.
static_assert(FLT_EVAL_METHOD == 0, "double arithmetic must not use wider intermediates");

namespace {

// Decimal literals, so the compiler rounds each to the nearest double.
constexpr double kPowersOfTen[309] = {
    1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9,
    1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19,
    1e20, 1e21, 1e22, 1e23, 1e24, 1e25, 1e26, 1e27, 1e28, 1e29,
    1e30, 1e31, 1e32, 1e33, 1e34, 1e35, 1e36, 1e37, 1e38, 1e39,
    1e40, 1e41, 1e42, 1e43, 1e44, 1e45, 1e46, 1e47, 1e48, 1e49,
    1e50, 1e51, 1e52, 1e53, 1e54, 1e55, 1e56, 1e57, 1e58, 1e59,
    1e60, 1e61, 1e62, 1e63, 1e64, 1e65, 1e66, 1e67, 1e68, 1e69,
    1e70, 1e71, 1e72, 1e73, 1e74, 1e75, 1e76, 1e77, 1e78, 1e79,
    1e80, 1e81, 1e82, 1e83, 1e84, 1e85, 1e86, 1e87, 1e88, 1e89,
    1e90, 1e91, 1e92, 1e93, 1e94, 1e95, 1e96, 1e97, 1e98, 1e99,
    1e100, 1e101, 1e102, 1e103, 1e104, 1e105, 1e106, 1e107, 1e108, 1e109,
    1e110, 1e111, 1e112, 1e113, 1e114, 1e115, 1e116, 1e117, 1e118, 1e119,
    1e120, 1e121, 1e122, 1e123, 1e124, 1e125, 1e126, 1e127, 1e128, 1e129,
    1e130, 1e131, 1e132, 1e133, 1e134, 1e135, 1e136, 1e137, 1e138, 1e139,
    1e140, 1e141, 1e142, 1e143, 1e144, 1e145, 1e146, 1e147, 1e148, 1e149,
    1e150, 1e151, 1e152, 1e153, 1e154, 1e155, 1e156, 1e157, 1e158, 1e159,
    1e160, 1e161, 1e162, 1e163, 1e164, 1e165, 1e166, 1e167, 1e168, 1e169,
    1e170, 1e171, 1e172, 1e173, 1e174, 1e175, 1e176, 1e177, 1e178, 1e179,
    1e180, 1e181, 1e182, 1e183, 1e184, 1e185, 1e186, 1e187, 1e188, 1e189,
    1e190, 1e191, 1e192, 1e193, 1e194, 1e195, 1e196, 1e197, 1e198, 1e199,
    1e200, 1e201, 1e202, 1e203, 1e204, 1e205, 1e206, 1e207, 1e208, 1e209,
    1e210, 1e211, 1e212, 1e213, 1e214, 1e215, 1e216, 1e217, 1e218, 1e219,
    1e220, 1e221, 1e222, 1e223, 1e224, 1e225, 1e226, 1e227, 1e228, 1e229,
    1e230, 1e231, 1e232, 1e233, 1e234, 1e235, 1e236, 1e237, 1e238, 1e239,
    1e240, 1e241, 1e242, 1e243, 1e244, 1e245, 1e246, 1e247, 1e248, 1e249,
    1e250, 1e251, 1e252, 1e253, 1e254, 1e255, 1e256, 1e257, 1e258, 1e259,
    1e260, 1e261, 1e262, 1e263, 1e264, 1e265, 1e266, 1e267, 1e268, 1e269,
    1e270, 1e271, 1e272, 1e273, 1e274, 1e275, 1e276, 1e277, 1e278, 1e279,
    1e280, 1e281, 1e282, 1e283, 1e284, 1e285, 1e286, 1e287, 1e288, 1e289,
    1e290, 1e291, 1e292, 1e293, 1e294, 1e295, 1e296, 1e297, 1e298, 1e299,
    1e300, 1e301, 1e302, 1e303, 1e304, 1e305, 1e306, 1e307, 1e308,
};

}  // namespace

double power_of_ten(int i) { return kPowersOfTen[i]; }

bool decimal_to_double(std::uint64_t s, std::int32_t e, double& out) {
  double f = static_cast<double>(s);
  std::int64_t exponent = e;
  for (;;) {
    if (exponent >= 0 && exponent <= 308) {
      f *= kPowersOfTen[exponent];
      if (std::isinf(f)) return false;
      break;
    }
    if (exponent < 0 && exponent >= -308) {
      f /= kPowersOfTen[-exponent];
      break;
    }
    if (f == 0) break;
    if (exponent > 0) return false;
    f /= kPowersOfTen[308];
    exponent += 308;
  }
  out = f;
  return true;
}

namespace {

// The eight decimal digits of v < 10^8 as ASCII bytes of a little-endian
// word, the first digit in the lowest byte, computed in registers: halves,
// then pairs, then single digits, each split by a multiplication that
// divides every lane at once.
std::uint64_t eight_digits(std::uint32_t v) {
  const std::uint64_t halves = (v / 10000) | (std::uint64_t{v % 10000} << 32);
  const std::uint64_t hundreds = ((halves * 10486) >> 20) & 0x0000007F0000007Fu;
  const std::uint64_t pairs = ((halves - hundreds * 100) << 16) | hundreds;
  const std::uint64_t tens = ((pairs * 103) >> 10) & 0x000F000F000F000Fu;
  const std::uint64_t digits = ((pairs - tens * 10) << 8) | tens;
  return digits | 0x3030303030303030u;
}

// Stores `word` with its lowest byte first.
void store_little_endian(char* p, std::uint64_t word) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(p, &word, 8);
  } else {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<char>(word >> (8 * i));
  }
}

// Exactly eight digits of v < 10^8, leading zeros included.
char* put_eight(char* p, std::uint32_t v) {
  store_little_endian(p, eight_digits(v));
  return p + 8;
}

// The digits of v < 10^8 without leading zeros: the word is shifted past
// them and stored whole, so the length decides no branch (the caller has
// room past the digits).
char* put_short(char* p, std::uint32_t v) {
  const int digits = 1 + (v >= 10) + (v >= 100) + (v >= 1000) + (v >= 10000) + (v >= 100000) +
                     (v >= 1000000) + (v >= 10000000);
  store_little_endian(p, eight_digits(v) >> (8 * (8 - digits)));
  return p + digits;
}

}  // namespace

// In chunks of eight digits, which shortens the chain of divisions.
char* write_unsigned(char* p, std::uint64_t v) {
  constexpr std::uint64_t k8 = 100000000;
  constexpr std::uint64_t k16 = k8 * k8;
  if (v < k8) return put_short(p, static_cast<std::uint32_t>(v));
  if (v < k16) {
    p = put_short(p, static_cast<std::uint32_t>(v / k8));
    return put_eight(p, static_cast<std::uint32_t>(v % k8));
  }
  p = put_short(p, static_cast<std::uint32_t>(v / k16));
  const std::uint64_t rest = v % k16;
  p = put_eight(p, static_cast<std::uint32_t>(rest / k8));
  return put_eight(p, static_cast<std::uint32_t>(rest % k8));
}

char* write_signed(char* p, std::int64_t v) {
  if (v >= 0) return write_unsigned(p, static_cast<std::uint64_t>(v));
  *p++ = '-';
  return write_unsigned(p, 0 - static_cast<std::uint64_t>(v));
}

namespace {

// Finds v > 0 as m / 10^k with m < 10^15 and k <= 22, the fewest fraction
// digits first; such an m is then the shortest digit string of v. Every
// value involved is exact (m < 2^53, 10^k for k <= 22), so m / 10^k == v
// proves that m × 10^-k reads back as v. With at most 15 digits, the
// interval of decimals that read back as v is narrower than 0.23 units of
// the k-th decimal place, so it holds at most one candidate for each k.
// t = v × 10^k lies within t × 2^-53 of that candidate, and rounding the
// product adds at most as much again, so a t further than t × 2^-51 from
// the nearest integer has none and needs no division.
//
// If some k qualifies, every larger place up to the last one below 10^15
// holds an integer within t × 2^-52 as well (the scaled candidate), so that
// place is tried first: most doubles with 16 or 17 digits fail there at
// once instead of after up to 23 steps.
bool short_decimal(double v, std::uint64_t& m, int& k) {
  if (!(v < 1e15) || v < 1e-22) return false;
  // Round to the nearest integer, ties to even: exact for 0 <= t < 2^52.
  const auto nearest = [](double t) { return (t + 0x1p52) - 0x1p52; };
  // The last place. With f = floor(log10 2^e) for v's binary exponent e
  // (v is normal here), 10^f <= v, so place 15 - f already reaches 10^15:
  // the last place is 14 - f or, after rounding, one or two below.
  const auto binary_exponent = static_cast<int>((std::bit_cast<std::uint64_t>(v) >> 52) & 0x7FF) - 1023;
  int last = std::min(14 - ((binary_exponent * 78913) >> 18), 22);
  while (last > 0 && v * kPowersOfTen[last] >= 1e15) --last;
  {
    const double t = v * kPowersOfTen[last];
    if (std::fabs(t - nearest(t)) > t * 0x1p-51) return false;
  }
  for (int i = 0; i <= last; ++i) {
    const double t = v * kPowersOfTen[i];
    const double c = nearest(t);
    if (std::fabs(t - c) > t * 0x1p-51 || c == 0) continue;
    if (c / kPowersOfTen[i] == v) {
      m = static_cast<std::uint64_t>(c);
      k = i;
      return true;
    }
  }
  return false;
}

}  // namespace

namespace {

// The written form of 0.d1…dL × 10^n for the digits d1…dL (no leading or
// trailing zeros) at `digits`.
char* write_layout(char* p, const char* digits, int count, int n) {
  const int k = n - count;  // the decimal exponent of the last digit
  const auto ucount = static_cast<std::size_t>(count);
  if (k >= 0 && n <= 16) {
    std::memcpy(p, digits, ucount);
    p += count;
    std::memset(p, '0', static_cast<std::size_t>(k));
    p += k;
    std::memcpy(p, ".0", 2);
    return p + 2;
  }
  if (n > 0 && n <= 16) {
    const auto un = static_cast<std::size_t>(n);
    std::memcpy(p, digits, un);
    p += n;
    *p++ = '.';
    std::memcpy(p, digits + n, ucount - un);
    return p + (count - n);
  }
  if (n > -5 && n <= 0) {
    std::memcpy(p, "0.", 2);
    p += 2;
    std::memset(p, '0', static_cast<std::size_t>(-n));
    p += -n;
    std::memcpy(p, digits, ucount);
    return p + count;
  }
  *p++ = digits[0];
  if (count > 1) {
    *p++ = '.';
    std::memcpy(p, digits + 1, ucount - 1);
    p += count - 1;
  }
  *p++ = 'e';
  // The exponent of a finite double lies within ±324.
  int x = n - 1;
  if (x < 0) {
    *p++ = '-';
    x = -x;
  }
  if (x >= 100) *p++ = static_cast<char>('0' + x / 100);
  if (x >= 10) *p++ = static_cast<char>('0' + x / 10 % 10);
  *p++ = static_cast<char>('0' + x % 10);
  return p;
}

}  // namespace

char* write_digits(char* p, bool negative, const char* digits, int count, int e) {
  if (negative) *p++ = '-';
  while (digits[count - 1] == '0') {
    --count;
    ++e;
  }
  return write_layout(p, digits, count, count + e);
}

char* write_decimal(char* p, bool negative, std::uint64_t m, int e) {
  char digits[24];
  const auto count = static_cast<int>(write_unsigned(digits, m) - digits);
  return write_digits(p, negative, digits, count, e);
}

char* write_double(char* p, double v) {
  // The parser never makes one, but a caller can: JSON has no form for it,
  // so it is written the way JavaScript writes it, as null.
  if (!std::isfinite(v)) {
    std::memcpy(p, "null", 4);
    return p + 4;
  }
  if (std::signbit(v)) {
    *p++ = '-';
    v = -v;
  }
  if (v == 0) {
    std::memcpy(p, "0.0", 3);
    return p + 3;
  }
  std::uint64_t m = 0;
  int fraction_digits = 0;
  if (short_decimal(v, m, fraction_digits)) return write_decimal(p, false, m, -fraction_digits);
  // The shortest round-trip digits, nearest and ties to even, come from
  // to_chars as d[.ddd]e±x; the layout around them is ours.
  char sci[40];
  const char* const sci_end = std::to_chars(sci, sci + sizeof sci, v, std::chars_format::scientific).ptr;
  char digits[24];
  int count = 0;
  const char* q = sci;
  digits[count++] = *q++;
  if (*q == '.') {
    for (++q; *q != 'e'; ++q) digits[count++] = *q;
  }
  ++q;  // 'e'
  const bool exponent_negative = *q++ == '-';
  int x = 0;
  for (; q != sci_end; ++q) x = x * 10 + (*q - '0');
  return write_layout(p, digits, count, (exponent_negative ? -x : x) + 1);
}

}  // namespace vk::json_detail
