// The address-book component: what it writes, read back by its own reader and checked byte by
// byte by CheckLayout; growth; the template; books it must refuse; damaged files.
#include "tests/support/ScopedChanges.h"
#include "tests/support/TestPaths.h"
#include "tests/wab/WabLayoutCheck.h"
#include "wab/AddressBook.h"

#include <chrono>
#include <filesystem>
#include <random>

namespace lumivex::wab {
namespace {

using lumivex::testing::CheckLayout;
using lumivex::testing::FileSizeLimit;
using lumivex::testing::RawBook;
using lumivex::testing::ReadBytes;

// A fresh empty book in a scratch folder, as the export makes it.
std::string FreshBook(const char* name) {
  const std::string path =
      lumivex::testing::ScratchDir(QString::fromUtf8(name)).toStdString() + "/book.wab";
  AddressBook::WriteEmpty(path);
  return path;
}

std::vector<uint8_t> U16Z(std::u16string_view s) {
  std::vector<uint8_t> out;
  for (char16_t u : s) out.insert(out.end(), {uint8_t(u), uint8_t(u >> 8)});
  out.insert(out.end(), {0, 0});
  return out;
}

TEST(WabTemplate, BuiltBesideTheProgramsIsAnEmptyBook) {
  const std::string path = lumivex::testing::BinDir().toStdString() + "/xwab.def";
  const RawBook raw = CheckLayout(ReadBytes(path));
  for (int t = 0; t < 6; ++t) EXPECT_EQ(raw.count[t], 0u);
  EXPECT_EQ(raw.nextId, 1u);
  EXPECT_TRUE(LiveContacts(ReadBook(path)).empty());
}

TEST(WabComponent, RoundTripKeepsNamesAndAddressesAndTheLayout) {
  const std::string path = FreshBook("wab-roundtrip");
  const std::string longName = "Maximiliane Alexandra Konstantinopoulou-Wetherington";
  // 30 ASCII units, then U+1F600 as a surrogate pair: the 31-unit cut falls inside the pair.
  const std::string pairAtCut = std::string(30, 'x') + "\xF0\x9F\x98\x80";
  const std::vector<std::pair<std::string, std::string>> input = {
      {"John Smith", "john@example.com"},
      {"No Mail", ""},
      {"Zoë Jürgens", "zoe@example.de"},
      {"山田 太郎", "taro@example.jp"},
      {longName, "max@example.com"},
      {pairAtCut, ""},
      {"", ""},
  };
  {
    AddressBook book;
    book.Open(path);
    for (const auto& [name, email] : input) book.createnew(name, email);
  }  // released: written and closed

  const std::vector<Contact> contacts = LiveContacts(ReadBook(path));
  ASSERT_EQ(contacts.size(), input.size());
  for (size_t i = 0; i < input.size(); ++i) {
    EXPECT_EQ(contacts[i].id, i + 1);
    EXPECT_EQ(contacts[i].displayName, input[i].first);
    EXPECT_EQ(contacts[i].email, input[i].second);
  }

  const RawBook raw = CheckLayout(ReadBytes(path));
  ASSERT_EQ(raw.records.size(), input.size());
  EXPECT_EQ(raw.nextId, input.size() + 1);
  EXPECT_EQ(raw.count[1], input.size());       // a display-name slot for every record
  EXPECT_EQ(raw.count[2] + raw.count[3], 0u);  // no split into last and first names
  EXPECT_EQ(raw.count[4], 4u);                 // an e-mail slot only where there is an address
  for (size_t i = 0; i < input.size(); ++i) {
    const auto& r = raw.records[i];
    const std::u16string name = Utf8ToUtf16(input[i].first), email = Utf8ToUtf16(input[i].second);
    EXPECT_EQ(r.single.at(0x0FFE0003), (std::vector<uint8_t>{6, 0, 0, 0}));
    EXPECT_EQ(r.single.at(0x3001001F), U16Z(name)) << "the record keeps the whole name";
    EXPECT_EQ(raw.text[1][i].second, r.id);
    // A slot holds at most 31 units, and never half of a surrogate pair.
    EXPECT_EQ(raw.text[1][i].first, i == 5 ? std::u16string(30, u'x') : name.substr(0, 31));
    if (email.empty()) {
      EXPECT_FALSE(r.single.count(0x3003001F) || r.multi.count(0x3A56101F));
      continue;
    }
    EXPECT_EQ(r.single.at(0x3002001F), U16Z(u"SMTP"));
    EXPECT_EQ(r.single.at(0x3003001F), U16Z(email));
    EXPECT_EQ(r.multi.at(0x3A54101F), std::vector<std::vector<uint8_t>>{U16Z(u"SMTP")});
    EXPECT_EQ(r.multi.at(0x3A56101F), std::vector<std::vector<uint8_t>>{U16Z(email)});
    EXPECT_EQ(r.single.at(0x3A550003), (std::vector<uint8_t>{0, 0, 0, 0}));
  }
}

// "prefix" + a number, appended to a named string: GCC 12 at -O3 takes "prefix" + a temporary for
// an overlapping copy (a false -Wrestrict).
std::string Numbered(const char* prefix, int n, const char* suffix = "") {
  std::string text = prefix;
  text += std::to_string(n);
  text += suffix;
  return text;
}

TEST(WabComponent, TenThousandContactsGrowTheTablesQuickly) {
  const std::string path = FreshBook("wab-10k");
  const auto start = std::chrono::steady_clock::now();
  {
    AddressBook book;
    book.Open(path);
    for (int i = 0; i < 10000; ++i)
      book.createnew(Numbered("Contact ", i), Numbered("c", i, "@example.com"));
    book.Close();
  }
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 2.0);
  const RawBook raw = CheckLayout(ReadBytes(path));
  ASSERT_EQ(raw.records.size(), 10000u);
  EXPECT_EQ(raw.count[4], 10000u);
  EXPECT_EQ(raw.capacity[0], 12800u);  // 100 doubled until it holds them all
  const std::vector<Contact> contacts = LiveContacts(ReadBook(path));
  ASSERT_EQ(contacts.size(), 10000u);
  EXPECT_EQ(contacts[9999].email, "c9999@example.com");
}

// Records go to a file beside the book until Close: it is gone afterwards, and a disk that fills
// up under it leaves the book as it was at Open, with the failure reported.
TEST(WabComponent, RecordsFileBesideTheBookGoesAndAFullDiskLeavesTheBookAsItWas) {
  const std::string path = FreshBook("wab-records");
  const std::vector<uint8_t> before = ReadBytes(path);
  {
    AddressBook book;
    book.Open(path);
    EXPECT_TRUE(std::filesystem::exists(path + ".records"));
    book.createnew("Ann Lee", "ann@example.com");
    book.Close();
  }
  EXPECT_FALSE(std::filesystem::exists(path + ".records"));
  EXPECT_EQ(LiveContacts(ReadBook(path)).size(), 1u);

  const std::string full = FreshBook("wab-records-full");
  std::string failure;
  {
    AddressBook book;
    book.Open(full);
    FileSizeLimit limit(64 * 1024);
    ASSERT_TRUE(limit.IsSet());
    for (int i = 0; i < 2000; ++i) book.createnew("Contact " + std::to_string(i), "c@example.com");
    try {
      book.Close();
    } catch (const WabError& error) {
      failure = error.what();
    }
  }
  EXPECT_NE(failure.find("could not be written"), std::string::npos) << failure;
  EXPECT_EQ(ReadBytes(full), before);
  EXPECT_FALSE(std::filesystem::exists(full + ".records"));
  EXPECT_FALSE(std::filesystem::exists(full + ".part"));
}

TEST(WabComponent, ReopeningABookKeepsItsContactsAndAddsAfterThem) {
  const std::string path = FreshBook("wab-reopen");
  for (int round = 0; round < 3; ++round) {
    AddressBook book;
    book.Open(path);
    for (int i = 0; i < 60; ++i) book.createnew(Numbered("R", round * 100 + i), "");
  }
  const RawBook raw = CheckLayout(ReadBytes(path));
  ASSERT_EQ(raw.records.size(), 180u);
  EXPECT_EQ(raw.capacity[1], 200u);
  EXPECT_EQ(raw.records.back().id, 180u);
  const auto contacts = LiveContacts(ReadBook(path));
  EXPECT_EQ(contacts[0].displayName, "R0");
  EXPECT_EQ(contacts[179].displayName, "R259");
}

TEST(WabComponent, OpenRefusesWhatIsNotAWritableUnicodeBook) {
  const std::string dir = lumivex::testing::ScratchDir(QStringLiteral("wab-refuse")).toStdString();
  std::ofstream(dir + "/text.wab") << "BEGIN:VCARD\r\nEND:VCARD\r\n";
  // An older ANSI book with one contact: readable, with its 8-bit text in code page 1252, but
  // not one to add to.
  Book ansi = EmptyBook();
  ansi.unicode = false;
  Record renee;
  renee.id = 7;
  renee.properties.push_back({0x3001001E, {'R', 'e', 'n', 0xE9, 'e', ' ', 0x80, 0}, {}});
  ansi.records.push_back(renee);
  const std::vector<uint8_t> bytes = Serialize(ansi);
  std::ofstream(dir + "/ansi.wab", std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
  EXPECT_EQ(LiveContacts(ReadBook(dir + "/ansi.wab")).at(0).displayName, "Renée €");

  const std::pair<std::string, const char*> cases[] = {{dir + "/missing.wab", "cannot open"},
                                                       {dir, "is a folder"},
                                                       {dir + "/text.wab", "not a Windows Address"},
                                                       {dir + "/ansi.wab", "older ANSI"}};
  AddressBook book;
  EXPECT_THROW(book.createnew("x", "y"), WabError);
  for (const auto& [path, says] : cases) {
    try {
      book.Open(path);
      ADD_FAILURE() << path << " was opened";
    } catch (const WabError& error) {
      EXPECT_NE(std::string(error.what()).find(says), std::string::npos) << error.what();
    }
    EXPECT_FALSE(book.IsOpen());
  }
}

// Prefixes of a small book and thousands of corrupted copies: each either reads or gives a
// WabError naming the file, never a crash or a hang.
TEST(WabReader, DamagedFilesGiveErrorsNotCrashes) {
  Book book = EmptyBook();
  AddContact(book, u"Anna", u"anna@example.com", 1);
  AddContact(book, u"Ben", u"", 2);
  const std::vector<uint8_t> good = Serialize(book);
  int errors = 0;
  for (size_t length = 0; length < good.size(); length += 7) {
    try {
      ParseBook(std::vector<uint8_t>(good.begin(), good.begin() + long(length)), "cut.wab");
    } catch (const WabError&) {
      ++errors;
    }
  }
  EXPECT_GT(errors, 0);
  std::mt19937 random(20240601);
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> bad = good;
    for (int flips = 0; flips < 4; ++flips) {
      // Aimed at the header and at the records, where damage is read.
      const size_t at = round % 2 ? random() % 0x80 : good.size() - 1 - random() % 300;
      bad[at] = uint8_t(random());
    }
    try {
      LiveContacts(ParseBook(bad, "bad.wab"));
    } catch (const WabError& error) {
      EXPECT_NE(std::string(error.what()).find("bad.wab"), std::string::npos);
    }
  }
}

// A descriptor whose capacity runs past the file's end (found by the address_book fuzz target):
// writing the book back gives room for what the file held, not gigabytes.
TEST(WabReader, ATableCapacityBeyondTheFileIsNotWrittenBack) {
  Book book = EmptyBook();
  AddContact(book, u"Anna", u"anna@example.com", 1);
  std::vector<uint8_t> bytes = Serialize(book);
  // The capacity of table 2 (last names): descriptors of 16 bytes from offset 0x18, capacity
  // the second of their four numbers.
  const size_t at = 0x18 + 2 * 16 + 4;
  for (size_t i = 0; i < 4; ++i) bytes[at + i] = 0xFF;
  Book read = ParseBook(bytes, "wide.wab");
  AddContact(read, u"Ben", u"", 2);
  const std::vector<uint8_t> written = Serialize(read);
  EXPECT_LT(written.size(), 2 * bytes.size());
  EXPECT_EQ(LiveContacts(ParseBook(written, "written.wab")).size(), 2u);
}

}  // namespace
}  // namespace lumivex::wab
