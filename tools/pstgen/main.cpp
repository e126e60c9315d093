// lumivex-pstgen: writes a personal-folder file (.pst) from a description, with as many
// synthetic contacts as asked for. The same input always gives the same bytes: nothing is taken
// from the clock, and synthetic contacts come from the seed alone.
//
//   lumivex-pstgen [DESCRIPTION.json] --out FILE [--contacts N] [--seed S] [--folder PATH]
//                  [--encoding none|compressible|cyclic] [--ansi [--code-page N]] [--progress]
//                  [--people RANGES]
//
// --people 1-30000,100001-170000 writes the synthetic people of those numbers instead of
// --contacts N: person n is the same contact in every store written with the same seed, so that
// stores can share people (the merge benchmark's stores).
//
// The store is a Unicode one (Outlook 2003 and later) unless --ansi asks for the ANSI layout of
// Outlook 97-2002: 32-bit block ids and offsets, and 8-bit strings (PT_STRING8) in the Windows
// code page N (default 1252), which each message names in PidTagMessageCodepage (0x3FFD).
// Characters the code page lacks are written as "?". An ANSI folder holds at most 65,535 items.
//
// Every store holds the message store, the root folder, "Top of Personal Folders" with the
// default folders (Deleted Items, Inbox, Outbox, Sent Items, Calendar, Contacts, Journal, Notes,
// Tasks, Drafts) and "Search Root"; the root folder and the Inbox carry the default folders'
// entry ids (0x36D0-0x36D7, the contacts folder's in 0x36D1).
//
// Description format (JSON, UTF-8):
//
//   {
//     "encoding": "compressible",        // or "none", "cyclic"; the default is "compressible"
//     "displayName": "Personal Folders", // the store's name
//     "utcOffsetMinutes": 60,            // time zone of the dates typed below (default 0)
//     "defaultContacts": "Contacts",     // the folder 0x36D1 points at (default "Contacts")
//     "folders": [
//       {
//         "path": "Contacts/Suppliers",  // below "Top of Personal Folders", "/" between levels;
//                                        // or a list of names: ["Contacts", "a/b"]. Missing
//                                        // folders are created; default folders exist already.
//         "containerClass": "IPF.Contact", // class of a folder created here (default IPF.Note)
//         "items": [
//           { "messageClass": "IPM.Contact",          // the default
//             "FirstName": "Anna", "LastName": "Øberg", // fields by their mail-client names
//             "Children": ["Ida", "Per"],              // multi-valued fields take lists
//             "Birthday": "1980-05-17",                // dates: YYYY-MM-DD[Thh:mm:ssZ]
//             "Gender": "Female", "RTFBody": "{\\rtf1 ...}",  // see --help for every field
//             "picture": "anna.jpg",                   // the contact picture: a file beside
//                                                      // the description, or a data: URI
//             "attachments": [                         // files attached to the item
//               { "name": "Agenda.pdf", "file": "agenda.pdf", "mimeType": "application/pdf",
//                 "hidden": false },
//               { "name": "note.txt", "data": "data:text/plain;base64,SGVsbG8=" } ],
//             "label": "anna",                         // how other items refer to this one
//           },
//           { "messageClass": "IPM.DistList", "DLName": "Team",  // a distribution list
//             "members": [ { "contact": "anna", "email": 1 },   // a contact of the description
//                                                      // (its e-mail address 1, 2 or 3)
//                          { "name": "Bo", "address": "bo@example.com" } ] // a one-off address
//             "properties": [                          // anything else, by tag or by name:
//               { "tag": "0x3A4F001F", "value": "Annie" },
//               { "id": "0x3A4F", "type": "string", "value": "Annie" },
//               { "set": "PSETID_Address", "lid": "0x8062", "type": "string", "value": "x" },
//               { "set": "PS_PUBLIC_STRINGS", "name": "Keywords", "type": "string[]",
//                 "value": ["VIP"] } ] }
//         ],
//         "generate": { "contacts": 1000, "seed": 7 }  // synthetic contacts after the items
//       }
//     ]
//   }
//
// Property types: int16, int32, int64, bool, double, time, string, binary (hex), guid, each with
// [] for a multi-valued property (not bool), or a numeric type code. Property sets: PS_MAPI,
// PS_PUBLIC_STRINGS, PSETID_Address, PSETID_Common, PSETID_Appointment, PSETID_Task,
// PSETID_Note, or a GUID "{...}". The mail-client field names are listed by --help.
//
// For a contact (IPM.Contact) or distribution list (IPM.DistList) the tool adds what Outlook
// adds when it saves one, unless the item gives it: the display name (0x3001) and subject
// (0x0037) from the name parts, file-as (0x8005) "Last, First", the e-mail address type
// ("SMTP"), display name and original address, the web page copy (0x3A51), beside each date
// its local day (0x80DE, 0x80DF), each postal address as one text (0x801A-0x801C) and the
// mailing address (0x3A26-0x3A2B, 0x3A15, 0x8022). An "EX" e-mail entry holds an X.500 address;
// its SMTP form goes in EmailNOriginalDisplayName and its address-book entry id beside it.
//
// Attachments are written as Outlook writes them: an attachment table (subnode 0x671) in the
// message, each attachment object a subnode with its own property context, its bytes in
// PidTagAttachDataBinary (0x3701), in a subnode of the attachment object when larger than a heap
// item; a contact picture is the hidden attachment "ContactPicture.jpg" (.png for a PNG...)
// flagged as the contact photo (0x7FFF), and the contact gets PidLidHasPicture (0x8015).
//
// A list's "members" are written as Outlook writes them: PidLidDistributionListMembers (0x8055)
// holds for a contact of the store a wrapped entry id pointing at the contact's entry (type
// 0xC3, 0xD3 or 0xE3 for its e-mail address 1, 2 or 3) and for a one-off address its one-off
// entry id; PidLidDistributionListOneOffMembers (0x8054) holds a one-off entry id (name, type,
// address) for every member in the same order; PidLidDistributionListChecksum (0x804C) is the
// CRC-32 of the member entries one after another. ("DLMembers" still writes one-off members
// alone, in both properties.)
//
// Edge stores for tests: data/edge/*.json (an empty contacts folder, one contact, values of 255
// and 256 characters, names with "\" "/" and other characters file names cannot hold, a contact
// whose every field is empty, and every field of the contact form filled, with pictures);
// counts: --contacts 32767 and --contacts 32768.

