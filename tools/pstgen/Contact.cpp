#include "tools/pstgen/Contact.h"

#include <cstdio>
#include <map>
#include <optional>

namespace lumivex::pstgen {

namespace {

using pst::kPsetidAddress;
using pst::kPsPublicStrings;
using pst::MessageProperty;
using pst::PropertyKey;

enum class Kind { kString, kStrings, kDate };

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

}  // namespace

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

pst::Message ToMessage(const Item& item, const ContactOptions& options) {
  pst::Message m;
  m.message_class = item.message_class;
  std::map<std::string, std::string> text;  // string fields given, for the derived ones
  for (const auto& [name, value] : item.fields) {
    const Field* f = Find(name);
    if (!f) throw pst::PstError("unknown field \"" + name + "\"");
    const bool is_list = std::holds_alternative<std::vector<std::string>>(value);
    if (is_list != (f->kind == Kind::kStrings))
      throw pst::PstError("field \"" + name + "\" takes " +
                          (f->kind == Kind::kStrings ? "a list of strings" : "a string"));
    if (f->kind == Kind::kStrings) {
      const auto& list = std::get<std::vector<std::string>>(value);
      if (name == "DLMembers") {
        std::vector<pst::Bytes> ids;
        for (const std::string& member : list) ids.push_back(OneOffEntryId(member));
        m.properties.push_back(
            {f->key, pst::kPtBinary | pst::kPtMultiFlag, pst::value::MultiBinary(ids)});
        m.properties.push_back({PropertyKey::Numbered(kPsetidAddress, 0x8054),
                                pst::kPtBinary | pst::kPtMultiFlag, pst::value::MultiBinary(ids)});
      } else {
        m.properties.push_back(
            {f->key, pst::kPtString | pst::kPtMultiFlag, pst::value::MultiString(list)});
      }
      continue;
    }
    const std::string& s = std::get<std::string>(value);
    text[name] = s;
    if (f->kind == Kind::kDate) {
      int p[6];
      if (!ParseDateTime(s, p))
        throw pst::PstError("field \"" + name + "\": \"" + s +
                            "\" is not a date (YYYY-MM-DD or YYYY-MM-DDThh:mm:ssZ)");
      const uint64_t local = pst::FileTime(p[0], p[1], p[2], p[3], p[4], p[5]);
      const int64_t shift = int64_t{options.utc_offset_minutes} * 60 * 10000000;
      m.properties.push_back(
          {f->key, pst::kPtTime, pst::value::Time(static_cast<uint64_t>(int64_t(local) - shift))});
      const uint32_t local_lid = name == "Birthday" ? 0x80DE : 0x80DF;
      m.properties.push_back({PropertyKey::Numbered(kPsetidAddress, local_lid), pst::kPtTime,
                              pst::value::Time(pst::FileTime(p[0], p[1], p[2]))});
      continue;
    }
    m.properties.push_back(Str(f->key, s));
  }
  for (const MessageProperty& p : item.properties) m.properties.push_back(p);

  const bool contact = item.message_class.rfind("IPM.Contact", 0) == 0;
  const bool dist_list = item.message_class.rfind("IPM.DistList", 0) == 0;
  if (!contact && !dist_list) return m;
  // What Outlook derives when it saves a contact, unless given.
  auto has = [&](const char* name) { return text.count(name) > 0; };
  auto get = [&](const char* name) { return has(name) ? text[name] : std::string(); };
  std::string full = get("FullName");
  if (!has("FullName")) {
    for (const char* part : {"Title", "FirstName", "MiddleName", "LastName", "Suffix"}) {
      const std::string v = get(part);
      if (v.empty()) continue;
      if (!full.empty()) full += " ";
      full += v;
    }
    if (full.empty() && dist_list) full = get("DLName");
    if (full.empty()) full = get("CompanyName");
    if (!full.empty()) m.properties.push_back(Str(PropertyKey::Tagged(0x3001), full));
  }
  if (!has("Subject") && !full.empty())
    m.properties.push_back(Str(PropertyKey::Tagged(0x0037), full));
  if (dist_list) return m;
  if (!has("FileAs")) {
    std::string file_as = get("LastName");
    if (!get("FirstName").empty()) file_as += (file_as.empty() ? "" : ", ") + get("FirstName");
    if (file_as.empty()) file_as = full;
    if (!file_as.empty())
      m.properties.push_back(Str(PropertyKey::Numbered(kPsetidAddress, 0x8005), file_as));
  }
  if (has("WebPage")) m.properties.push_back(Str(PropertyKey::Tagged(0x3A51), get("WebPage")));
  // Each address also as one formatted text, and the business address (else the home address)
  // copied to the mailing address, as Outlook keeps them.
  auto formatted = [&](const std::string& street, const std::string& city, const std::string& state,
                       const std::string& postal, const std::string& country) {
    std::string line2 = city;
    for (const std::string* part : {&state, &postal})
      if (!part->empty()) line2 += (line2.empty() ? "" : " ") + *part;
    std::string out = street;
    for (const std::string* line : {static_cast<const std::string*>(&line2), &country})
      if (!line->empty()) out += (out.empty() ? "" : "\r\n") + *line;
    return out;
  };
  const std::string work = formatted(get("BusinessAddressStreet"), get("BusinessAddressCity"),
                                     get("BusinessAddressState"), get("BusinessAddressPostalCode"),
                                     get("BusinessAddressCountry"));
  const std::string home =
      formatted(get("HomeAddressStreet"), get("HomeAddressCity"), get("HomeAddressState"),
                get("HomeAddressPostalCode"), get("HomeAddressCountry"));
  if (!work.empty())
    m.properties.push_back(Str(PropertyKey::Numbered(kPsetidAddress, 0x801B), work));
  if (!home.empty())
    m.properties.push_back(Str(PropertyKey::Numbered(kPsetidAddress, 0x801A), home));
  if (!work.empty() || !home.empty()) {
    const std::string prefix = work.empty() ? "HomeAddress" : "BusinessAddress";
    const std::pair<const char*, uint16_t> mailing[] = {{"Street", 0x3A29},
                                                        {"City", 0x3A27},
                                                        {"State", 0x3A28},
                                                        {"PostalCode", 0x3A2A},
                                                        {"Country", 0x3A26}};
    for (const auto& [part, id] : mailing) {
      const std::string v = get((prefix + part).c_str());
      if (!v.empty()) m.properties.push_back(Str(PropertyKey::Tagged(id), v));
    }
    m.properties.push_back(Str(PropertyKey::Tagged(0x3A15), work.empty() ? home : work));
    m.properties.push_back({PropertyKey::Numbered(kPsetidAddress, 0x8022), pst::kPtInt32,
                            pst::value::Int32(work.empty() ? 1 : 2)});
  }
  const char* kEmail[] = {"Email1", "Email2", "Email3"};
  // Which e-mail entries the contact offers to the address book.
  std::vector<pst::Bytes> email_list;
  int32_t email_mask = 0;
  for (int i = 0; i < 3; ++i)
    if (!get((std::string(kEmail[i]) + "Address").c_str()).empty()) {
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
    const std::string address = get((base + "Address").c_str());
    if (address.empty()) continue;
    const uint32_t lid = 0x8080 + 0x10 * static_cast<uint32_t>(i);
    if (!has((base + "AddressType").c_str()))
      m.properties.push_back(Str(PropertyKey::Numbered(kPsetidAddress, lid + 2), "SMTP"));
    if (!has((base + "DisplayName").c_str()))
      m.properties.push_back(Str(PropertyKey::Numbered(kPsetidAddress, lid),
                                 full.empty() ? address : full + " (" + address + ")"));
    m.properties.push_back(Str(PropertyKey::Numbered(kPsetidAddress, lid + 4), address));
  }
  return m;
}

}  // namespace lumivex::pstgen
