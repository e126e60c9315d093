#include "tools/pstgen/Contact.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include <QString>
#include <map>
#include <optional>

namespace lumivex::pstgen {

namespace {

using pst::kPsetidAddress;
using pst::kPsPublicStrings;
using pst::MessageProperty;
using pst::PropertyKey;

// How a field's text is stored: as a string, a list of strings, a date typed in local time, an
// instant in UTC, hex bytes, RTF text compressed, or one of a few named numbers.
enum class Kind { kString, kStrings, kDate, kTime, kHex, kRtf, kGender, kMailing };

struct Field {
  const char* name;
  Kind kind;
  PropertyKey key;
  const char* what;
};

const std::vector<Field>& Fields() {
  static const std::vector<Field> fields = {
      {"FirstName", Kind::kString, PropertyKey::Tagged(0x3A06), "0x3A06 given name"},
      {"LastName", Kind::kString, PropertyKey::Tagged(0x3A11), "0x3A11 surname"},
      {"MiddleName", Kind::kString, PropertyKey::Tagged(0x3A44), "0x3A44"},
      {"FullName", Kind::kString, PropertyKey::Tagged(0x3001), "0x3001 display name"},
      {"Title", Kind::kString, PropertyKey::Tagged(0x3A45), "0x3A45 display-name prefix"},
      {"Suffix", Kind::kString, PropertyKey::Tagged(0x3A05), "0x3A05 generation"},
      {"Nickname", Kind::kString, PropertyKey::Tagged(0x3A4F), "0x3A4F"},
      {"Initials", Kind::kString, PropertyKey::Tagged(0x3A0A), "0x3A0A"},
      {"CompanyName", Kind::kString, PropertyKey::Tagged(0x3A16), "0x3A16"},
      {"Department", Kind::kString, PropertyKey::Tagged(0x3A18), "0x3A18"},
      {"JobTitle", Kind::kString, PropertyKey::Tagged(0x3A17), "0x3A17"},
      {"OfficeLocation", Kind::kString, PropertyKey::Tagged(0x3A19), "0x3A19"},
      {"Subject", Kind::kString, PropertyKey::Tagged(0x0037), "0x0037"},
      {"Body", Kind::kString, PropertyKey::Tagged(0x1000), "0x1000 plain-text body"},
      {"BusinessTelephoneNumber", Kind::kString, PropertyKey::Tagged(0x3A08), "0x3A08"},
      {"HomeTelephoneNumber", Kind::kString, PropertyKey::Tagged(0x3A09), "0x3A09"},
      {"MobileTelephoneNumber", Kind::kString, PropertyKey::Tagged(0x3A1C), "0x3A1C"},
      {"PagerNumber", Kind::kString, PropertyKey::Tagged(0x3A21), "0x3A21"},
      {"BusinessFaxNumber", Kind::kString, PropertyKey::Tagged(0x3A24), "0x3A24"},
      {"HomeFaxNumber", Kind::kString, PropertyKey::Tagged(0x3A25), "0x3A25"},
      {"BusinessAddressStreet", Kind::kString, PropertyKey::Numbered(kPsetidAddress, 0x8045),
       "named PSETID_Address 0x8045"},
      {"BusinessAddressCity", Kind::kString, PropertyKey::Numbered(kPsetidAddress, 0x8046),
       "named PSETID_Address 0x8046"},
      {"BusinessAddressState", Kind::kString, PropertyKey::Numbered(kPsetidAddress, 0x8047),
       "named PSETID_Address 0x8047"},
      {"BusinessAddressPostalCode", Kind::kString, PropertyKey::Numbered(kPsetidAddress, 0x8048),
       "named PSETID_Address 0x8048"},
      {"BusinessAddressCountry", Kind::kString, PropertyKey::Numbered(kPsetidAddress, 0x8049),
       "named PSETID_Address 0x8049"},
      {"HomeAddressStreet", Kind::kString, PropertyKey::Tagged(0x3A5D), "0x3A5D"},
      {"HomeAddressCity", Kind::kString, PropertyKey::Tagged(0x3A59), "0x3A59"},
      {"HomeAddressState", Kind::kString, PropertyKey::Tagged(0x3A5C), "0x3A5C"},
      {"HomeAddressPostalCode", Kind::kString, PropertyKey::Tagged(0x3A5B), "0x3A5B"},
      {"HomeAddressCountry", Kind::kString, PropertyKey::Tagged(0x3A5A), "0x3A5A"},
      {"WebPage", Kind::kString, PropertyKey::Numbered(kPsetidAddress, 0x802B),
       "named PSETID_Address 0x802B, copied to 0x3A51"},
      {"Birthday", Kind::kDate, PropertyKey::Tagged(0x3A42), "0x3A42, local date in 0x80DE"},
      {"Anniversary", Kind::kDate, PropertyKey::Tagged(0x3A41), "0x3A41, local date in 0x80DF"},
      {"Email1Address", Kind::kString, PropertyKey::Numbered(kPsetidAddress, 0x8083),
       "named 0x8083, type 0x8082, display name 0x8080"},
      {"Email2Address", Kind::kString, PropertyKey::Numbered(kPsetidAddress, 0x8093),
       "named 0x8093, type 0x8092, display name 0x8090"},
      {"Email3Address", Kind::kString, PropertyKey::Numbered(kPsetidAddress, 0x80A3),
       "named 0x80A3, type 0x80A2, display name 0x80A0"},
      {"Email1AddressType", Kind::kString, PropertyKey::Numbered(kPsetidAddress, 0x8082),
       "named 0x8082 (default \"SMTP\")"},
      {"Email2AddressType", Kind::kString, PropertyKey::Numbered(kPsetidAddress, 0x8092),
       "named 0x8092"},
      {"Email3AddressType", Kind::kString, PropertyKey::Numbered(kPsetidAddress, 0x80A2),
       "named 0x80A2"},
      {"Email1DisplayName", Kind::kString, PropertyKey::Numbered(kPsetidAddress, 0x8080),
       "named 0x8080"},
      {"Email2DisplayName", Kind::kString, PropertyKey::Numbered(kPsetidAddress, 0x8090),
       "named 0x8090"},
      {"Email3DisplayName", Kind::kString, PropertyKey::Numbered(kPsetidAddress, 0x80A0),
       "named 0x80A0"},
      {"FileAs", Kind::kString, PropertyKey::Numbered(kPsetidAddress, 0x8005),
       "named 0x8005 (default \"Last, First\")"},
      {"ManagerName", Kind::kString, PropertyKey::Tagged(0x3A4E), "0x3A4E"},
      {"AssistantName", Kind::kString, PropertyKey::Tagged(0x3A30), "0x3A30"},
      {"Spouse", Kind::kString, PropertyKey::Tagged(0x3A48), "0x3A48"},
      {"Children", Kind::kStrings, PropertyKey::Tagged(0x3A58), "0x3A58, a list of strings"},
      {"Categories", Kind::kStrings, PropertyKey::Named(kPsPublicStrings, "Keywords"),
       "string-named \"Keywords\" in PS_PUBLIC_STRINGS, a list of strings"},
      // Further fields of the contact form.
      {"NickName", Kind::kString, PropertyKey::Tagged(0x3A4F), "0x3A4F (same as Nickname)"},
      {"Profession", Kind::kString, PropertyKey::Tagged(0x3A46), "0x3A46"},
      {"Gender", Kind::kGender, PropertyKey::Tagged(0x3A4D),
       "0x3A4D: \"Unspecified\", \"Female\" or \"Male\""},
      {"IMAddress", Kind::kString, PropertyKey::Numbered(kPsetidAddress, 0x8062),
       "named 0x8062, instant-messaging address"},
      {"InternetFreeBusyAddress", Kind::kString, PropertyKey::Numbered(kPsetidAddress, 0x80D8),
       "named 0x80D8, free/busy URL"},
      {"PersonalHomePage", Kind::kString, PropertyKey::Tagged(0x3A50), "0x3A50"},
      {"Business2TelephoneNumber", Kind::kString, PropertyKey::Tagged(0x3A1B), "0x3A1B"},
      {"Home2TelephoneNumber", Kind::kString, PropertyKey::Tagged(0x3A2F), "0x3A2F"},
      {"CarTelephoneNumber", Kind::kString, PropertyKey::Tagged(0x3A1E), "0x3A1E"},
      {"OtherFaxNumber", Kind::kString, PropertyKey::Tagged(0x3A23), "0x3A23 primary fax"},
      {"AssistantTelephoneNumber", Kind::kString, PropertyKey::Tagged(0x3A2E), "0x3A2E"},
      {"CallbackTelephoneNumber", Kind::kString, PropertyKey::Tagged(0x3A02), "0x3A02"},
      {"CompanyMainTelephoneNumber", Kind::kString, PropertyKey::Tagged(0x3A57), "0x3A57"},
      {"ISDNNumber", Kind::kString, PropertyKey::Tagged(0x3A2D), "0x3A2D"},
      {"OtherTelephoneNumber", Kind::kString, PropertyKey::Tagged(0x3A1F), "0x3A1F"},
      {"PrimaryTelephoneNumber", Kind::kString, PropertyKey::Tagged(0x3A1A), "0x3A1A"},
      {"RadioTelephoneNumber", Kind::kString, PropertyKey::Tagged(0x3A1D), "0x3A1D"},
      {"TelexNumber", Kind::kString, PropertyKey::Tagged(0x3A2C), "0x3A2C"},
      {"TTYTDDTelephoneNumber", Kind::kString, PropertyKey::Tagged(0x3A4B), "0x3A4B"},
      {"BusinessAddressPostOfficeBox", Kind::kString, PropertyKey::Numbered(kPsetidAddress, 0x804A),
       "named PSETID_Address 0x804A"},
      {"HomeAddressPostOfficeBox", Kind::kString, PropertyKey::Tagged(0x3A5E), "0x3A5E"},
      {"OtherAddressStreet", Kind::kString, PropertyKey::Tagged(0x3A63), "0x3A63"},
      {"OtherAddressPostOfficeBox", Kind::kString, PropertyKey::Tagged(0x3A64), "0x3A64"},
      {"OtherAddressCity", Kind::kString, PropertyKey::Tagged(0x3A5F), "0x3A5F"},
      {"OtherAddressState", Kind::kString, PropertyKey::Tagged(0x3A62), "0x3A62"},
      {"OtherAddressPostalCode", Kind::kString, PropertyKey::Tagged(0x3A61), "0x3A61"},
      {"OtherAddressCountry", Kind::kString, PropertyKey::Tagged(0x3A60), "0x3A60"},
      {"SelectedMailingAddress", Kind::kMailing, PropertyKey::Numbered(kPsetidAddress, 0x8022),
       "named 0x8022: \"None\", \"Home\", \"Business\" or \"Other\", copied to 0x3A26-0x3A2B "
       "(default: business, else home, else other)"},
      {"Email1OriginalDisplayName", Kind::kString, PropertyKey::Numbered(kPsetidAddress, 0x8084),
       "named 0x8084: for an \"EX\" entry its SMTP address (default: the address)"},
      {"Email2OriginalDisplayName", Kind::kString, PropertyKey::Numbered(kPsetidAddress, 0x8094),
       "named 0x8094"},
      {"Email3OriginalDisplayName", Kind::kString, PropertyKey::Numbered(kPsetidAddress, 0x80A4),
       "named 0x80A4"},
      {"RTFBody", Kind::kRtf, PropertyKey::Tagged(0x1009),
       "0x1009: RTF text, stored LZFu-compressed (0x0E1F set)"},
      {"SearchKey", Kind::kHex, PropertyKey::Tagged(0x300B), "0x300B, hex bytes"},
      {"CreationTime", Kind::kTime, PropertyKey::Tagged(0x3007),
       "0x3007, YYYY-MM-DDThh:mm:ssZ (default: the store's time)"},
      {"LastModificationTime", Kind::kTime, PropertyKey::Tagged(0x3008),
       "0x3008, YYYY-MM-DDThh:mm:ssZ (default: the store's time)"},
      {"DLName", Kind::kString, PropertyKey::Numbered(kPsetidAddress, 0x8053),
       "named 0x8053, the name of a distribution list"},
      {"DLMembers", Kind::kStrings, PropertyKey::Numbered(kPsetidAddress, 0x8055),
       "named 0x8055 and 0x8054, a list of \"Name <address>\" one-off members"},
  };
  return fields;
}

const Field* Find(const std::string& name) {
  for (const Field& f : Fields())
    if (name == f.name) return &f;
  return nullptr;
}

MessageProperty Str(const PropertyKey& key, const std::string& s) {
  return {key, pst::kPtString, pst::value::Utf16(s)};
}

// A one-off entry id: an address that lives in the item itself, not in an address book.
pst::Bytes OneOffEntryId(const std::string& member) {
  std::string name = member, address = member;
  const auto lt = member.find('<');
  const auto gt = member.rfind('>');
  if (lt != std::string::npos && gt != std::string::npos && gt > lt) {
    name = member.substr(0, lt);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    address = member.substr(lt + 1, gt - lt - 1);
  }
  pst::Bytes id(4, 0);
  const pst::Guid provider = pst::Guid::Parse("{A41F2B81-A3BE-1910-9D6E-00DD010F5402}");
  id.insert(id.end(), provider.bytes.begin(), provider.bytes.end());
  id.insert(id.end(), {0x00, 0x00, 0x00, 0x80});  // version 0, flags: Unicode strings
  for (const std::string& s : {name, std::string("SMTP"), address}) {
    const pst::Bytes u = pst::value::Utf16(s);
    id.insert(id.end(), u.begin(), u.end());
    id.insert(id.end(), {0, 0});
  }
  return id;
}

bool ParseHex(const std::string& text, pst::Bytes& out) {
  if (text.size() % 2) return false;
  out.clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    unsigned v = 0;
    if (std::sscanf(text.c_str() + i, "%2x", &v) != 1 ||
        !std::isxdigit(static_cast<unsigned char>(text[i])) ||
        !std::isxdigit(static_cast<unsigned char>(text[i + 1])))
      return false;
    out.push_back(static_cast<uint8_t>(v));
  }
  return true;
}

// The position of `text` among `names`; throws naming the field and the names it takes.
int Choice(const std::string& field, const std::string& text, std::vector<std::string> names) {
  for (size_t i = 0; i < names.size(); ++i)
    if (text == names[i]) return static_cast<int>(i);
  std::string list;
  for (size_t i = 0; i < names.size(); ++i)
    list += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + ("\"" + names[i] + "\"");
  throw pst::PstError("field \"" + field + "\" is " + list + ", not \"" + text + "\"");
}

// An Exchange address-book entry id: the provider of the global address list, version 1,
// type 0 (a mail user), then the X.500 address, 8-bit and zero-ended.
pst::Bytes ExchangeEntryId(const std::string& x500) {
  pst::Bytes id(4, 0);
  const pst::Guid provider = pst::Guid::Parse("{C840A7DC-42C0-1A10-B4B9-08002B2FE182}");
  id.insert(id.end(), provider.bytes.begin(), provider.bytes.end());
  id.insert(id.end(), {1, 0, 0, 0, 0, 0, 0, 0});
  id.insert(id.end(), x500.begin(), x500.end());
  id.push_back(0);
  return id;
}

// What Outlook stores on the attachment object of a file.
pst::Attachment AttachmentOf(const FileAttachment& file, bool contact_photo) {
  using pst::value::Boolean;
  const std::string mime = file.mime_type.empty() ? MimeTypeOf(file.data) : file.mime_type;
  const auto dot = file.name.rfind('.');
  const std::string extension = dot == std::string::npos ? "" : file.name.substr(dot);
  pst::Attachment a;
  a.properties = {
      {PropertyKey::Tagged(0x3701), pst::kPtBinary, file.data},
      Str(PropertyKey::Tagged(0x3704), file.name),
      Str(PropertyKey::Tagged(0x3707), file.name),
      Str(PropertyKey::Tagged(0x3001), file.name),
      Str(PropertyKey::Tagged(0x370E), mime),
      {PropertyKey::Tagged(0x3705), pst::kPtInt32, pst::value::Int32(1)},
      {PropertyKey::Tagged(0x370B), pst::kPtInt32, pst::value::Int32(-1)},
      {PropertyKey::Tagged(0x7FFE), pst::kPtBoolean, Boolean(file.hidden || contact_photo)},
  };
  if (!extension.empty()) a.properties.push_back(Str(PropertyKey::Tagged(0x3703), extension));
  if (contact_photo)
    a.properties.push_back({PropertyKey::Tagged(0x7FFF), pst::kPtBoolean, Boolean(true)});
  return a;
}

}  // namespace