#include <unistd.h>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "tools/pstgen/Description.h"

namespace {

const char* kUsage =
    "Usage: lumivex-pstgen [DESCRIPTION.json] --out FILE [options]\n"
    "Writes a personal-folder file (.pst, Unicode unless --ansi) holding the folders and\n"
    "items of a description and/or N synthetic contacts. The same input always gives the\n"
    "same bytes.\n"
    "\n"
    "Options:\n"
    "  --out FILE              the store to write (replaced if it exists)\n"
    "  --contacts N            add N synthetic contacts (names, addresses and phones in\n"
    "                          Latin with accents, Cyrillic, Greek, Chinese, Japanese, Korean\n"
    "                          and Arabic scripts)\n"
    "  --seed S                seed of the synthetic contacts (default 1)\n"
    "  --people RANGES         instead of --contacts: the synthetic people numbered\n"
    "                          FIRST-LAST[,FIRST-LAST...]; person n is the same contact in\n"
    "                          every store written with the same seed (stores that share\n"
    "                          people)\n"
    "  --variant K             with --people: the people as another of their address books\n"
    "                          holds them (K from 1: other job titles, for some another\n"
    "                          first e-mail address, no home phone, the name in capitals)\n"
    "                          With --people, OUT.people is written beside the store: a\n"
    "                          line \"POSITION PERSON\" per contact, the true identity of\n"
    "                          each entry of the folder (for counting false merges)\n"
    "  --folder PATH           where they go, below \"Top of Personal Folders\" (default\n"
    "                          \"Contacts\"; created as a contacts folder when missing)\n"
    "  --encoding none|compressible|cyclic\n"
    "                          how data blocks are stored: as they are, through the byte\n"
    "                          permutation (\"compressible\"), or through the cyclic encoding\n"
    "                          of stores with high encryption (default: the description's,\n"
    "                          or compressible)\n"
    "  --ansi                  write the ANSI layout of Outlook 97-2002 (32-bit offsets,\n"
    "                          8-bit strings) instead of the Unicode one; at most 65,535\n"
    "                          items a folder\n"
    "  --code-page N           the Windows code page of an ANSI store's strings (default\n"
    "                          1252); characters it lacks are written as \"?\"\n"
    "  --store-key TEXT        draw the store's record key (its identity) from TEXT instead\n"
    "                          of the input, so that a changed description gives the same\n"
    "                          store with changed items, as Outlook's edits do\n"
    "  --progress              report progress on standard error\n"
    "  --help                  this text\n"
    "\n"
    "Examples:\n"
    "  lumivex-pstgen --contacts 100000 --seed 1 --out big.pst\n"
    "  lumivex-pstgen data/sample-store.json --out sample.pst\n"
    "  lumivex-pstgen data/edge/long-values.json --encoding none --out long.pst\n"
    "  lumivex-pstgen --contacts 5000 --ansi --out outlook2002.pst\n"
    "\n"
    "Description (JSON):\n"
    "  { \"encoding\": \"compressible\", \"displayName\": \"Personal Folders\",\n"
    "    \"utcOffsetMinutes\": 0, \"defaultContacts\": \"Contacts\",\n"
    "    \"folders\": [ { \"path\": \"Contacts/Suppliers\", \"containerClass\": \"IPF.Contact\",\n"
    "      \"items\": [ { \"messageClass\": \"IPM.Contact\", \"FirstName\": \"Anna\",\n"
    "                   \"Children\": [\"Ida\"], \"Birthday\": \"1980-05-17\",\n"
    "                   \"picture\": \"anna.jpg\", \"label\": \"anna\",\n"
    "                   \"attachments\": [ { \"name\": \"Agenda.pdf\", \"file\": \"a.pdf\" } ],\n"
    "                   \"properties\": [ { \"tag\": \"0x3A4F001F\", \"value\": \"Annie\" },\n"
    "                     { \"set\": \"PSETID_Address\", \"lid\": \"0x8062\", \"type\": "
    "\"string\",\n"
    "                       \"value\": \"x\" },\n"
    "                     { \"set\": \"PS_PUBLIC_STRINGS\", \"name\": \"Keywords\",\n"
    "                       \"type\": \"string[]\", \"value\": [\"VIP\"] } ] } ],\n"
    "      \"generate\": { \"contacts\": 1000, \"seed\": 7 } } ] }\n"
    "  \"path\" may also be a list of names, for names holding \"/\". Folders that do not\n"
    "  exist are created; the default folders (Inbox, Contacts, ...) exist already.\n"
    "  Property types: int16 int32 int64 bool double time string binary(hex) guid, with []\n"
    "  for several values. Sets: PS_MAPI PS_PUBLIC_STRINGS PSETID_Address PSETID_Common\n"
    "  PSETID_Appointment PSETID_Task PSETID_Note or \"{GUID}\". Dates: YYYY-MM-DD or\n"
    "  YYYY-MM-DDThh:mm:ssZ.\n"
    "  Contacts and distribution lists also get what Outlook adds when it saves one:\n"
    "  display name, subject, file-as, e-mail type \"SMTP\" and display names, local dates,\n"
    "  formatted and mailing addresses.\n"
    "  \"picture\" is the contact picture (JPEG, PNG, GIF or BMP): a file name, relative to\n"
    "  the description's folder, or \"data:image/jpeg;base64,...\". Outlook's form: the hidden\n"
    "  attachment ContactPicture.jpg flagged as the contact photo, PidLidHasPicture set.\n"
    "  \"attachments\" are files attached to the item: \"name\", the bytes as \"file\" or\n"
    "  \"data\" (a data: URI), optional \"mimeType\" (else the data: URI's type, else told\n"
    "  from the bytes) and \"hidden\". \"label\" names the item for other items of the\n"
    "  description.\n"
    "  A distribution list (\"messageClass\": \"IPM.DistList\", \"DLName\") takes\n"
    "  \"members\": [ { \"contact\": LABEL, \"email\": 1 }, { \"name\": N, \"address\": A } ]:\n"
    "  contacts of the description (linked to their entries, e-mail address 1-3) and\n"
    "  one-off addresses, written with their one-off entries and the members' checksum.\n"
    "  An Exchange e-mail entry: \"Email1AddressType\": \"EX\", the X.500 address as\n"
    "  \"Email1Address\" and the SMTP one as \"Email1OriginalDisplayName\".\n"
    "\n"
    "Edge stores for tests (descriptions in data/edge/ of the source tree):\n"
    "  empty-contacts.json   the Contacts folder without entries\n"
    "  one-contact.json      one contact\n"
    "  long-values.json      values of exactly 255 and 256 characters\n"
    "  awkward-names.json    names holding \\ / : * ? \" < > |\n"
    "  all-empty.json        a contact whose every field is empty, and one with no field\n"
    "  every-field.json      every field below filled, across scripts, with \\ , ; and line\n"
    "                        breaks in values, JPEG and PNG pictures, an RTF-only body,\n"
    "                        Exchange e-mail entries, a list with linked and one-off\n"
    "                        members\n"
    "  and by count: --contacts 32767, --contacts 32768 (a few seconds each).\n"
    "\n"
    "Fields by mail-client name (strings unless said otherwise):\n";

uint64_t people_contacts(const std::vector<std::pair<uint64_t, uint64_t>>& people) {
  uint64_t n = 0;
  for (const auto& [first, last] : people) n += last - first + 1;
  return n;
}

int Usage(const std::string& problem) {
  std::fprintf(stderr, "lumivex-pstgen: %s\nTry 'lumivex-pstgen --help'.\n", problem.c_str());
  return 2;
}

// The command line.
struct Options {
  std::string description, out, folder = "Contacts", encoding, store_key, people_text;
  std::vector<std::pair<uint64_t, uint64_t>> people;
  uint64_t contacts = 0, seed = 1, code_page = 0, variant = 0;
  bool progress = false, ansi = false;
};

bool Number(const char* text, uint64_t& into) {
  if (!text) return false;
  char* end = nullptr;
  errno = 0;
  into = std::strtoull(text, &end, 10);
  return errno == 0 && end && *end == 0 && *text != 0 && *text != '-';
}

// --people RANGES into `o`; false when they are not ranges.
bool ParsePeople(const char* v, Options& o) {
  o.people_text = v;
  std::stringstream ranges(v);
  for (std::string range; std::getline(ranges, range, ',');) {
    uint64_t first = 0, last = 0;
    const size_t dash = range.find('-');
    if (dash == std::string::npos || !Number(range.substr(0, dash).c_str(), first) ||
        !Number(range.substr(dash + 1).c_str(), last) || first == 0 || last < first)
      return false;
    o.people.emplace_back(first, last);
    o.contacts += last - first + 1;
  }
  return true;
}

// Reads the arguments into `o`. -1 to go on, else the exit status (after --help or a mistake).
int ParseArguments(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::fputs(lumivex::pstgen::FieldTable().c_str(), stdout);
      return 0;
    } else if (arg == "--out") {
      const char* v = value();
      if (!v) return Usage("--out needs a file name");
      o.out = v;
    } else if (arg == "--contacts") {
      if (!Number(value(), o.contacts)) return Usage("--contacts needs a whole number");
    } else if (arg == "--people") {
      const char* v = value();
      if (!v) return Usage("--people needs ranges of numbers, such as 1-30000,100001-170000");
      if (!ParsePeople(v, o))
        return Usage(
            "--people takes ranges FIRST-LAST of numbers from 1, such as "
            "1-30000,100001-170000");
    } else if (arg == "--seed") {
      if (!Number(value(), o.seed)) return Usage("--seed needs a whole number");
    } else if (arg == "--folder") {
      const char* v = value();
      if (!v || !*v) return Usage("--folder needs a folder path, like Contacts/Synthetic");
      o.folder = v;
    } else if (arg == "--encoding") {
      const char* v = value();
      if (!v || (std::strcmp(v, "none") != 0 && std::strcmp(v, "compressible") != 0 &&
                 std::strcmp(v, "cyclic") != 0))
        return Usage("--encoding is none, compressible or cyclic");
      o.encoding = v;
    } else if (arg == "--ansi") {
      o.ansi = true;
    } else if (arg == "--code-page") {
      if (!Number(value(), o.code_page) || o.code_page == 0 || o.code_page > 65535)
        return Usage("--code-page needs a Windows code page number, such as 1252 or 932");
    } else if (arg == "--store-key") {
      const char* v = value();
      if (!v || !*v) return Usage("--store-key needs a text");
      o.store_key = v;
    } else if (arg == "--variant") {
      if (!Number(value(), o.variant)) return Usage("--variant needs a number, such as 1");
    } else if (arg == "--progress") {
      o.progress = true;
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage("unknown option " + arg);
    } else if (o.description.empty()) {
      o.description = arg;
    } else {
      return Usage("only one description file is read");
    }
  }
  return -1;
}

