// UTF-8 validation shared by the JSON reader and member recognition.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vondrel::detail {

// Length of the well-formed UTF-8 sequence starting at s[i] (a non-ASCII lead byte), or 0.
inline std::size_t utf8_sequence(std::string_view s, std::size_t i) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t n = s.size();
  unsigned char c = p[i];
  auto cont = [&](std::size_t k) { return i + k < n && (p[i + k] & 0xC0) == 0x80; };
  if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    if (!cont(1) || !cont(2)) return 0;
    unsigned char c1 = p[i + 1];
    if (c == 0xE0 && c1 < 0xA0) return 0;   // overlong
    if (c == 0xED && c1 >= 0xA0) return 0;  // surrogate
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (!cont(1) || !cont(2) || !cont(3)) return 0;
    unsigned char c1 = p[i + 1];
    if (c == 0xF0 && c1 < 0x90) return 0;  // overlong
    if (c == 0xF4 && c1 >= 0x90) return 0;  // above U+10FFFF
    return 4;
  }
  return 0;
}

inline bool valid_utf8(std::string_view s) {
  std::size_t i = 0;
  const std::size_t n = s.size();
  while (i < n) {
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      ++i;
      continue;
    }
    std::size_t k = utf8_sequence(s, i);
    if (k == 0) return false;
    i += k;
  }
  return true;
}

}  // namespace vondrel::detail