std::string MimeTypeOf(const pst::Bytes& d) {
  auto starts = [&](std::initializer_list<uint8_t> magic) {
    return d.size() >= magic.size() && std::equal(magic.begin(), magic.end(), d.begin());
  };
  if (starts({0xFF, 0xD8, 0xFF})) return "image/jpeg";
  if (starts({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) return "image/png";
  if (starts({'G', 'I', 'F', '8'})) return "image/gif";
  if (starts({'B', 'M'})) return "image/bmp";
  return "application/octet-stream";
}

std::string ExtensionOf(const std::string& mime_type) {
  if (mime_type == "image/jpeg") return ".jpg";
  if (mime_type == "image/png") return ".png";
  if (mime_type == "image/gif") return ".gif";
  if (mime_type == "image/bmp") return ".bmp";
  return "";
}

bool ParseDateTime(const std::string& text, int parts[6]) {
  for (int i = 0; i < 6; ++i) parts[i] = 0;
  char tail = 0;
  int n = 0;
  if (text.size() == 10) {
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &parts[0], &parts[1], &parts[2], &n) != 3 ||
        n != 10)
      return false;
  } else if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%n", &parts[0], &parts[1],
                         &parts[2], &parts[3], &parts[4], &parts[5], &tail, &n) != 7 ||
             tail != 'Z' || static_cast<size_t>(n) != text.size()) {
    return false;
  }
  return parts[0] >= 1601 && parts[0] <= 9999 && parts[1] >= 1 && parts[1] <= 12 && parts[2] >= 1 &&
         parts[2] <= 31 && parts[3] < 24 && parts[4] < 60 && parts[5] < 60;
}