// The options that do not go together. -1 when they do, else the exit status.
int CheckOptions(const Options& o) {
  if (o.out.empty()) return Usage("say where to write the store with --out FILE");
  if (!o.people.empty() && o.contacts != people_contacts(o.people))
    return Usage("give either --contacts N or --people RANGES, not both");
  // Found now rather than after the whole store has been written beside it.
  if (std::error_code ec; std::filesystem::is_directory(o.out, ec))
    return Usage("--out " + o.out + " is a folder: name the store file, such as " +
                 (std::filesystem::path(o.out) / "contacts.pst").string());
  if (o.description.empty() && o.contacts == 0)
    return Usage("give a description file, --contacts N, or both");
  if (o.code_page != 0 && !o.ansi) return Usage("--code-page is for ANSI stores: add --ansi");
  if (o.variant != 0 && o.people.empty()) return Usage("--variant is for --people: add it");
  return -1;
}

// The description's plan, and its text in `input_text`.
lumivex::pstgen::StorePlan ReadDescription(const std::string& description,
                                           std::string& input_text) {
  namespace pst = lumivex::pst;
  std::ifstream in(description, std::ios::binary);
  if (!in)
    throw pst::PstError("cannot read the description " + description + ": " + std::strerror(errno));
  std::stringstream text;
  text << in.rdbuf();
  input_text = text.str();
  try {
    return lumivex::pstgen::ParseDescription(
        input_text, std::filesystem::absolute(description).parent_path().string());
  } catch (const pst::PstError& e) {
    throw pst::PstError(description + ": " + e.what());
  }
}

