#include "tools/pstwriter/CompressedRtf.h"

#include "tools/pstwriter/LittleEndian.h"

#include <cstring>

namespace lumivex::pst::value {

Bytes CompressedRtf(std::string_view rtf) {
  // The dictionary every LZFu stream starts from; references point into a 4096-byte ring that
  // holds it followed by the text as it is produced.
  static constexpr char kPrebuf[] =
      "{\\rtf1\\ansi\\mac\\deff0\\deftab720{\\fonttbl;}{\\f0\\fnil \\froman \\fswiss "
      "\\fmodern \\fscript \\fdecor MS Sans SerifSymbolArialTimes New RomanCourier"
      "{\\colortbl\\red0\\green0\\blue0\r\n\\par \\pard\\plain\\f0\\fs20\\b\\i\\u\\tab\\tx";
  static_assert(sizeof(kPrebuf) - 1 == 207);
  constexpr size_t kRing = 4096, kMaxMatch = 17;
  uint8_t ring[kRing] = {};
  std::memcpy(ring, kPrebuf, 207);
  size_t write = 207, filled = 207;
  const auto* in = reinterpret_cast<const uint8_t*>(rtf.data());
  const size_t n = rtf.size();
  auto put = [&](uint8_t c) {
    ring[write] = c;
    write = (write + 1) % kRing;
    filled = std::min(filled + 1, kRing);
  };
  Bytes body;
  size_t i = 0;
  for (bool done = false; !done;) {
    const size_t control = body.size();
    body.push_back(0);
    for (int bit = 0; bit < 8; ++bit) {
      if (i == n) {
        // The end: a reference to the position about to be written.
        body[control] |= static_cast<uint8_t>(1 << bit);
        body.push_back(static_cast<uint8_t>(write >> 4));
        body.push_back(static_cast<uint8_t>((write & 0xF) << 4));
        done = true;
        break;
      }
      // The longest earlier run equal to what follows; a run may overlap what it produces,
      // as the reader copies it byte by byte.
      size_t best = 0, best_from = 0;
      const size_t limit = std::min(kMaxMatch, n - i);
      const size_t farthest = filled == kRing ? kRing - 1 : filled;
      for (size_t back = 1; back <= farthest && best < limit; ++back) {
        const size_t from = (write + kRing - back) % kRing;
        size_t len = 0;
        while (len < limit) {
          const uint8_t c = len < back ? ring[(from + len) % kRing] : in[i + len - back];
          if (c != in[i + len]) break;
          ++len;
        }
        if (len > best) {
          best = len;
          best_from = from;
        }
      }
      if (best >= 2) {
        body[control] |= static_cast<uint8_t>(1 << bit);
        const auto ref = static_cast<uint16_t>((best_from << 4) | (best - 2));
        body.push_back(static_cast<uint8_t>(ref >> 8));
        body.push_back(static_cast<uint8_t>(ref));
        for (size_t k = 0; k < best; ++k) put(in[i + k]);
        i += best;
      } else {
        body.push_back(in[i]);
        put(in[i]);
        ++i;
      }
    }
  }
  Bytes out(16);
  Put32(out.data(), static_cast<uint32_t>(body.size() + 12));
  Put32(out.data() + 4, static_cast<uint32_t>(n));
  std::memcpy(out.data() + 8, "LZFu", 4);
  Put32(out.data() + 12, Crc32(body));
  Append(out, body);
  return out;
}

}  // namespace lumivex::pst::value