std::string FieldTable() {
  std::string out;
  for (const Field& f : Fields()) {
    std::string line = "  " + std::string(f.name);
    line.resize(30, ' ');
    out += line + f.what + "\n";
  }
  return out;
}

bool IsKnownField(const std::string& name) {
  return Find(name) != nullptr;
}

namespace {

// A one-off entry id as Outlook writes it for a list member: Unicode strings, plain text, no
// rich content.
pst::Bytes MemberOneOff(const std::string& name, const std::string& type,
                        const std::string& address) {
  pst::Bytes id(4, 0);
  const pst::Guid provider = pst::Guid::Parse("{A41F2B81-A3BE-1910-9D6E-00DD010F5402}");
  id.insert(id.end(), provider.bytes.begin(), provider.bytes.end());
  id.insert(id.end(), {0x00, 0x00, 0x01, 0x90});  // version 0; flags 0x9001
  for (const std::string& s : {name, type, address}) {
    const pst::Bytes u = pst::value::Utf16(s);
    id.insert(id.end(), u.begin(), u.end());
    id.insert(id.end(), {0, 0});
  }
  return id;
}

// A wrapped entry id: the contact's entry id behind the provider of Outlook's contact entries
// and a type byte saying "a contact" (0x03), which of its e-mail addresses (4 + index, in bits
// 4-6) and that the entry is not a one-off (0x80).
pst::Bytes WrappedContactEntryId(const pst::Bytes& entry_id, int email) {
  pst::Bytes id = {0,    0,    0,    0,    0xC0, 0x91, 0xAD, 0xD3, 0x51, 0x9D,
                   0xCF, 0x11, 0xA4, 0xA9, 0x00, 0xAA, 0x00, 0x47, 0xFA, 0xA4};
  id.push_back(static_cast<uint8_t>(0x80 | ((3 + email) << 4) | 0x03));
  id.insert(id.end(), entry_id.begin(), entry_id.end());
  return id;
}

std::string TextOf(const pst::Message& m, uint32_t lid) {
  for (const MessageProperty& p : m.properties)
    if (p.key.IsNamed() && p.key.set == kPsetidAddress && p.key.number == lid &&
        p.type == pst::kPtString) {
      std::u16string u(p.value.size() / 2, u'\0');
      std::memcpy(u.data(), p.value.data(), u.size() * 2);
      return QString::fromStdU16String(u).toStdString();
    }
  return {};
}

}  // namespace

