#include "common/NameUuid.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__) && !defined(LUMIVEX_SHA1_PORTABLE)
#include <cpuid.h>
#include <immintrin.h>
#endif

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

#if defined(__x86_64__) && !defined(LUMIVEX_SHA1_PORTABLE)
// The same block through the processor's SHA instructions (x86 SHA extensions), about a quarter
// of the loop's time. Each sha1rnds4 does four rounds; the message is taken four words at a time,
// w[g] = sha1msg2(sha1msg1(w[g-4], w[g-3]) ^ w[g-2], w[g-1]).
template <int F>
__attribute__((target("sha,ssse3,sse4.1"))) void Sha1Groups(__m128i& abcd, __m128i& before,
                                                            const __m128i* w, int from, int to) {
  for (int g = from; g < to; ++g) {
    const __m128i e = _mm_sha1nexte_epu32(before, w[g]);
    before = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e, F);
  }
}

__attribute__((target("sha,ssse3,sse4.1"))) void Sha1BlockWithShaInstructions(
    uint32_t state[5], const uint8_t* block) {
  const __m128i byteOrder = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i w[20];
  for (int g = 0; g < 4; ++g)
    w[g] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * g)),
                            byteOrder);
  for (int g = 4; g < 20; ++g)
    w[g] = _mm_sha1msg2_epu32(_mm_xor_si128(_mm_sha1msg1_epu32(w[g - 4], w[g - 3]), w[g - 2]),
                              w[g - 1]);
  const __m128i abcdIn =
      _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
  const __m128i eIn = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
  __m128i before = abcdIn;
  __m128i abcd = _mm_sha1rnds4_epu32(abcdIn, _mm_add_epi32(eIn, w[0]), 0);
  Sha1Groups<0>(abcd, before, w, 1, 5);
  Sha1Groups<1>(abcd, before, w, 5, 10);
  Sha1Groups<2>(abcd, before, w, 10, 15);
  Sha1Groups<3>(abcd, before, w, 15, 20);
  const __m128i e = _mm_sha1nexte_epu32(before, eIn);
  abcd = _mm_shuffle_epi32(_mm_add_epi32(abcd, abcdIn), 0x1B);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), abcd);
  state[4] = static_cast<uint32_t>(_mm_extract_epi32(e, 3));
}

// The block function for this processor, chosen once.
using BlockFunction = void (*)(uint32_t state[5], const uint8_t* block);
BlockFunction ChooseBlockFunction() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  const bool sse = __get_cpuid(1, &a, &b, &c, &d) && (c & bit_SSSE3) && (c & bit_SSE4_1);
  const bool sha = __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_SHA);
  return sse && sha ? &Sha1BlockWithShaInstructions : &Sha1Block;
}
const BlockFunction kBlock = ChooseBlockFunction();
#else
constexpr auto kBlock = &Sha1Block;
#endif

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
    kBlock(state, block);
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
    kBlock(state, block);
    used = 0;
  }
  std::memset(block + used, 0, 56 - used);
  for (int i = 0; i < 8; ++i) block[56 + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  kBlock(state, block);

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
