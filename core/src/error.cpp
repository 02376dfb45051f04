#include "vondrel/error.h"

#include <array>
#include <atomic>
#include <charconv>
#include <cstddef>
#include <cstdint>

#include <unicode/uchar.h>

#include "utf8.h"

namespace vondrel {

Error Error::invalid_array_size(std::int64_t na, std::int64_t nb) {
  return Error(Kind::InvalidArraySize, {}, {}, {}, na, nb);
}
Error Error::unknown_instance(std::string instance) { return Error(Kind::UnknownInstance, std::move(instance)); }
Error Error::undefined_port(std::string port) { return Error(Kind::UndefinedPort, std::move(port)); }
Error Error::not_an_array_instance(std::string instance, std::string port, std::int64_t ia, std::int64_t ib) {
  return Error(Kind::NotAnArrayInstance, std::move(instance), std::move(port), {}, ia, ib);
}
Error Error::array_index_out_of_range(std::string instance, std::int64_t count, bool dimension) {
  return Error(Kind::ArrayIndexOutOfRange, std::move(instance), {}, {}, count, 0, dimension);
}
Error Error::canonical_port_missing(std::string port) { return Error(Kind::CanonicalPortMissing, std::move(port)); }
Error Error::key_not_found(std::string message) { return Error(Kind::KeyNotFound, std::move(message)); }
Error Error::flatten_name_clash(std::string instance, std::string new_name) {
  return Error(Kind::FlattenNameClash, std::move(instance), std::move(new_name));
}
Error Error::flatten_unconnected_port(std::string instance, std::string port, std::string cell) {
  return Error(Kind::FlattenUnconnectedPort, std::move(instance), std::move(port), std::move(cell));
}
// The count is kept in the signed slot and rendered back as unsigned.
Error Error::flatten_pass_limit(std::uint64_t passes) {
  return Error(Kind::FlattenPassLimit, {}, {}, {}, static_cast<std::int64_t>(passes));
}
Error Error::serialize(std::string message) { return Error(Kind::Serialize, std::move(message)); }
Error Error::deserialize(std::string message) { return Error(Kind::Deserialize, std::move(message)); }

namespace {

void append_hex(std::string& out, std::uint32_t v) {
  char buf[12];
  auto r = std::to_chars(buf, buf + sizeof buf, v, 16);
  out.append(buf, r.ptr);
}

// Decodes the UTF-8 sequence at s[i] and sets `len`; a malformed byte gives -1 with
// `len` = 1.
std::int32_t decode_utf8(std::string_view s, std::size_t i, std::size_t& len) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  len = 1;
  if (b0 < 0x80) return b0;
  const std::size_t n = detail::utf8_sequence(s, i);
  if (n == 0) return -1;
  std::uint32_t cp = b0 & (0x7F >> n);
  for (std::size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
  len = n;
  return static_cast<std::int32_t>(cp);
}

bool unicode_escape_property(UChar32 c) {
  switch (u_charType(c)) {
    case U_CONTROL_CHAR:   // Cc
    case U_PRIVATE_USE_CHAR:  // Co
    case U_FORMAT_CHAR:    // Cf
    case U_UNASSIGNED:     // Cn
    case U_SURROGATE:      // Cs (never decoded, kept for completeness)
      return true;
    default:
      break;
  }
  if (c != 0x20 && u_isUWhiteSpace(c)) return true;
  if (u_hasBinaryProperty(c, UCHAR_GRAPHEME_EXTEND)) return true;
  if (u_hasBinaryProperty(c, UCHAR_DEFAULT_IGNORABLE_CODE_POINT)) return true;
  return false;
}

// The property above, looked up once per block of 256 code points and kept: the quoted form of
// a long name costs a table lookup per character.
bool needs_unicode_escape(UChar32 c) {
  constexpr std::size_t kBlocks = 0x110000 / 256;
  static std::array<std::atomic<std::uint8_t>, kBlocks> ready{};
  static std::array<std::atomic<std::uint64_t>, kBlocks * 4> bits{};
  const auto block = static_cast<std::size_t>(c) >> 8;
  if (!ready[block].load(std::memory_order_acquire)) {
    for (std::size_t w = 0; w < 4; ++w) {
      std::uint64_t word = 0;
      for (std::size_t b = 0; b < 64; ++b)
        if (unicode_escape_property(static_cast<UChar32>((block << 8) | (w << 6) | b))) word |= std::uint64_t{1} << b;
      bits[block * 4 + w].store(word, std::memory_order_relaxed);
    }
    ready[block].store(1, std::memory_order_release);
  }
  return (bits[static_cast<std::size_t>(c) >> 6].load(std::memory_order_relaxed) >> (c & 63)) & 1;
}

}  // namespace

std::string quoted(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 2);
  out.push_back('"');
  std::size_t i = 0;
  const auto plain = [&s](std::size_t at) {
    const auto b = static_cast<unsigned char>(s[at]);
    return b >= 0x20 && b < 0x7F && b != '"' && b != '\\';
  };
  while (i < s.size()) {
    if (plain(i)) {  // printable ASCII is taken as it stands, a run at a time
      std::size_t end = i + 1;
      while (end < s.size() && plain(end)) ++end;
      out.append(s.substr(i, end - i));
      i = end;
      continue;
    }
    std::size_t len;
    const std::int32_t c = decode_utf8(s, i, len);
    if (c < 0) {
      out += "\\u{fffd}";
    } else if (c == 0) {
      out += "\\0";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (needs_unicode_escape(c)) {
      out += "\\u{";
      append_hex(out, static_cast<std::uint32_t>(c));
      out.push_back('}');
    } else {
      out.append(s.substr(i, len));
    }
    i += len;
  }
  out.push_back('"');
  return out;
}

std::string Error::message() const {
  std::string out;
  switch (kind_) {
    case Kind::InvalidArraySize:
      out = "An instance array must have at least one instance in the array. na=";
      out += std::to_string(i1_);
      out += " and nb=";
      out += std::to_string(i2_);
      out += " must be >= 1";
      break;
    case Kind::UnknownInstance:
      out = "Unknown instance ";
      out += s1_;
      break;
    case Kind::UndefinedPort:
      out = "Undefined netlist port ";
      out += s1_;
      break;
    case Kind::NotAnArrayInstance:
      out = "Instance ";
      out += s1_;
      out += " is not an array instance. But an array portref was requested PortArrayRefData { instance: ";
      out += quoted(s1_);
      out += ", port: ";
      out += quoted(s2_);
      out += ", ia: ";
      out += std::to_string(i1_);
      out += ", ib: ";
      out += std::to_string(i2_);
      out += " }";
      break;
    case Kind::ArrayIndexOutOfRange:
      out = "Instance ";
      out += s1_;
      out += " has only ";
      out += std::to_string(i1_);
      out += flag_ ? " elements in `nb` direction" : " elements in `na` direction";
      break;
    case Kind::CanonicalPortMissing:
      out = "normalize: canonical port ";
      out += quoted(s1_);
      out += " not present in netlist ports";
      break;
    case Kind::KeyNotFound:
      out = s1_;
      break;
    case Kind::FlattenNameClash:
      out = "flatten: inlining instance ";
      out += quoted(s1_);
      out += " would create instance ";
      out += quoted(s2_);
      out += ", which already exists";
      break;
    case Kind::FlattenUnconnectedPort:
      out = "flatten: instance ";
      out += quoted(s1_);
      out += " is connected on port ";
      out += quoted(s2_);
      out += ", but that port is not part of any net inside cell ";
      out += quoted(s3_);
      out += " \xE2\x80\x94 inlining would drop the connection. Pass allow_unconnected_ports=True to inline anyway.";
      break;
    case Kind::FlattenPassLimit:
      out = "flatten: still inlining after ";
      out += std::to_string(static_cast<std::uint64_t>(i1_));
      out += " passes \xE2\x80\x94 `netlists` describes a cell that contains itself";
      break;
    case Kind::Serialize:
      out = "serialize: ";
      out += s1_;
      break;
    case Kind::Deserialize:
      out = "deserialize: ";
      out += s1_;
      break;
  }
  return out;
}

}  // namespace vondrel
