#include "vondrel/hash.h"

#include <cstring>
#include <random>

namespace vondrel {

namespace {

inline std::uint64_t rotl(std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

inline void sip_round(std::uint64_t& v0, std::uint64_t& v1, std::uint64_t& v2, std::uint64_t& v3) {
  v0 += v1;
  v1 = rotl(v1, 13);
  v1 ^= v0;
  v0 = rotl(v0, 32);
  v2 += v3;
  v3 = rotl(v3, 16);
  v3 ^= v2;
  v0 += v3;
  v3 = rotl(v3, 21);
  v3 ^= v0;
  v2 += v1;
  v1 = rotl(v1, 17);
  v1 ^= v2;
  v2 = rotl(v2, 32);
}

inline std::uint64_t load_le64(const unsigned char* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

}  // namespace

SipHasher13::SipHasher13(std::uint64_t k0, std::uint64_t k1)
    : v0_(k0 ^ 0x736f6d6570736575ULL),
      v1_(k1 ^ 0x646f72616e646f6dULL),
      v2_(k0 ^ 0x6c7967656e657261ULL),
      v3_(k1 ^ 0x7465646279746573ULL) {}

void SipHasher13::write(const void* data, std::size_t len) {
  const auto* p = static_cast<const unsigned char*>(data);
  length_ += len;
  // Complete a pending partial block first.
  while (ntail_ != 0 && len != 0) {
    tail_ |= static_cast<std::uint64_t>(*p) << (8 * ntail_);
    ++p;
    --len;
    if (++ntail_ == 8) {
      v3_ ^= tail_;
      sip_round(v0_, v1_, v2_, v3_);
      v0_ ^= tail_;
      tail_ = 0;
      ntail_ = 0;
    }
  }
  while (len >= 8) {
    const std::uint64_t m = load_le64(p);
    v3_ ^= m;
    sip_round(v0_, v1_, v2_, v3_);
    v0_ ^= m;
    p += 8;
    len -= 8;
  }
  for (std::size_t i = 0; i < len; ++i) tail_ |= static_cast<std::uint64_t>(p[i]) << (8 * (ntail_ + i));
  ntail_ += len;
}

std::uint64_t SipHasher13::finish() const {
  std::uint64_t v0 = v0_, v1 = v1_, v2 = v2_, v3 = v3_;
  const std::uint64_t b = (static_cast<std::uint64_t>(length_) << 56) | tail_;
  v3 ^= b;
  sip_round(v0, v1, v2, v3);
  v0 ^= b;
  v2 ^= 0xff;
  sip_round(v0, v1, v2, v3);
  sip_round(v0, v1, v2, v3);
  sip_round(v0, v1, v2, v3);
  return v0 ^ v1 ^ v2 ^ v3;
}

void hash_feed(SipHasher13& h, std::string_view s) {
  h.write(s.data(), s.size());
  const unsigned char end = 0xFF;
  h.write(&end, 1);
}

void hash_feed_u64(SipHasher13& h, std::uint64_t v) {
  unsigned char buf[8];
  for (int i = 0; i < 8; ++i) buf[i] = static_cast<unsigned char>(v >> (8 * i));
  h.write(buf, 8);
}

void hash_feed(SipHasher13& h, std::int64_t v) { hash_feed_u64(h, static_cast<std::uint64_t>(v)); }

void hash_feed(SipHasher13& h, const NetlistPort& p) { hash_feed(h, std::string_view(p.name)); }

void hash_feed(SipHasher13& h, const PortRef& p) {
  hash_feed(h, std::string_view(p.instance));
  hash_feed(h, std::string_view(p.port));
}

void hash_feed(SipHasher13& h, const PortArrayRef& p) {
  hash_feed(h, std::string_view(p.instance));
  hash_feed(h, std::string_view(p.port));
  hash_feed(h, p.ia);
  hash_feed(h, p.ib);
}

void hash_feed(SipHasher13& h, const NetMember& m) {
  hash_feed_u64(h, static_cast<std::uint64_t>(m.index()));
  std::visit([&h](const auto& v) { hash_feed(h, v); }, m);
}

void hash_feed(SipHasher13& h, const Net& n) {
  hash_feed_u64(h, static_cast<std::uint64_t>(n.members.size()));
  for (const NetMember& m : n.members) hash_feed(h, m);
}

void hash_feed(SipHasher13& h, const NetlistArray& a) {
  hash_feed(h, a.na);
  hash_feed(h, a.nb);
}

namespace {

struct ProcessKeys {
  std::uint64_t k0, k1;
  ProcessKeys() {
    std::random_device rd;
    const auto draw = [&rd] { return (static_cast<std::uint64_t>(rd()) << 32) ^ rd(); };
    k0 = draw();
    k1 = draw();
  }
};

const ProcessKeys& process_keys() {
  static const ProcessKeys keys;
  return keys;
}

// The digest of `value` under the process keys.
template <class T>
std::size_t process_digest(const T& value) {
  const ProcessKeys& k = process_keys();
  SipHasher13 h(k.k0, k.k1);
  hash_feed(h, value);
  return static_cast<std::size_t>(h.finish());
}

}  // namespace

std::uint64_t process_hash_key0() { return process_keys().k0; }
std::uint64_t process_hash_key1() { return process_keys().k1; }

std::size_t MemberHash::operator()(const NetMember& m) const { return process_digest(m); }
std::size_t NetHash::operator()(const Net& n) const { return process_digest(n); }

}  // namespace vondrel