// The store's record key identifies it to a mail client, which refuses two open stores with the
// same key: it is drawn from the input, so different inputs give different keys and the same
// input the same bytes.
void SetRecordKey(const Options& o, const std::string& input_text,
                  lumivex::pstgen::StorePlan& plan) {
  const std::string input = !o.store_key.empty()
                                ? o.store_key
                                : input_text + "|" + std::to_string(o.contacts) + "|" +
                                      std::to_string(o.seed) + "|" + o.folder +
                                      (o.people.empty() ? std::string() : "|" + o.people_text);
  uint64_t h1 = 0xcbf29ce484222325ull, h2 = 0x84222325cbf29ce4ull;
  for (unsigned char c : input) {
    h1 = (h1 ^ c) * 0x100000001b3ull;
    h2 = (h2 ^ c) * 0x100000001b3ull + 1;
  }
  for (int i = 0; i < 8; ++i) {
    plan.store.record_key[i] = static_cast<uint8_t>(h1 >> (8 * i));
    plan.store.record_key[8 + i] = static_cast<uint8_t>(h2 >> (8 * i));
  }
}

// The whole plan: the description's, the options' store settings and the synthetic contacts.
lumivex::pstgen::StorePlan Plan(const Options& o) {
  using namespace lumivex;
  pstgen::StorePlan plan;
  std::string input_text;
  if (!o.description.empty()) plan = ReadDescription(o.description, input_text);
  SetRecordKey(o, input_text, plan);
  if (o.encoding == "none") plan.store.encoding = pst::Encoding::None;
  if (o.encoding == "compressible") plan.store.encoding = pst::Encoding::Compressible;
  if (o.encoding == "cyclic") plan.store.encoding = pst::Encoding::Cyclic;
  if (o.ansi) plan.store.layout = pst::FileLayout::Ansi;
  if (o.code_page != 0) plan.store.code_page = static_cast<uint32_t>(o.code_page);
  if (o.contacts > 0) {
    pstgen::FolderPlan f;
    std::stringstream parts(o.folder);
    for (std::string part; std::getline(parts, part, '/');)
      if (!part.empty()) f.path.push_back(part);
    f.container_class = "IPF.Contact";
    f.generate = o.contacts;
    f.seed = o.seed;
    f.people = o.people;
    f.variant = o.variant;
    plan.folders.push_back(std::move(f));
  }
  return plan;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace lumivex;
  Options o;
  if (const int status = ParseArguments(argc, argv, o); status >= 0) return status;
  if (const int status = CheckOptions(o); status >= 0) return status;
  const std::string& out = o.out;
  const bool progress = o.progress;

  try {
    const pstgen::StorePlan plan = Plan(o);
    const bool tty = isatty(fileno(stderr));
    const auto report = pstgen::BuildStore(plan, out, [&](uint64_t done, uint64_t total) {
      if (!progress) return;
      std::fprintf(stderr, tty ? "\rWriting items: %llu/%llu" : "Writing items: %llu/%llu\n",
                   static_cast<unsigned long long>(done), static_cast<unsigned long long>(total));
      if (tty && done == total) std::fputc('\n', stderr);
    });
    if (!o.people.empty()) {
      // Who each entry truly is, in the folder's order: the people's numbers.
      std::ofstream identities(out + ".people", std::ios::binary | std::ios::trunc);
      uint64_t position = 0;
      for (const auto& [first, last] : o.people)
        for (uint64_t n = first; n <= last; ++n) identities << ++position << ' ' << n << '\n';
      if (!identities.flush())
        throw std::runtime_error("cannot write " + out + ".people: " + std::strerror(errno));
    }
    std::printf("Wrote %s: %llu items in %llu folders, %llu bytes\n", out.c_str(),
                static_cast<unsigned long long>(report.items),
                static_cast<unsigned long long>(report.folders),
                static_cast<unsigned long long>(std::filesystem::file_size(out)));
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "lumivex-pstgen: %s\nNothing was written to %s.\n", e.what(), out.c_str());
    return 1;
  }
}
