// Every wire record described once: its keys in written order, which are required, when a
// key is written, the expectation and length texts. Both carriers (JSON text and Python
// objects) read and write records through the generic drivers below; a carrier supplies
// only how it reads and writes the primitive kinds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "vondrel/instance.h"
#include "vondrel/placement.h"
#include "vondrel/port.h"
#include "vondrel/wire.h"

namespace vondrel::record {

// When a field is written.
enum class Write { Always, WhenNonEmpty, WhenPresent };

template <class R, class T>
struct Field {
  using record_type = R;
  using value_type = T;
  std::string_view key;
  T R::*member;
  bool required;
  Write write = Write::Always;
};

template <class R, class T>
constexpr Field<R, T> field(std::string_view key, T R::*member, bool required, Write write = Write::Always) {
  return Field<R, T>{key, member, required, write};
}

// Describe<R> exists for every record type R. Members:
//   expecting      "struct R"          (invalid-type expectation)
//   length_text    "struct R with N elements", empty when the record has no required field
//   skip_unknown   unknown keys are skipped (their values still parsed) instead of refused
//   fields         tuple of Field, in written order (also the positional order)
template <class R>
struct Describe;

template <>
struct Describe<NetlistPort> {
  static constexpr std::string_view expecting = "struct NetlistPort";
  static constexpr std::string_view length_text = "struct NetlistPort with 1 element";
  static constexpr bool skip_unknown = false;
  static constexpr auto fields = std::make_tuple(field("name", &NetlistPort::name, true));
};

template <>
struct Describe<PortRef> {
  static constexpr std::string_view expecting = "struct PortRef";
  static constexpr std::string_view length_text = "struct PortRef with 2 elements";
  static constexpr bool skip_unknown = false;
  static constexpr auto fields =
      std::make_tuple(field("instance", &PortRef::instance, true), field("port", &PortRef::port, true));
};

template <>
struct Describe<PortArrayRef> {
  static constexpr std::string_view expecting = "struct PortArrayRef";
  static constexpr std::string_view length_text = "struct PortArrayRef with 4 elements";
  static constexpr bool skip_unknown = false;
  static constexpr auto fields =
      std::make_tuple(field("instance", &PortArrayRef::instance, true), field("port", &PortArrayRef::port, true),
                      field("ia", &PortArrayRef::ia, true), field("ib", &PortArrayRef::ib, true));
};

template <>
struct Describe<NetlistArray> {
  static constexpr std::string_view expecting = "struct NetlistArray";
  static constexpr std::string_view length_text = "struct NetlistArray with 2 elements";
  static constexpr bool skip_unknown = false;
  static constexpr auto fields =
      std::make_tuple(field("na", &NetlistArray::na, true), field("nb", &NetlistArray::nb, true));
};

// The instance record, over its wire struct and over the core instance itself (read and
// written without a copy; its name is not part of the record).
template <class W>
struct DescribeInstance {
  static constexpr std::string_view expecting = "struct NetlistInstanceWire";
  static constexpr std::string_view length_text = "struct NetlistInstanceWire with 5 elements";
  static constexpr bool skip_unknown = false;
  static constexpr auto fields = std::make_tuple(
      field("info", &W::info, false, Write::WhenNonEmpty), field("kcl", &W::kcl, true),
      field("component", &W::component, true), field("settings", &W::settings, false),
      field("array", &W::array, false, Write::WhenPresent));
};

template <>
struct Describe<NetlistInstanceWire> : DescribeInstance<NetlistInstanceWire> {};

template <>
struct Describe<NetlistInstance> : DescribeInstance<NetlistInstance> {};

// The netlist record, over its wire struct and over the core netlist itself (read and written
// without a copy; the instances read back have empty names, their keys hold them).
template <class W>
struct DescribeNetlist {
  static constexpr std::string_view expecting = "struct NetlistWire";
  static constexpr std::string_view length_text = "";
  static constexpr bool skip_unknown = false;
  static constexpr auto fields = std::make_tuple(field("instances", &W::instances, false),
                                                 field("nets", &W::nets, false), field("ports", &W::ports, false));
};

template <>
struct Describe<NetlistWire> : DescribeNetlist<NetlistWire> {};

template <>
struct Describe<Netlist> : DescribeNetlist<Netlist> {};

template <>
struct Describe<BBox> {
  static constexpr std::string_view expecting = "struct BBox";
  static constexpr std::string_view length_text = "struct BBox with 4 elements";
  static constexpr bool skip_unknown = true;
  static constexpr auto fields =
      std::make_tuple(field("left", &BBox::left, true), field("bottom", &BBox::bottom, true),
                      field("right", &BBox::right, true), field("top", &BBox::top, true));
};

template <>
struct Describe<Placement> {
  static constexpr std::string_view expecting = "struct Placement";
  static constexpr std::string_view length_text = "struct Placement with 5 elements";
  static constexpr bool skip_unknown = false;
  static constexpr auto fields =
      std::make_tuple(field("x", &Placement::x, true), field("y", &Placement::y, true),
                      field("orientation", &Placement::orientation, true), field("mirror", &Placement::mirror, true),
                      field("bbox", &Placement::bbox, true));
};

// The instance record's fields, then the placed ones.
template <>
struct Describe<PlacedInstanceWire> {
  using W = PlacedInstanceWire;
  static constexpr std::string_view expecting = "struct PlacedInstanceWire";
  static constexpr std::string_view length_text = "struct PlacedInstanceWire with 7 elements";
  static constexpr bool skip_unknown = false;
  static constexpr auto fields =
      std::tuple_cat(DescribeInstance<W>::fields,
                     std::make_tuple(field("cell", &W::cell, false), field("placement", &W::placement, true)));
};

// The netlist record's fields over the placed instances.
template <>
struct Describe<PlacedNetlistWire> : DescribeNetlist<PlacedNetlistWire> {
  static constexpr std::string_view expecting = "struct PlacedNetlistWire";
};

// The placed attributes of an instance: the last two fields of PlacedInstanceWire, written
// after the instance's own (see PlacedInstanceView).
template <>
struct Describe<PlacedExtra> {
  static constexpr std::string_view expecting = "struct PlacedInstanceWire";
  static constexpr std::string_view length_text = "struct PlacedInstanceWire with 7 elements";
  static constexpr bool skip_unknown = false;
  static constexpr auto fields =
      std::make_tuple(field("cell", &PlacedExtra::cell, false), field("placement", &PlacedExtra::placement, true));
};

// Written only: the PlacedNetlistWire record straight from a netlist and its extras; the
// pointer fields are written as what they point to.
template <>
struct Describe<PlacedNetlistView> : DescribeNetlist<PlacedNetlistView> {
  static constexpr std::string_view expecting = "struct PlacedNetlistWire";
};

// ---------------------------------------------------------------------------------------
// Queries over a description.

template <class T, class = void>
struct is_record : std::false_type {};
template <class T>
struct is_record<T, std::void_t<decltype(Describe<T>::fields)>> : std::true_type {};
// Written as one record joined from two described parts.
template <>
struct is_record<PlacedInstanceView> : std::true_type {};
template <class T>
inline constexpr bool is_record_v = is_record<T>::value;

template <class R>
inline constexpr std::size_t field_count = std::tuple_size_v<std::remove_cv_t<decltype(Describe<R>::fields)>>;

// Whether two keys are equal, compared in line: keys are a few bytes long, shorter than the
// call a library comparison would cost.
constexpr bool same_key(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) return false;
  return true;
}

