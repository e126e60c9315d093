#include "tests/tools/FeatureStore.h"

#include <QString>
#include <cstdio>
#include <map>

#include "tools/pstgen/Contact.h"
#include "tools/pstgen/Synthetic.h"

namespace lumivex::testing {

namespace {

using pst::MessageProperty;
using pst::PropertyKey;
namespace value = pst::value;

const pst::Guid kCustomSet = pst::Guid::Parse("{6ED8DA90-450B-101B-98DA-00AA003F1305}");

std::string LongText(size_t chars, const std::string& seed) {
  std::string out;
  for (size_t i = 0; out.size() < chars; ++i) out += seed + " " + std::to_string(i) + ". ";
  out.resize(chars);
  return out;
}

pstgen::Item RichContact() {
  pstgen::Item c;
  const std::pair<const char*, const char*> fields[] = {
      {"Title", "Dr."},
      {"FirstName", "Amélie"},
      {"MiddleName", "Claire"},
      {"LastName", "Lefèvre"},
      {"Suffix", "PhD"},
      {"CompanyName", "Contoso"},
      {"Department", "Research"},
      {"JobTitle", "Chief Scientist"},
      {"OfficeLocation", "B4"},
      {"BusinessTelephoneNumber", "+33 1 42 68 53 00"},
      {"HomeTelephoneNumber", "+33 1 45 22 10 87"},
      {"MobileTelephoneNumber", "+33 6 12 34 56 78"},
      {"PagerNumber", "+33 1 40 00 12 12"},
      {"BusinessFaxNumber", "+33 1 42 68 53 01"},
      {"HomeFaxNumber", "+33 1 45 22 10 88"},
      {"BusinessAddressStreet", "12 rue de la Paix"},
      {"BusinessAddressCity", "Paris"},
      {"BusinessAddressState", "Île-de-France"},
      {"BusinessAddressPostalCode", "75002"},
      {"BusinessAddressCountry", "France"},
      {"HomeAddressStreet", "3 place de l'Église"},
      {"HomeAddressCity", "Besançon"},
      {"HomeAddressState", "Doubs"},
      {"HomeAddressPostalCode", "25000"},
      {"HomeAddressCountry", "France"},
      {"WebPage", "https://contoso.example/amelie"},
      {"Birthday", "1975-05-17"},
      {"Anniversary", "2001-09-08"},
      {"Email1Address", "amelie@contoso.example"},
      {"Email2Address", "amelie@home.example"},
      {"Email3Address", "a@lab.example"},
      {"ManagerName", "Jérôme Faure"},
      {"AssistantName", "Noémie Girard"},
      {"Spouse", "Loïc"},
      {"Body", "Line one\r\nLine two — ünïcödé 日本語 Ελληνικά"}};
  for (const auto& [name, text] : fields) c.fields.emplace_back(name, std::string(text));
  c.fields.emplace_back("Children", std::vector<std::string>{"Zoé", "Gaëlle"});
  c.fields.emplace_back("Categories", std::vector<std::string>{"Business", "VIP"});
  // Every other type, tagged and named.
  c.properties.push_back({PropertyKey::Tagged(0x6601), pst::kPtInt16, value::Int16(-2)});
  c.properties.push_back(
      {PropertyKey::Tagged(0x6602), pst::kPtInt64, value::Int64(-1234567890123)});
  c.properties.push_back({PropertyKey::Tagged(0x6603), pst::kPtBoolean, value::Boolean(true)});
  c.properties.push_back({PropertyKey::Tagged(0x6604), pst::kPtDouble, value::Double(2.5)});
  c.properties.push_back(
      {PropertyKey::Tagged(0x6605), pst::kPtBinary, pst::Bytes{1, 2, 3, 0, 255}});
  c.properties.push_back({PropertyKey::Tagged(0x6606), pst::kPtGuid,
                          pst::Bytes(kCustomSet.bytes.begin(), kCustomSet.bytes.end())});
  c.properties.push_back({PropertyKey::Tagged(0x6607), pst::kPtInt32 | pst::kPtMultiFlag,
                          value::MultiFixed({value::Int32(7), value::Int32(-8), value::Int32(9)})});
  c.properties.push_back({PropertyKey::Tagged(0x6608), pst::kPtTime | pst::kPtMultiFlag,
                          value::MultiFixed({value::Time(pst::FileTime(2000, 1, 2)),
                                             value::Time(pst::FileTime(2010, 3, 4, 5, 6, 7))})});
  c.properties.push_back({PropertyKey::Tagged(0x6609), pst::kPtBinary | pst::kPtMultiFlag,
                          value::MultiBinary({{1, 2}, {}, {3}})});
  c.properties.push_back(
      {PropertyKey::Numbered(kCustomSet, 0x1234), pst::kPtInt32, value::Int32(4242)});
  c.properties.push_back({PropertyKey::Named(kCustomSet, "LumivexCustomString"), pst::kPtString,
                          value::Utf16("named by string in a set of our own")});
  c.properties.push_back({PropertyKey::Named(pst::kPsPublicStrings, "Empty List"),
                          pst::kPtString | pst::kPtMultiFlag, value::MultiString({})});
  return c;
}

}  // namespace

std::string JsonKey(const PropertyKey& key) {
  char buf[32];
  if (!key.IsNamed()) {
    std::snprintf(buf, sizeof buf, "0x%04X", key.id);
    return buf;
  }
  if (key.number) {
    std::snprintf(buf, sizeof buf, "lid:0x%04X", *key.number);
    return buf;
  }
  return "name:" + key.name;
}

FeatureStore FeatureStore::Write(const std::string& path, pst::Encoding encoding, int bulk,
                                 pst::FileLayout layout) {
  const bool ansi = layout == pst::FileLayout::Ansi;
  pst::StoreSettings options;
  options.encoding = encoding;
  options.layout = layout;
  pst::StoreWriter writer(path, options);
  pstgen::ContactOptions contact_options;
  contact_options.utc_offset_minutes = 60;
  FeatureStore store;
  pst::CodePageText cp1252(1252);

  auto add = [&](ExpectedFolder& folder, pst::Nid nid, const pst::Message& m) {
    writer.AddMessage(nid, m);
    ExpectedItem item{m.message_class, {}};
    std::map<std::string, size_t> seen;  // a later value of the same property replaces it
    for (const MessageProperty& p : m.properties) {
      // Appended to a named string: GCC 12 at -O3 takes "@" + a temporary for an overlapping
      // copy (a false -Wrestrict).
      std::string k = JsonKey(p.key);
      if (p.key.IsNamed()) {
        k += '@';
        k.append(p.key.set->bytes.begin(), p.key.set->bytes.end());
      }
      auto it = seen.find(k);
      if (it != seen.end()) {
        item.properties[it->second] = p;
      } else {
        seen[k] = item.properties.size();
        item.properties.push_back(p);
      }
    }
    if (ansi)
      for (MessageProperty& p : item.properties) cp1252.ToString8(p.type, p.value);
    folder.items.push_back(std::move(item));
  };

  ExpectedFolder contacts{{"Contacts"}, "IPF.Contact", {}};
  const pst::Nid contacts_nid = writer.Folder(pst::DefaultFolder::kContacts);
  add(contacts, contacts_nid, pstgen::ToMessage(RichContact(), contact_options));

  pstgen::Item medium;  // a body in a subnode with a one-level data tree
  medium.fields = {{"FirstName", std::string("Medium")},
                   {"LastName", std::string("Body")},
                   {"Body", LongText(20000, "Ünïcode medium body")}};
  add(contacts, contacts_nid, pstgen::ToMessage(medium, contact_options));

  // More blocks than one XBLOCK holds (1021 of 8176 bytes, or 2043 of 8180 bytes in ANSI files
  // where the ASCII text takes a byte a character): a two-level data tree.
  store.long_note_chars = ansi ? 16800000 : 4300000;
  pstgen::Item huge;
  huge.fields = {{"FirstName", std::string("Huge")},
                 {"LastName", std::string("Body")},
                 {"Body", LongText(store.long_note_chars, "A very long note")}};
  add(contacts, contacts_nid, pstgen::ToMessage(huge, contact_options));

  // More subnodes than one leaf block of the subnode tree holds: 340, or 681 in ANSI files.
  pst::Message many;
  many.message_class = "IPM.Contact";
  many.properties.push_back({PropertyKey::Tagged(0x3A06), pst::kPtString, value::Utf16("Many")});
  for (uint16_t i = 0; i < (ansi ? 700 : 400); ++i) {
    pst::Bytes big(3600 + i, static_cast<uint8_t>(i));
    many.properties.push_back(
        {PropertyKey::Tagged(static_cast<uint16_t>(0x6800 + i)), pst::kPtBinary, big});
  }
  add(contacts, contacts_nid, many);

  pstgen::Item list;
  list.message_class = "IPM.DistList";
  list.fields = {
      {"DLName", std::string("Team")},
      {"DLMembers", std::vector<std::string>{"Anna <anna@example.com>", "bob@example.com"}}};
  add(contacts, contacts_nid, pstgen::ToMessage(list, contact_options));

  pstgen::SyntheticContacts synthetic(5);
  for (int i = 1; i <= bulk; ++i)
    add(contacts, contacts_nid,
        pstgen::ToMessage(synthetic.Next(static_cast<uint64_t>(i)), contact_options));
  store.folders.push_back(std::move(contacts));

  const pst::Nid second =
      writer.CreateFolder(writer.TopOfPersonalFolders(), "Ãdressbuch 2", "IPF.Contact");
  ExpectedFolder second_folder{{"Ãdressbuch 2"}, "IPF.Contact", {}};
  pstgen::Item one;
  one.fields = {{"FirstName", std::string("Ольга")}, {"LastName", std::string("Попова")}};
  add(second_folder, second, pstgen::ToMessage(one, contact_options));
  store.folders.push_back(std::move(second_folder));

  const pst::Nid nested = writer.CreateFolder(second, "Nested", "IPF.Contact");
  ExpectedFolder nested_folder{{"Ãdressbuch 2", "Nested"}, "IPF.Contact", {}};
  pstgen::Item two;
  two.fields = {{"FirstName", std::string("伟")}, {"LastName", std::string("王")}};
  add(nested_folder, nested, pstgen::ToMessage(two, contact_options));
  store.folders.push_back(std::move(nested_folder));

  ExpectedFolder inbox{{"Inbox"}, "IPF.Note", {}};
  pstgen::Item mail;
  mail.message_class = "IPM.Note";
  mail.fields = {{"Subject", std::string("Hello")}, {"Body", std::string("Not a contact.")}};
  add(inbox, writer.Folder(pst::DefaultFolder::kInbox), pstgen::ToMessage(mail, contact_options));
  store.folders.push_back(std::move(inbox));

  ExpectedFolder empty{{"Empty Contacts"}, "IPF.Contact", {}};
  writer.CreateFolder(writer.TopOfPersonalFolders(), "Empty Contacts", "IPF.Contact");
  store.folders.push_back(std::move(empty));

  writer.Finish();
  return store;
}

}  // namespace lumivex::testing
