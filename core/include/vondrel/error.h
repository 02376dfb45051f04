// The single error type of the core library and the result-or-error value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace vondrel {

class Error {
 public:
  // Variant indices are part of the interface (the binding tells KeyNotFound apart by it).
  enum class Kind : int {
    InvalidArraySize = 0,
    UnknownInstance = 1,
    UndefinedPort = 2,
    NotAnArrayInstance = 3,
    ArrayIndexOutOfRange = 4,
    CanonicalPortMissing = 5,
    KeyNotFound = 6,
    FlattenNameClash = 7,
    FlattenUnconnectedPort = 8,
    FlattenPassLimit = 9,
    Serialize = 10,
    Deserialize = 11,
  };

  static Error invalid_array_size(std::int64_t na, std::int64_t nb);
  static Error unknown_instance(std::string instance);
  static Error undefined_port(std::string port);
  static Error not_an_array_instance(std::string instance, std::string port, std::int64_t ia, std::int64_t ib);
  // dimension: false for `na`, true for `nb`.
  static Error array_index_out_of_range(std::string instance, std::int64_t count, bool dimension);
  static Error canonical_port_missing(std::string port);
  static Error key_not_found(std::string message);
  static Error flatten_name_clash(std::string instance, std::string new_name);
  static Error flatten_unconnected_port(std::string instance, std::string port, std::string cell);
  static Error flatten_pass_limit(std::uint64_t passes);
  // `message` is the JSON writer's / reader's error text (the reader's ends with its position).
  static Error serialize(std::string message);
  static Error deserialize(std::string message);

  Kind kind() const { return kind_; }
  int index() const { return static_cast<int>(kind_); }

  // The display text, byte for byte what a Python caller reads.
  std::string message() const;

  // Payload access (which ones are set depends on the kind).
  const std::string& text1() const { return s1_; }
  const std::string& text2() const { return s2_; }
  const std::string& text3() const { return s3_; }
  std::int64_t int1() const { return i1_; }
  std::int64_t int2() const { return i2_; }
  bool flag() const { return flag_; }

  friend bool operator==(const Error&, const Error&) = default;

 private:
  explicit Error(Kind k) : kind_(k) {}
  Error(Kind k, std::string s1, std::string s2 = {}, std::string s3 = {}, std::int64_t i1 = 0, std::int64_t i2 = 0,
        bool flag = false)
      : kind_(k), s1_(std::move(s1)), s2_(std::move(s2)), s3_(std::move(s3)), i1_(i1), i2_(i2), flag_(flag) {}
  Kind kind_;
  std::string s1_, s2_, s3_;
  std::int64_t i1_ = 0, i2_ = 0;
  bool flag_ = false;
};

// Renders `s` in the quoted form used inside core messages: double quotes, backslash
// escapes, \u{..} for control, private-use, white-space, combining, default-ignorable,
// format and unassigned characters.
std::string quoted(std::string_view s);

// Result of a fallible operation: a value or an Error.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T& operator*() & { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  Error& error() & { return std::get<1>(v_); }
  const Error& error() const& { return std::get<1>(v_); }
  Error&& error() && { return std::get<1>(std::move(v_)); }

 private:
  std::variant<T, Error> v_;
};

struct Ok {};
using Status = Result<Ok>;
inline Status ok_status() { return Status(Ok{}); }

}  // namespace vondrel