// Index of the field named `key`, or -1.
template <class R>
int field_index(std::string_view key) {
  int found = -1;
  int i = 0;
  std::apply([&](const auto&... f) { ((found < 0 && same_key(f.key, key) ? (found = i, ++i) : ++i), ...); },
             Describe<R>::fields);
  return found;
}

template <class R>
constexpr std::string_view field_key(std::size_t index) {
  std::string_view out;
  std::size_t i = 0;
  std::apply([&](const auto&... f) { ((i++ == index ? (out = f.key, 0) : 0), ...); }, Describe<R>::fields);
  return out;
}

// Position of the first required field at `from` or later, if any.
template <class R>
std::optional<std::size_t> first_required_from(std::size_t from) {
  std::optional<std::size_t> out;
  std::size_t i = 0;
  std::apply([&](const auto&... f) { ((!out && i >= from && f.required ? (out = i, ++i) : ++i), ...); },
             Describe<R>::fields);
  return out;
}

// Calls fn(field_descriptor, record.*member) for field `index`; returns what fn returns
// (every call must return the same type, usually bool).
template <class R, class Rec, class Fn>
decltype(auto) with_field(Rec& rec, std::size_t index, Fn&& fn) {
  using Ret = decltype(fn(std::get<0>(Describe<R>::fields), rec.*(std::get<0>(Describe<R>::fields).member)));
  if constexpr (std::is_void_v<Ret>) {
    std::size_t i = 0;
    std::apply([&](const auto&... f) { ((i++ == index ? (fn(f, rec.*(f.member)), 0) : 0), ...); },
               Describe<R>::fields);
  } else {
    Ret out{};
    std::size_t i = 0;
    std::apply([&](const auto&... f) { ((i++ == index ? (out = fn(f, rec.*(f.member)), 0) : 0), ...); },
               Describe<R>::fields);
    return out;
  }
}

