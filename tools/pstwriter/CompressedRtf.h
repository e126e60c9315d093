// Compressed RTF as PidTagRtfCompressed keeps a body ([MS-OXRTFCP]): the text LZFu-compressed
// against the format's fixed dictionary, behind a 16-byte header.
#pragma once

#include "tools/pstwriter/Ndb.h"

#include <string_view>

namespace lumivex::pst::value {

// An RTF text as PidTagRtfCompressed (0x1009) holds it: LZFu-compressed behind the 16-byte
// header (sizes, "LZFu", checksum of the compressed bytes).
Bytes CompressedRtf(std::string_view rtf);

}  // namespace lumivex::pst::value