LinkedContact LinkedContactOf(const pst::Message& contact, pst::Bytes entry_id) {
  LinkedContact c;
  c.entry_id = std::move(entry_id);
  for (uint32_t i = 0; i < 3; ++i) {
    const uint32_t lid = 0x8080 + 0x10 * i;
    c.emails[i] = {TextOf(contact, lid), TextOf(contact, lid + 2), TextOf(contact, lid + 3)};
  }
  return c;
}

namespace {

// The string fields an item gives, for the values derived from them.
class Given {
 public:
  void Set(const std::string& name, const std::string& value) { text_[name] = value; }
  bool Has(const std::string& name) const { return text_.count(name) > 0; }
  std::string Get(const std::string& name) const {
    const auto it = text_.find(name);
    return it == text_.end() ? std::string() : it->second;
  }

 private:
  std::map<std::string, std::string> text_;
};

// A multi-valued field.
void AddList(pst::Message& m, const Field& f, const std::string& name,
             const std::vector<std::string>& list) {
  if (name == "DLMembers") {
    std::vector<pst::Bytes> ids;
    for (const std::string& member : list) ids.push_back(OneOffEntryId(member));
    m.properties.push_back(
        {f.key, pst::kPtBinary | pst::kPtMultiFlag, pst::value::MultiBinary(ids)});
    m.properties.push_back({PropertyKey::Numbered(kPsetidAddress, 0x8054),
                            pst::kPtBinary | pst::kPtMultiFlag, pst::value::MultiBinary(ids)});
  } else {
    m.properties.push_back(
        {f.key, pst::kPtString | pst::kPtMultiFlag, pst::value::MultiString(list)});
  }
}

// A date field: the moment in UTC, and beside it the day as typed.
void AddDate(pst::Message& m, const Field& f, const std::string& name, const std::string& s,
             const ContactOptions& options) {
  int p[6];
  if (!ParseDateTime(s, p))
    throw pst::PstError("field \"" + name + "\": \"" + s +
                        "\" is not a date (YYYY-MM-DD or YYYY-MM-DDThh:mm:ssZ)");
  const uint64_t local = pst::FileTime(p[0], p[1], p[2], p[3], p[4], p[5]);
  const int64_t shift = int64_t{options.utc_offset_minutes} * 60 * 10000000;
  m.properties.push_back(
      {f.key, pst::kPtTime, pst::value::Time(static_cast<uint64_t>(int64_t(local) - shift))});
  const uint32_t local_lid = name == "Birthday" ? 0x80DE : 0x80DF;
  m.properties.push_back({PropertyKey::Numbered(kPsetidAddress, local_lid), pst::kPtTime,
                          pst::value::Time(pst::FileTime(p[0], p[1], p[2]))});
}

// A single-valued field, by its kind.
void AddValue(pst::Message& m, const Field& f, const std::string& name, const std::string& s,
              const ContactOptions& options) {
  if (f.kind == Kind::kTime) {
    int p[6];
    if (!ParseDateTime(s, p))
      throw pst::PstError("field \"" + name + "\": \"" + s +
                          "\" is not a time (YYYY-MM-DDThh:mm:ssZ or YYYY-MM-DD)");
    m.properties.push_back(
        {f.key, pst::kPtTime, pst::value::Time(pst::FileTime(p[0], p[1], p[2], p[3], p[4], p[5]))});
  } else if (f.kind == Kind::kHex) {
    pst::Bytes bytes;
    if (!ParseHex(s, bytes))
      throw pst::PstError("field \"" + name + "\": bytes are written in hex, like \"0a1b2c\"");
    m.properties.push_back({f.key, pst::kPtBinary, bytes});
  } else if (f.kind == Kind::kRtf) {
    m.properties.push_back({f.key, pst::kPtBinary, pst::value::CompressedRtf(s)});
    m.properties.push_back(
        {PropertyKey::Tagged(0x0E1F), pst::kPtBoolean, pst::value::Boolean(true)});
  } else if (f.kind == Kind::kGender) {
    const int code = Choice(name, s, {"Unspecified", "Female", "Male"});
    m.properties.push_back({f.key, pst::kPtInt16, pst::value::Int16(static_cast<int16_t>(code))});
  } else if (f.kind == Kind::kMailing) {
    Choice(name, s, {"None", "Home", "Business", "Other"});  // written with the addresses
  } else if (f.kind == Kind::kDate) {
    AddDate(m, f, name, s, options);
  } else {
    m.properties.push_back(Str(f.key, s));
  }
}

// The item's fields as given; the string ones kept in `given`.
void AddFields(pst::Message& m, const Item& item, const ContactOptions& options, Given& given) {
  for (const auto& [name, value] : item.fields) {
    const Field* f = Find(name);
    if (!f) throw pst::PstError("unknown field \"" + name + "\"");
    const bool is_list = std::holds_alternative<std::vector<std::string>>(value);
    if (is_list != (f->kind == Kind::kStrings))
      throw pst::PstError("field \"" + name + "\" takes " +
                          (f->kind == Kind::kStrings ? "a list of strings" : "a string"));
    if (f->kind == Kind::kStrings) {
      AddList(m, *f, name, std::get<std::vector<std::string>>(value));
      continue;
    }
    const std::string& s = std::get<std::string>(value);
    given.Set(name, s);
    AddValue(m, *f, name, s, options);
  }
}

// The attachments, and the picture as Outlook keeps it: a hidden attachment flagged as the
// contact photo, named ContactPicture.jpg (the extension follows the picture's own format here).
void AddAttachments(pst::Message& m, const Item& item) {
  for (const FileAttachment& file : item.attachments)
    m.attachments.push_back(AttachmentOf(file, false));
  if (item.picture.empty()) return;
  FileAttachment photo;
  photo.data = item.picture;
  photo.mime_type = MimeTypeOf(item.picture);
  const std::string extension = ExtensionOf(photo.mime_type);
  photo.name = "ContactPicture" + (extension.empty() ? std::string(".jpg") : extension);
  m.attachments.push_back(AttachmentOf(photo, true));
  m.properties.push_back(
      {PropertyKey::Numbered(kPsetidAddress, 0x8015), pst::kPtBoolean, pst::value::Boolean(true)});
}

// The display name and subject, unless given. The full name.
std::string AddNames(pst::Message& m, const Given& given, bool dist_list) {
  std::string full = given.Get("FullName");
  if (!given.Has("FullName")) {
    for (const char* part : {"Title", "FirstName", "MiddleName", "LastName", "Suffix"}) {
      const std::string v = given.Get(part);
      if (v.empty()) continue;
      if (!full.empty()) full += " ";
      full += v;
    }
    if (full.empty() && dist_list) full = given.Get("DLName");
    if (full.empty()) full = given.Get("CompanyName");
    if (!full.empty()) m.properties.push_back(Str(PropertyKey::Tagged(0x3001), full));
  }
  if (!given.Has("Subject") && !full.empty())
    m.properties.push_back(Str(PropertyKey::Tagged(0x0037), full));
  return full;
}

// A list's members, each twice in the same order: as the entry the list points at (a contact of
// the store, or the one-off address itself) and as a one-off entry with its name and address.
void AddMembers(pst::Message& m, const Item& item, const ContactLookup& lookup) {
  std::vector<pst::Bytes> entries, one_offs;
  for (size_t i = 0; i < item.members.size(); ++i) {
    const Item::Member& member = item.members[i];
    const std::string where = "members[" + std::to_string(i) + "]: ";
    if (member.label.empty()) {
      if (member.address.empty()) throw pst::PstError(where + "a one-off member needs \"address\"");
      one_offs.push_back(MemberOneOff(member.name.empty() ? member.address : member.name,
                                      member.address_type, member.address));
      entries.push_back(one_offs.back());
      continue;
    }
    if (!lookup) throw pst::PstError(where + "linked members need the store's other items");
    if (member.email < 1 || member.email > 3) throw pst::PstError(where + "\"email\" is 1, 2 or 3");
    const LinkedContact contact = lookup(member.label);
    const LinkedContact::Email& email = contact.emails[member.email - 1];
    if (email.address.empty())
      throw pst::PstError(where + "\"" + member.label + "\" has no e-mail address " +
                          std::to_string(member.email));
    entries.push_back(WrappedContactEntryId(contact.entry_id, member.email));
    one_offs.push_back(MemberOneOff(email.display_name, email.type, email.address));
  }
  // The checksum is the CRC-32 of the member entries, one after another.
  uint32_t crc = 0xFFFFFFFFu;
  for (const pst::Bytes& e : entries) crc = pst::Crc32(e, crc);
  m.properties.push_back({PropertyKey::Numbered(kPsetidAddress, 0x8055),
                          pst::kPtBinary | pst::kPtMultiFlag, pst::value::MultiBinary(entries)});
  m.properties.push_back({PropertyKey::Numbered(kPsetidAddress, 0x8054),
                          pst::kPtBinary | pst::kPtMultiFlag, pst::value::MultiBinary(one_offs)});
  m.properties.push_back({PropertyKey::Numbered(kPsetidAddress, 0x804C), pst::kPtInt32,
                          pst::value::Int32(static_cast<int32_t>(~crc))});
}

// An address as one text: street, post office box, "city state postal code", country.
std::string Formatted(const Given& given, const std::string& prefix) {
  const std::string street = given.Get(prefix + "Street");
  const std::string box = given.Get(prefix + "PostOfficeBox");
  const std::string city = given.Get(prefix + "City");
  const std::string state = given.Get(prefix + "State");
  const std::string postal = given.Get(prefix + "PostalCode");
  const std::string country = given.Get(prefix + "Country");
  std::string line2 = city;
  for (const std::string* part : {&state, &postal})
    if (!part->empty()) line2 += (line2.empty() ? "" : " ") + *part;
  std::string out = street;
  for (const std::string* line : {&box, static_cast<const std::string*>(&line2), &country})
    if (!line->empty()) out += (out.empty() ? "" : "\r\n") + *line;
  return out;
}

// Each address also as one formatted text, and the selected mailing address (by default the
// business address, else the home address, else the other one) copied to the mailing address
// fields, as Outlook keeps them.
void AddAddresses(pst::Message& m, const Given& given) {
  const std::string work = Formatted(given, "BusinessAddress");
  const std::string home = Formatted(given, "HomeAddress");
  const std::string other = Formatted(given, "OtherAddress");
  if (!work.empty())
    m.properties.push_back(Str(PropertyKey::Numbered(kPsetidAddress, 0x801B), work));
  if (!home.empty())
    m.properties.push_back(Str(PropertyKey::Numbered(kPsetidAddress, 0x801A), home));
  if (!other.empty())
    m.properties.push_back(Str(PropertyKey::Numbered(kPsetidAddress, 0x801C), other));
  int selected = !work.empty() ? 2 : !home.empty() ? 1 : !other.empty() ? 3 : 0;
  if (given.Has("SelectedMailingAddress"))
    selected = Choice("SelectedMailingAddress", given.Get("SelectedMailingAddress"),
                      {"None", "Home", "Business", "Other"});
  if (selected != 0) {
    const char* kPrefixes[] = {"", "HomeAddress", "BusinessAddress", "OtherAddress"};
    const std::string prefix = kPrefixes[selected];
    const std::pair<const char*, uint16_t> mailing[] = {
        {"Street", 0x3A29},     {"City", 0x3A27},    {"State", 0x3A28},
        {"PostalCode", 0x3A2A}, {"Country", 0x3A26}, {"PostOfficeBox", 0x3A2B}};
    for (const auto& [part, id] : mailing) {
      const std::string v = given.Get(prefix + part);
      if (!v.empty()) m.properties.push_back(Str(PropertyKey::Tagged(id), v));
    }
    const std::string& text_form = selected == 1 ? home : selected == 2 ? work : other;
    m.properties.push_back(Str(PropertyKey::Tagged(0x3A15), text_form));
  }
  if (selected != 0 || given.Has("SelectedMailingAddress"))
    m.properties.push_back({PropertyKey::Numbered(kPsetidAddress, 0x8022), pst::kPtInt32,
                            pst::value::Int32(selected)});
}

// Which e-mail entries the contact offers to the address book, and each entry's type, display
// name and original address unless given.
void AddEmails(pst::Message& m, const Given& given, const std::string& full) {
  const char* kEmail[] = {"Email1", "Email2", "Email3"};
  std::vector<pst::Bytes> email_list;
  int32_t email_mask = 0;
  for (int i = 0; i < 3; ++i)
    if (!given.Get(std::string(kEmail[i]) + "Address").empty()) {
      email_list.push_back(pst::value::Int32(i));
      email_mask |= 1 << i;
    }
  if (email_mask) {
    m.properties.push_back({PropertyKey::Numbered(kPsetidAddress, 0x8028),
                            pst::kPtInt32 | pst::kPtMultiFlag, pst::value::MultiFixed(email_list)});
    m.properties.push_back({PropertyKey::Numbered(kPsetidAddress, 0x8029), pst::kPtInt32,
                            pst::value::Int32(email_mask)});
  }
  for (int i = 0; i < 3; ++i) {
    const std::string base = kEmail[i];
    const std::string address = given.Get(base + "Address");
    if (address.empty()) continue;
    const uint32_t lid = 0x8080 + 0x10 * static_cast<uint32_t>(i);
    if (!given.Has(base + "AddressType"))
      m.properties.push_back(Str(PropertyKey::Numbered(kPsetidAddress, lid + 2), "SMTP"));
    // An Exchange ("EX") entry holds an X.500 address; the form people know is in its
    // original display name, and its address-book entry id beside it.
    const std::string original = given.Get(base + "OriginalDisplayName");
    const std::string shown = original.empty() ? address : original;
    if (!given.Has(base + "DisplayName"))
      m.properties.push_back(Str(PropertyKey::Numbered(kPsetidAddress, lid),
                                 full.empty() ? shown : full + " (" + shown + ")"));
    if (original.empty())
      m.properties.push_back(Str(PropertyKey::Numbered(kPsetidAddress, lid + 4), address));
    if (given.Get(base + "AddressType") == "EX")
      m.properties.push_back({PropertyKey::Numbered(kPsetidAddress, lid + 5), pst::kPtBinary,
                              ExchangeEntryId(address)});
  }
}

}  // namespace

