// SipHash-1-3 over the hash feed of the model types.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "vondrel/instance.h"
#include "vondrel/net.h"
#include "vondrel/port.h"

namespace vondrel {

// Streaming SipHash-1-3 (one compression round per block, three finalisation rounds).
// How the input is cut into pieces does not change the digest.
class SipHasher13 {
 public:
  explicit SipHasher13(std::uint64_t k0 = 0, std::uint64_t k1 = 0);
  void write(const void* data, std::size_t len);
  std::uint64_t finish() const;

 private:
  std::uint64_t v0_, v1_, v2_, v3_;
  std::uint64_t tail_ = 0;  // pending bytes, little-endian
  std::size_t ntail_ = 0;
  std::size_t length_ = 0;
};

// The feed of each type: a string is its bytes then 0xFF; integers, variant indices and
// member counts are 8 bytes little-endian.
void hash_feed(SipHasher13& h, std::string_view s);
void hash_feed(SipHasher13& h, std::int64_t v);
void hash_feed_u64(SipHasher13& h, std::uint64_t v);
void hash_feed(SipHasher13& h, const NetlistPort& p);
void hash_feed(SipHasher13& h, const PortRef& p);
void hash_feed(SipHasher13& h, const PortArrayRef& p);
void hash_feed(SipHasher13& h, const NetMember& m);
void hash_feed(SipHasher13& h, const Net& n);
void hash_feed(SipHasher13& h, const NetlistArray& a);

// Digest with both keys zero: the same in every run and on every machine.
template <class T>
std::uint64_t stable_hash(const T& value) {
  SipHasher13 h;
  hash_feed(h, value);
  return h.finish();
}

// Hash functors for the core's own hash sets and maps of members and nets (randomly keyed
// once per process).
std::uint64_t process_hash_key0();
std::uint64_t process_hash_key1();
struct MemberHash {
  std::size_t operator()(const NetMember& m) const;
};
struct NetHash {
  std::size_t operator()(const Net& n) const;
};

}  // namespace vondrel
