// Text of an ANSI store: Unicode put in the store's Windows code page.
#pragma once

#include "tools/pstwriter/Ndb.h"

#include <cstdint>
#include <span>
#include <string_view>

namespace lumivex::pst {

// Unicode text put in a Windows code page (1252, 1251, 932...) through iconv, as ANSI stores keep
// their strings. Characters the code page lacks become "?". Text that is all ASCII is copied as
// it is: every Windows code page holds ASCII unchanged.
class CodePageText {
 public:
  // Throws PstError when the system has no converter for the code page.
  explicit CodePageText(uint32_t code_page);
  ~CodePageText();
  CodePageText(const CodePageText&) = delete;
  CodePageText& operator=(const CodePageText&) = delete;

  uint32_t CodePage() const { return code_page_; }
  Bytes FromUtf8(std::string_view utf8);  // throws PstError on malformed UTF-8
  Bytes FromUtf16(std::span<const uint8_t> utf16le);
  // Turns a PT_UNICODE or PT_MV_UNICODE value into the PT_STRING8 or PT_MV_STRING8 one of an
  // ANSI store; values of other types are left as they are.
  void ToString8(uint16_t& type, Bytes& value);

 private:
  uint32_t code_page_;
  void* converter_;  // iconv_t
};

}  // namespace lumivex::pst