pst::Message ToMessage(const Item& item, const ContactOptions& options,
                       const ContactLookup& lookup) {
  pst::Message m;
  m.message_class = item.message_class;
  Given given;
  AddFields(m, item, options, given);
  for (const MessageProperty& p : item.properties) m.properties.push_back(p);
  AddAttachments(m, item);

  const bool contact = item.message_class.rfind("IPM.Contact", 0) == 0;
  const bool dist_list = item.message_class.rfind("IPM.DistList", 0) == 0;
  if (!contact && !dist_list) return m;
  // What Outlook derives when it saves a contact, unless given.
  const std::string full = AddNames(m, given, dist_list);
  if (dist_list && !item.members.empty()) {
    if (given.Has("DLMembers"))
      throw pst::PstError("a list takes \"members\" or \"DLMembers\", not both");
    AddMembers(m, item, lookup);
    if (!given.Has("FileAs") && !full.empty())
      m.properties.push_back(Str(PropertyKey::Numbered(kPsetidAddress, 0x8005), full));
  }
  if (dist_list) return m;
  if (!given.Has("FileAs")) {
    std::string file_as = given.Get("LastName");
    if (!given.Get("FirstName").empty())
      file_as += (file_as.empty() ? "" : ", ") + given.Get("FirstName");
    if (file_as.empty()) file_as = full;
    if (!file_as.empty())
      m.properties.push_back(Str(PropertyKey::Numbered(kPsetidAddress, 0x8005), file_as));
  }
  if (given.Has("WebPage"))
    m.properties.push_back(Str(PropertyKey::Tagged(0x3A51), given.Get("WebPage")));
  AddAddresses(m, given);
  AddEmails(m, given, full);
  return m;
}

}  // namespace lumivex::pstgen
