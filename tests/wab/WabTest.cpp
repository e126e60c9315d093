// The address-book component: what it writes, read back by its own reader and checked byte by
// byte by CheckLayout; growth; the template; damaged files.
#include "tests/support/TestPaths.h"
#include "tests/wab/WabLayoutCheck.h"
#include "wab/AddressBook.h"

#include <chrono>
#include <filesystem>
#include <random>

namespace lumivex::wab {
namespace {

using lumivex::testing::CheckLayout;
using lumivex::testing::RawBook;
using lumivex::testing::ReadBytes;

std::string Scratch(const char* name) {
  return lumivex::testing::ScratchDir(QString::fromUtf8(name)).toStdString();
}

// A fresh book at `dir`/book.wab, as the export makes it.
std::string FreshBook(const std::string& dir) {
  const std::string path = dir + "/book.wab";
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
  ASSERT_TRUE(std::filesystem::exists(path)) << path;
  const std::vector<uint8_t> bytes = ReadBytes(path);
  EXPECT_EQ(bytes, Serialize(EmptyBook()));
  const RawBook raw = CheckLayout(bytes);
  for (int t = 0; t < 6; ++t) EXPECT_EQ(raw.count[t], 0u);
  EXPECT_EQ(raw.nextId, layout::kFirstRecordId);
  EXPECT_TRUE(LiveContacts(ReadBook(path)).empty());
}

TEST(WabComponent, RoundTripKeepsNamesAndAddressesAndTheLayout) {
  const std::string path = FreshBook(Scratch("wab-roundtrip"));
  const std::string longName = "Maximiliane Alexandra Konstantinopoulou-Wetherington";
  const std::string emoji = "Ana \xF0\x9F\x98\x80 Smile";  // U+1F600, a surrogate pair
  // 30 ASCII units then the pair: the 31-unit cut falls inside the pair.
  const std::string pairAtCut = std::string(30, 'x') + "\xF0\x9F\x98\x80";
  const std::vector<std::pair<std::string, std::string>> input = {
      {"John Smith", "john@example.com"},
      {"No Mail", ""},
      {"Zo\xC3\xAB J\xC3\xBCrgens", "zoe@example.de"},
      {"\xE5\xB1\xB1\xE7\x94\xB0 \xE5\xA4\xAA\xE9\x83\x8E", "taro@example.jp"},
      {emoji, "ana@example.com"},
      {longName, "max@example.com"},
      {pairAtCut, ""},
      {"", ""},
  };
  {
    AddressBook book;
    book.Open(path);
    int32_t expectedId = 1;
    for (const auto& [name, email] : input) EXPECT_EQ(book.createnew(name, email), expectedId++);
  }  // released: written and closed

  const std::vector<Contact> contacts = LiveContacts(ReadBook(path));
  ASSERT_EQ(contacts.size(), input.size());
  for (size_t i = 0; i < input.size(); ++i) {
    EXPECT_EQ(contacts[i].displayName, input[i].first);
    EXPECT_EQ(contacts[i].email, input[i].second);
  }

  const RawBook raw = CheckLayout(ReadBytes(path));
  ASSERT_EQ(raw.records.size(), input.size());
  EXPECT_EQ(raw.count[1], input.size());  // every record has a display-name slot
  EXPECT_EQ(raw.count[2], 0u);            // no split into last and first names
  EXPECT_EQ(raw.count[3], 0u);
  EXPECT_EQ(raw.count[4], 5u);  // only records with an address have an e-mail slot
  EXPECT_EQ(raw.nextId, input.size() + 1);
  for (size_t i = 0; i < input.size(); ++i) {
    const auto& r = raw.records[i];
    const std::u16string name = Utf8ToUtf16(input[i].first);
    const std::u16string email = Utf8ToUtf16(input[i].second);
    EXPECT_EQ(r.single.at(0x0FFE0003), (std::vector<uint8_t>{6, 0, 0, 0}));
    EXPECT_EQ(r.single.at(0x3001001F), U16Z(name)) << "the record keeps the whole name";
    EXPECT_EQ(r.single.at(0x0FFF0102), (std::vector<uint8_t>{uint8_t(i + 1), 0, 0, 0}));
    EXPECT_EQ(raw.text[1][i].second, r.id);
    EXPECT_LE(raw.text[1][i].first.size(), 31u);
    EXPECT_EQ(raw.text[1][i].first, name.substr(0, raw.text[1][i].first.size()));
    if (email.empty()) {
      EXPECT_FALSE(r.single.count(0x3003001F) || r.multi.count(0x3A56101F));
      continue;
    }
    EXPECT_EQ(r.single.at(0x3002001F), U16Z(u"SMTP"));
    EXPECT_EQ(r.single.at(0x3003001F), U16Z(email));
    EXPECT_EQ(r.multi.at(0x3A54101F), std::vector<std::vector<uint8_t>>{U16Z(u"SMTP")});
    EXPECT_EQ(r.multi.at(0x3A56101F), std::vector<std::vector<uint8_t>>{U16Z(email)});
    EXPECT_EQ(r.single.at(0x3A550003), (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_TRUE(r.single.count(0x30070040) && r.single.count(0x30080040));
  }
  EXPECT_EQ(raw.text[1][5].first, Utf8ToUtf16(longName).substr(0, 31));
  EXPECT_EQ(raw.text[1][6].first, std::u16string(30, u'x')) << "half a surrogate pair was kept";
}

TEST(WabComponent, TenThousandContactsGrowTheTablesQuickly) {
  const std::string path = FreshBook(Scratch("wab-10k"));
  const auto start = std::chrono::steady_clock::now();
  {
    AddressBook book;
    book.Open(path);
    for (int i = 0; i < 10000; ++i)
      book.createnew("Contact " + std::to_string(i), "c" + std::to_string(i) + "@example.com");
    book.Close();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 2.0);
  const RawBook raw = CheckLayout(ReadBytes(path));
  ASSERT_EQ(raw.records.size(), 10000u);
  EXPECT_EQ(raw.count[1], 10000u);
  EXPECT_EQ(raw.count[4], 10000u);
  EXPECT_EQ(raw.capacity[0], 12800u);  // 100 doubled until it holds them all
  const std::vector<Contact> contacts = LiveContacts(ReadBook(path));
  ASSERT_EQ(contacts.size(), 10000u);
  EXPECT_EQ(contacts[9999].displayName, "Contact 9999");
  EXPECT_EQ(contacts[9999].email, "c9999@example.com");
}

TEST(WabComponent, ReopeningABookKeepsItsContactsAndAddsAfterThem) {
  const std::string path = FreshBook(Scratch("wab-reopen"));
  for (int round = 0; round < 3; ++round) {
    AddressBook book;
    book.Open(path);
    for (int i = 0; i < 60; ++i)
      book.createnew("R" + std::to_string(round) + "-" + std::to_string(i), "");
  }
  const RawBook raw = CheckLayout(ReadBytes(path));
  ASSERT_EQ(raw.records.size(), 180u);
  EXPECT_EQ(raw.capacity[1], 200u);
  EXPECT_EQ(raw.records.back().id, 180u);
  const auto contacts = LiveContacts(ReadBook(path));
  EXPECT_EQ(contacts[0].displayName, "R0-0");
  EXPECT_EQ(contacts[179].displayName, "R2-59");
}

TEST(WabComponent, OpenRefusesWhatIsNotAWritableUnicodeBook) {
  const std::string dir = Scratch("wab-refuse");
  AddressBook book;
  EXPECT_THROW(book.createnew("x", "y"), WabError);
  EXPECT_THROW(book.Open(dir + "/missing.wab"), WabError);
  try {
    book.Open(dir);
    ADD_FAILURE() << "a folder was opened";
  } catch (const WabError& error) {
    EXPECT_NE(std::string(error.what()).find("is a folder"), std::string::npos) << error.what();
  }
  { std::ofstream(dir + "/text.wab") << "BEGIN:VCARD\r\nEND:VCARD\r\n"; }
  try {
    book.Open(dir + "/text.wab");
    ADD_FAILURE() << "a text file was opened";
  } catch (const WabError& error) {
    EXPECT_NE(std::string(error.what()).find("not a Windows Address Book"), std::string::npos);
  }
  Book ansi = EmptyBook();
  ansi.unicode = false;
  const std::vector<uint8_t> bytes = Serialize(ansi);
  std::ofstream(dir + "/ansi.wab", std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
  EXPECT_THROW(book.Open(dir + "/ansi.wab"), WabError);
  EXPECT_FALSE(book.IsOpen());
}

TEST(WabComponent, ABookLeftWithoutContactsIsNotRewritten) {
  const std::string path = FreshBook(Scratch("wab-untouched"));
  const auto before = std::filesystem::last_write_time(path);
  const std::vector<uint8_t> bytes = ReadBytes(path);
  {
    AddressBook book;
    book.Open(path);
  }
  EXPECT_EQ(ReadBytes(path), bytes);
  EXPECT_EQ(std::filesystem::last_write_time(path), before);
}

// Every prefix of a small book and thousands of corrupted copies: each either reads or gives a
// WabError, never a crash or a hang (run under a sanitizer this also proves every read is in
// bounds).
TEST(WabReader, DamagedFilesGiveErrorsNotCrashes) {
  Book book = EmptyBook();
  AddContact(book, u"Anna", u"anna@example.com", 1);
  AddContact(book, u"Ben", u"", 2);
  const std::vector<uint8_t> good = Serialize(book);
  int errors = 0;
  for (size_t length = 0; length < good.size(); length += 7) {
    std::vector<uint8_t> cut(good.begin(), good.begin() + long(length));
    try {
      ParseBook(cut, "cut.wab");
    } catch (const WabError&) {
      ++errors;
    }
  }
  EXPECT_GT(errors, 0);
  std::mt19937 random(20240601);
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> bad = good;
    for (int flips = 0; flips < 4; ++flips) {
      // Most damage aimed at the header, the index and the records, where it matters.
      const size_t at =
          round % 2 ? random() % 0x80 : good.size() - 1 - random() % (good.size() - 0x7000);
      bad[at] = uint8_t(random());
    }
    try {
      for (const Contact& c : LiveContacts(ParseBook(bad, "bad.wab"))) (void)c;
    } catch (const WabError& error) {
      EXPECT_NE(std::string(error.what()).find("bad.wab"), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace lumivex::wab