// Calls fn(field_descriptor, record.*member) for every field in order; stops at the first
// call that returns false.
template <class R, class Rec, class Fn>
bool for_each_field(Rec& rec, Fn&& fn) {
  bool ok = true;
  std::apply([&](const auto&... f) { ((ok = ok && fn(f, rec.*(f.member))), ...); }, Describe<R>::fields);
  return ok;
}

// Whether a field's value is written.
template <class F, class T>
bool should_write(const F& f, const T& value) {
  if (f.write == Write::WhenNonEmpty) {
    if constexpr (requires { value.empty(); }) return !value.empty();
  }
  if (f.write == Write::WhenPresent) {
    if constexpr (requires { value.has_value(); }) return value.has_value();
  }
  return true;
}

// ---------------------------------------------------------------------------------------
// Message texts, built in one place.

std::string missing_field(std::string_view key);
std::string duplicate_field(std::string_view key);
std::string unknown_field(std::string_view key, std::string_view expected_keys);
std::string invalid_length(std::size_t n, std::string_view length_text);
std::string invalid_type(std::string_view unexpected, std::string_view expectation);
std::string invalid_value(std::string_view unexpected, std::string_view expectation);

// The expected-keys text E: `a`; `a` or `b`; one of `a`, `b`, `c`.
std::string expected_keys_text(const std::string_view* keys, std::size_t n);

template <class R>
const std::string& expected_keys() {
  static const std::string text = [] {
    std::string_view keys[field_count<R>];
    std::size_t i = 0;
    std::apply([&](const auto&... f) { ((keys[i++] = f.key), ...); }, Describe<R>::fields);
    return expected_keys_text(keys, field_count<R>);
  }();
  return text;
}

// The unexpected-value texts U.
std::string unexpected_null();
std::string unexpected_bool(bool b);
std::string unexpected_unsigned(std::uint64_t v);
std::string unexpected_signed(std::int64_t v);
std::string unexpected_float(double v);
std::string unexpected_string(std::string_view s);
std::string unexpected_sequence();
std::string unexpected_map();

