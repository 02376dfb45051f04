// Compact JSON text writer.
#include <charconv>
#include <cmath>
#include <cstring>

#include "vondrel/json.h"

namespace vondrel {

void append_double(std::string& out, double v) {
  if (!std::isfinite(v)) {
    out += "null";
    return;
  }
  if (v == 0.0) {
    out += std::signbit(v) ? "-0.0" : "0.0";
    return;
  }
  // Shortest round-trip digits, as d.ddde[+-]x.
  char buf[40];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  const char* p = buf;
  const char* end = r.ptr;
  if (*p == '-') {
    out += '-';
    ++p;
  }
  const char* e = static_cast<const char*>(std::memchr(p, 'e', static_cast<std::size_t>(end - p)));
  char digits[20];
  int nd = 0;
  for (const char* q = p; q < e; ++q)
    if (*q != '.') digits[nd++] = *q;
  int exp = 0;
  std::from_chars(e + 1 + (e[1] == '+'), end, exp);

  if (exp >= -5 && exp <= 15) {
    if (exp < 0) {
      out += "0.";
      out.append(static_cast<std::size_t>(-exp - 1), '0');
      out.append(digits, static_cast<std::size_t>(nd));
    } else if (nd <= exp + 1) {
      out.append(digits, static_cast<std::size_t>(nd));
      out.append(static_cast<std::size_t>(exp + 1 - nd), '0');
      out += ".0";
    } else {
      out.append(digits, static_cast<std::size_t>(exp + 1));
      out += '.';
      out.append(digits + exp + 1, static_cast<std::size_t>(nd - exp - 1));
    }
    return;
  }
  out += digits[0];
  if (nd > 1) {
    out += '.';
    out.append(digits + 1, static_cast<std::size_t>(nd - 1));
  }
  out += 'e';
  out += exp < 0 ? '-' : '+';
  char eb[8];
  auto er = std::to_chars(eb, eb + sizeof eb, exp < 0 ? -exp : exp);
  out.append(eb, er.ptr);
}

std::string format_double(double v) {
  std::string out;
  append_double(out, v);
  return out;
}

}  // namespace vondrel
