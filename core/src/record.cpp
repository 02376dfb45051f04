// Message texts of the record readers, shared by both carriers.
#include "vondrel/record.h"

#include <limits>

#include "vondrel/error.h"
#include "vondrel/json.h"

namespace vondrel::record {

namespace {

std::string backquoted(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 2);
  out += '`';
  out += s;
  out += '`';
  return out;
}

}  // namespace

std::string missing_field(std::string_view key) { return "missing field " + backquoted(key); }

std::string duplicate_field(std::string_view key) { return "duplicate field " + backquoted(key); }

std::string unknown_field(std::string_view key, std::string_view expected_keys) {
  std::string out = "unknown field " + backquoted(key);
  out += ", expected ";
  out += expected_keys;
  return out;
}

std::string invalid_length(std::size_t n, std::string_view length_text) {
  std::string out = "invalid length " + std::to_string(n);
  out += ", expected ";
  out += length_text;
  return out;
}

std::string invalid_type(std::string_view unexpected, std::string_view expectation) {
  std::string out = "invalid type: ";
  out += unexpected;
  out += ", expected ";
  out += expectation;
  return out;
}

std::string invalid_value(std::string_view unexpected, std::string_view expectation) {
  std::string out = "invalid value: ";
  out += unexpected;
  out += ", expected ";
  out += expectation;
  return out;
}

std::string expected_keys_text(const std::string_view* keys, std::size_t n) {
  if (n == 0) return "there are no fields";
  if (n == 1) return backquoted(keys[0]);
  if (n == 2) return backquoted(keys[0]) + " or " + backquoted(keys[1]);
  std::string out = "one of ";
  for (std::size_t i = 0; i < n; ++i) {
    if (i) out += ", ";
    out += backquoted(keys[i]);
  }
  return out;
}

std::string unexpected_null() { return "null"; }
std::string unexpected_bool(bool b) { return b ? "boolean `true`" : "boolean `false`"; }
std::string unexpected_unsigned(std::uint64_t v) { return "integer " + backquoted(std::to_string(v)); }
std::string unexpected_signed(std::int64_t v) { return "integer " + backquoted(std::to_string(v)); }

std::string unexpected_float(double v) {
  // The writer's layout; values that JSON cannot hold keep a readable name.
  if (v != v) return "floating point `NaN`";
  if (v == std::numeric_limits<double>::infinity()) return "floating point `inf`";
  if (v == -std::numeric_limits<double>::infinity()) return "floating point `-inf`";
  return "floating point " + backquoted(format_double(v));
}

std::string unexpected_string(std::string_view s) { return "string " + quoted(s); }
std::string unexpected_sequence() { return "sequence"; }
std::string unexpected_map() { return "map"; }

}  // namespace vondrel::record
