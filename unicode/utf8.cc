#include "unicode/utf8.h"

#include <cstddef>

namespace vk::biometric {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// The sequence starting at some offset: either a well-formed character of
// `length` bytes, or an ill-formed maximal subpart of `length` bytes (≥ 1).
struct Sequence {
  bool wellFormed;
  std::size_t length;
};

// Reads one sequence at `at` (< bytes.size()) by the table of well-formed
// byte sequences; the bytes before the first misfit make the maximal subpart.
Sequence readSequence(std::string_view bytes, std::size_t at) {
  const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byteAt(at);
  if (lead < 0x80) return {true, 1};

  std::size_t length = 0;
  unsigned char secondLow = 0x80;
  unsigned char secondHigh = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) secondLow = 0xA0;   // no overlongs
    if (lead == 0xED) secondHigh = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) secondLow = 0x90;   // no overlongs
    if (lead == 0xF4) secondHigh = 0x8F;  // nothing above U+10FFFF
  } else {
    return {false, 1};
  }

  for (std::size_t i = 1; i < length; ++i) {
    if (at + i >= bytes.size()) return {false, i};
    const unsigned char low = i == 1 ? secondLow : 0x80;
    const unsigned char high = i == 1 ? secondHigh : 0xBF;
    const unsigned char next = byteAt(at + i);
    if (next < low || next > high) return {false, i};
  }
  return {true, length};
}

// The code point of the well-formed sequence of `length` bytes at `at`.
char32_t decodeSequence(std::string_view bytes, std::size_t at, std::size_t length) {
  const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(bytes[at + i]); };
  static constexpr unsigned char kLeadBits[] = {0x7F, 0x1F, 0x0F, 0x07};
  char32_t codePoint = byteAt(0) & kLeadBits[length - 1];
  for (std::size_t i = 1; i < length; ++i) codePoint = (codePoint << 6) | (byteAt(i) & 0x3F);
  return codePoint;
}

}  // namespace

bool isWellFormedUtf8(std::string_view bytes) {
  for (std::size_t at = 0; at < bytes.size();) {
    const Sequence sequence = readSequence(bytes, at);
    if (!sequence.wellFormed) return false;
    at += sequence.length;
  }
  return true;
}

std::string repairUtf8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    const Sequence sequence = readSequence(bytes, at);
    if (sequence.wellFormed) {
      text.append(bytes.substr(at, sequence.length));
    } else {
      text.append(kReplacementCharacter);
    }
    at += sequence.length;
  }
  return text;
}

std::optional<std::vector<std::uint16_t>> utf16FromUtf8(std::string_view bytes) {
  std::vector<std::uint16_t> units;
  units.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    const Sequence sequence = readSequence(bytes, at);
    if (!sequence.wellFormed) return std::nullopt;
    const char32_t codePoint = decodeSequence(bytes, at, sequence.length);
    if (codePoint < 0x10000) {
      units.push_back(static_cast<std::uint16_t>(codePoint));
    } else {
      const char32_t offset = codePoint - 0x10000;
      units.push_back(static_cast<std::uint16_t>(0xD800 + (offset >> 10)));
      units.push_back(static_cast<std::uint16_t>(0xDC00 + (offset & 0x3FF)));
    }
    at += sequence.length;
  }
  return units;
}

}  // namespace vk::biometric
