// Little-endian fields put into bytes, as every structure of the file stores its numbers.
#pragma once

#include "tools/pstwriter/Ndb.h"

#include <cstdint>

namespace lumivex::pst {

inline void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void Append(Bytes& out, const Bytes& in) {
  out.insert(out.end(), in.begin(), in.end());
}

}  // namespace lumivex::pst
