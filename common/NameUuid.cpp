#include "common/NameUuid.h"

#include <bit>
#include <cstring>

namespace lumivex {

namespace {

uint32_t LoadBigEndian(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// One 64-byte block into the SHA-1 state (FIPS 180-4), as a loop rather than 80 unrolled rounds:
// a few hundred bytes of code, which stay in the instruction cache beside the rest of the
// per-contact work.
void Sha1Block(uint32_t state[5], const uint8_t* block) {
  uint32_t w[16];
  for (int i = 0; i < 16; ++i) w[i] = LoadBigEndian(block + 4 * i);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  for (int i = 0; i < 80; ++i) {
    if (i >= 16) {
      const uint32_t x = w[(i + 13) & 15] ^ w[(i + 8) & 15] ^ w[(i + 2) & 15] ^ w[i & 15];
      w[i & 15] = std::rotl(x, 1);
    }
    uint32_t f, k;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDC;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6;
    }
    const uint32_t t = std::rotl(a, 5) + f + e + k + w[i & 15];
    e = d;
    d = c;
    c = std::rotl(b, 30);
    b = a;
    a = t;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
}

}  // namespace

void NameUuidInto(QString& out, const UuidBytes& space, QByteArrayView name) {
  uint32_t state[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  uint8_t block[64];
  size_t used = space.size();
  std::memcpy(block, space.data(), used);
  const auto* p = reinterpret_cast<const uint8_t*>(name.data());
  size_t left = static_cast<size_t>(name.size());
  const uint64_t bits = (uint64_t(space.size()) + left) * 8;
  while (used + left >= 64) {
    const size_t take = 64 - used;
    std::memcpy(block + used, p, take);
    Sha1Block(state, block);
    p += take;
    left -= take;
    used = 0;
  }
  if (left > 0) std::memcpy(block + used, p, left);
  used += left;
  // The padding: a one bit, zeros, and the length in bits in the last eight bytes.
  block[used++] = 0x80;
  if (used > 56) {
    std::memset(block + used, 0, 64 - used);
    Sha1Block(state, block);
    used = 0;
  }
  std::memset(block + used, 0, 56 - used);
  for (int i = 0; i < 8; ++i) block[56 + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  Sha1Block(state, block);

  // The first 16 bytes of the hash, with the version (5) and the variant (10xx) set.
  uint8_t uuid[16];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) uuid[4 * i + j] = static_cast<uint8_t>(state[i] >> (24 - 8 * j));
  uuid[6] = static_cast<uint8_t>((uuid[6] & 0x0F) | 0x50);
  uuid[8] = static_cast<uint8_t>((uuid[8] & 0x3F) | 0x80);

  static constexpr char16_t kHex[] = u"0123456789abcdef";
  out.resize(36);
  char16_t* text = reinterpret_cast<char16_t*>(out.data());
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) *text++ = u'-';
    *text++ = kHex[uuid[i] >> 4];
    *text++ = kHex[uuid[i] & 15];
  }
}

}  // namespace lumivex