// Expectations of the primitive kinds.
inline constexpr std::string_view kExpectString = "a string";
inline constexpr std::string_view kExpectI64 = "i64";
inline constexpr std::string_view kExpectF64 = "f64";
inline constexpr std::string_view kExpectBool = "a boolean";
inline constexpr std::string_view kExpectMap = "a map";
inline constexpr std::string_view kExpectSequence = "a sequence";
inline constexpr std::string_view kExpectAnyJson = "any valid JSON value";
inline constexpr std::string_view kNoMemberVariant = "data did not match any variant of untagged enum NetMember";

// ---------------------------------------------------------------------------------------
// Generic drivers.
//
// Object form, over a carrier's map access `m`:
//   int  m.next_key(std::string_view& key)   1: a key was read, 0: the map ended, -1: failed
//   bool m.read_value(T& out)                reads the value for the last key into `out`
//   bool m.skip_value()                      reads and discards the value for the last key
//   bool m.fail(std::string message)         records the error (with position); returns false
template <class R, class MapAccess>
bool read_map_record(MapAccess& m, R& out) {
  static_assert(field_count<R> <= 32);
  std::uint32_t seen = 0;
  std::string_view key;
  for (;;) {
    int r = m.next_key(key);
    if (r < 0) return false;
    if (r == 0) break;
    int i = field_index<R>(key);
    if (i < 0) {
      if constexpr (Describe<R>::skip_unknown) {
        if (!m.skip_value()) return false;
        continue;
      } else {
        return m.fail(unknown_field(key, expected_keys<R>()));
      }
    }
    if (seen & (1u << i)) return m.fail(duplicate_field(key));
    seen |= 1u << i;
    if (!with_field<R>(out, static_cast<std::size_t>(i), [&](const auto&, auto& value) { return m.read_value(value); }))
      return false;
  }
  std::size_t i = 0;
  bool ok = true;
  std::apply(
      [&](const auto&... f) {
        ((ok && f.required && !(seen & (1u << i)) ? (ok = m.fail(missing_field(f.key)), ++i) : ++i), ...);
      },
      Describe<R>::fields);
  return ok;
}

// Positional form, over a carrier's sequence access `s`:
//   int  s.has_next()              1: another element follows, 0: the sequence ended, -1: failed
//   bool s.read_value(T& out)      reads the next element into `out`
//   bool s.finish()                after the last field: the sequence must end here
//   bool s.fail(std::string)       records the error (with position); returns false
template <class R, class SeqAccess>
bool read_seq_record(SeqAccess& s, R& out) {
  for (std::size_t i = 0; i < field_count<R>; ++i) {
    int r = s.has_next();
    if (r < 0) return false;
    if (r == 0) {
      if (auto req = first_required_from<R>(i)) return s.fail(invalid_length(*req, Describe<R>::length_text));
      return true;  // the remaining optional fields keep their defaults
    }
    if (!with_field<R>(out, i, [&](const auto&, auto& value) { return s.read_value(value); })) return false;
  }
  return s.finish();
}

// Writing, over a carrier's writer `w`:
//   bool w.begin_record(std::size_t n_fields)
//   bool w.key(std::string_view key)
//   bool w.write_value(const T& value)
//   bool w.end_record()
template <class R, class Writer>
bool write_fields(Writer& w, const R& rec) {
  return for_each_field<R>(rec, [&](const auto& f, const auto& value) {
    if constexpr (std::is_pointer_v<std::remove_cvref_t<decltype(value)>>) {
      return w.key(f.key) && w.write_value(*value);
    } else {
      if (!should_write(f, value)) return true;
      return w.key(f.key) && w.write_value(value);
    }
  });
}

template <class R, class Writer>
bool write_record(Writer& w, const R& rec) {
  if constexpr (std::is_same_v<R, PlacedInstanceView>) {
    return w.begin_record(field_count<NetlistInstance> + field_count<PlacedExtra>) &&
           write_fields<NetlistInstance>(w, *rec.instance) && write_fields<PlacedExtra>(w, *rec.extra) &&
           w.end_record();
  } else {
    return w.begin_record(field_count<R>) && write_fields<R>(w, rec) && w.end_record();
  }
}

}  // namespace vondrel::record
