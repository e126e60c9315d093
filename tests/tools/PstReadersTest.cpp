// Stores written by the writer, read back by three readers that nobody here wrote: libpff (its
// library, pffexport), libpst (readpst) and the npm package pst-extractor. Each must give back
// every folder, every item and every property as written, in all three encodings and, but for
// pst-extractor, which reads no ANSI store and no store with high encryption, in both layouts.
#include <libpff.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <cstring>
#include <set>

#include "tests/support/TestPaths.h"
#include "tests/tools/FeatureStore.h"

namespace lumivex::testing {
namespace {

using pst::Encoding;
using pst::FileLayout;

struct Kind {
  Encoding encoding;
  FileLayout layout;
  bool Ansi() const { return layout == FileLayout::Ansi; }
  std::string Name() const {
    return std::string(Ansi() ? "Ansi" : "") + (encoding == Encoding::None ? "NoEncoding"
                                                : encoding == Encoding::Compressible
                                                    ? "Compressible"
                                                    : "Cyclic");
  }
};

void PrintTo(const Kind& kind, std::ostream* out) {
  *out << kind.Name();
}

struct Written {
  std::string path;
  FeatureStore store;
};

const Written& StoreFor(const Kind& kind) {
  static std::map<std::string, Written> stores;
  auto it = stores.find(kind.Name());
  if (it == stores.end()) {
    // A folder per test: ctest runs the tests of this program side by side.
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const QString dir = ScratchDir(QString("pstreaders-%1").arg(test->name()).replace('/', '-'));
    const std::string path = (dir + "/features.pst").toStdString();
    it = stores
             .emplace(kind.Name(),
                      Written{path, FeatureStore::Write(path, kind.encoding, 1500, kind.layout)})
             .first;
  }
  return it->second;
}

// Runs a reader; empty when it is not installed.
bool RunReader(const QString& program, const QStringList& args, QByteArray* out, QString* why) {
  if (QStandardPaths::findExecutable(program).isEmpty()) {
    *why = program + " is not installed (./test installs it with the reader packages)";
    return false;
  }
  QProcess p;
  p.start(program, args);
  if (!p.waitForFinished(120000)) {
    *why = program + " did not finish";
    return false;
  }
  *out = p.readAllStandardOutput();
  if (p.exitCode() != 0) {
    *why = program + " failed: " + QString::fromUtf8(p.readAllStandardError());
    *out = "FAILED";
  }
  return true;
}

class PstReaders : public ::testing::TestWithParam<Kind> {};

// ---------------------------------------------------------------------------------------------
// libpff, through its library: raw bytes of every property.

struct PffItem {
  libpff_item_t* item = nullptr;
  ~PffItem() {
    if (item) libpff_item_free(&item, nullptr);
  }
};

std::string FolderName(libpff_item_t* folder) {
  size_t size = 0;
  if (libpff_folder_get_utf8_name_size(folder, &size, nullptr) != 1 || size == 0) return {};
  std::string name(size, '\0');
  libpff_folder_get_utf8_name(folder, reinterpret_cast<uint8_t*>(name.data()), size, nullptr);
  name.resize(size - 1);
  return name;
}

// Opens a sub folder by name; the returned holder owns it.
bool SubFolder(libpff_item_t* folder, const std::string& name, PffItem& out) {
  int count = 0;
  libpff_folder_get_number_of_sub_folders(folder, &count, nullptr);
  for (int i = 0; i < count; ++i) {
    libpff_item_t* sub = nullptr;
    if (libpff_folder_get_sub_folder(folder, i, &sub, nullptr) != 1) continue;
    if (FolderName(sub) == name) {
      out.item = sub;
      return true;
    }
    libpff_item_free(&sub, nullptr);
  }
  return false;
}

// The value of a record entry, which is freed.
pst::Bytes TakeData(libpff_record_entry_t* entry) {
  size_t size = 0;
  libpff_record_entry_get_data_size(entry, &size, nullptr);
  pst::Bytes data(size);
  if (size > 0) libpff_record_entry_get_data(entry, data.data(), size, nullptr);
  libpff_record_entry_free(&entry, nullptr);
  return data;
}

pst::Bytes RawProperty(libpff_item_t* item, uint32_t id, uint32_t type) {
  libpff_record_set_t* set = nullptr;
  libpff_record_entry_t* entry = nullptr;
  pst::Bytes data;
  if (libpff_item_get_record_set_by_index(item, 0, &set, nullptr) != 1) return data;
  if (libpff_record_set_get_entry_by_type(set, id, type, &entry, 0, nullptr) == 1)
    data = TakeData(entry);
  libpff_record_set_free(&set, nullptr);
  return data;
}

void CheckProperty(libpff_record_set_t* set, const pst::MessageProperty& p,
                   const std::string& where) {
  libpff_record_entry_t* entry = nullptr;
  int found;
  if (p.key.IsNamed() && !p.key.number) {
    found = libpff_record_set_get_entry_by_utf8_name(
        set, reinterpret_cast<const uint8_t*>(p.key.name.data()), p.key.name.size(), p.type, &entry,
        0, nullptr);
  } else {
    found = libpff_record_set_get_entry_by_type(set, p.key.IsNamed() ? *p.key.number : p.key.id,
                                                p.type, &entry, 0, nullptr);
  }
  ASSERT_EQ(found, 1) << where << ": libpff does not find " << JsonKey(p.key);
  if (p.key.IsNamed()) {
    libpff_name_to_id_map_entry_t* name = nullptr;
    ASSERT_EQ(libpff_record_entry_get_name_to_id_map_entry(entry, &name, nullptr), 1) << where;
    uint8_t guid[16];
    ASSERT_EQ(libpff_name_to_id_map_entry_get_guid(name, guid, 16, nullptr), 1);
    EXPECT_EQ(0, std::memcmp(guid, p.key.set->bytes.data(), 16))
        << where << ": " << JsonKey(p.key) << " is mapped into another property set";
  }
  pst::Bytes data = TakeData(entry);
  // Values of four bytes or less sit in a four-byte field.
  if (pst::IsInlineType(p.type) && data.size() >= p.value.size()) data.resize(p.value.size());
  EXPECT_TRUE(data == p.value) << where << ": " << JsonKey(p.key) << " differs (" << data.size()
                               << " bytes read, " << p.value.size() << " written)";
}

TEST_P(PstReaders, LibpffGivesBackEveryProperty) {
  const Written& w = StoreFor(GetParam());
  libpff_file_t* file = nullptr;
  ASSERT_EQ(libpff_file_initialize(&file, nullptr), 1);
  ASSERT_EQ(libpff_file_open(file, w.path.c_str(), LIBPFF_OPEN_READ, nullptr), 1);
  uint8_t encryption = 99;
  libpff_file_get_encryption_type(file, &encryption, nullptr);
  // libpff's own names: 0 none, 1 compressible, 2 high.
  EXPECT_EQ(encryption, static_cast<uint8_t>(GetParam().encoding));
  uint8_t file_type = 0;
  libpff_file_get_type(file, &file_type, nullptr);
  EXPECT_EQ(file_type, GetParam().Ansi() ? LIBPFF_FILE_TYPE_32BIT : LIBPFF_FILE_TYPE_64BIT);
  {
    PffItem root, top;
    ASSERT_EQ(libpff_file_get_root_folder(file, &root.item, nullptr), 1);
    ASSERT_TRUE(SubFolder(root.item, "Top of Personal Folders", top));
    {
      // The default contacts folder's entry id, on the root folder and on the Inbox: four zero
      // flag bytes, the store's record key, the folder's node id.
      PffItem store, contacts, inbox;
      ASSERT_EQ(libpff_file_get_message_store(file, &store.item, nullptr), 1);
      ASSERT_TRUE(SubFolder(top.item, "Contacts", contacts));
      ASSERT_TRUE(SubFolder(top.item, "Inbox", inbox));
      uint32_t nid = 0;
      libpff_item_get_identifier(contacts.item, &nid, nullptr);
      pst::Bytes expected(4, 0);
      const pst::Bytes key = RawProperty(store.item, 0x0FF9, pst::kPtBinary);
      ASSERT_EQ(key.size(), 16u);
      expected.insert(expected.end(), key.begin(), key.end());
      for (int i = 0; i < 4; ++i) expected.push_back(static_cast<uint8_t>(nid >> (8 * i)));
      EXPECT_TRUE(RawProperty(root.item, 0x36D1, pst::kPtBinary) == expected);
      EXPECT_TRUE(RawProperty(inbox.item, 0x36D1, pst::kPtBinary) == expected);
    }
    for (const ExpectedFolder& f : w.store.folders) {
      std::vector<PffItem> chain(f.path.size());
      libpff_item_t* at = top.item;
      for (size_t i = 0; i < f.path.size(); ++i) {
        ASSERT_TRUE(SubFolder(at, f.path[i], chain[i])) << "libpff misses folder " << f.path[i];
        at = chain[i].item;
      }
      int messages = -1;
      libpff_folder_get_number_of_sub_messages(at, &messages, nullptr);
      ASSERT_EQ(messages, static_cast<int>(f.items.size())) << f.path.back();
      for (int m = 0; m < messages; ++m) {
        PffItem message;
        ASSERT_EQ(libpff_folder_get_sub_message(at, m, &message.item, nullptr), 1);
        libpff_record_set_t* set = nullptr;
        ASSERT_EQ(libpff_item_get_record_set_by_index(message.item, 0, &set, nullptr), 1);
        const std::string where = f.path.back() + " item " + std::to_string(m + 1);
        for (const pst::MessageProperty& p : f.items[m].properties) CheckProperty(set, p, where);
        libpff_record_set_free(&set, nullptr);
        if (HasFatalFailure()) break;
      }
    }
  }
  libpff_file_close(file, nullptr);
  libpff_file_free(&file, nullptr);
}

// ---------------------------------------------------------------------------------------------
// pffexport

TEST_P(PstReaders, PffexportExportsEveryItem) {
  const Written& w = StoreFor(GetParam());
  const QString target =
      ScratchDir(QString::fromStdString("pffexport-" + GetParam().Name())) + "/out";
  QByteArray out;
  QString why;
  if (!RunReader("pffexport", {"-q", "-t", target, QString::fromStdString(w.path)}, &out, &why))
    GTEST_SKIP() << why.toStdString();
  ASSERT_NE(out, "FAILED") << why.toStdString();
  for (const ExpectedFolder& f : w.store.folders) {
    QString dir = target + ".export/Top of Personal Folders";
    for (const std::string& part : f.path) dir += "/" + QString::fromStdString(part);
    const QStringList items =
        QDir(dir)
            .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
            .filter(QRegularExpression("^(Contact|Message|Item|Distribution)"));
    EXPECT_EQ(static_cast<size_t>(items.size()), f.items.size()) << dir.toStdString();
  }
  QFile rich(target + ".export/Top of Personal Folders/Contacts/Contact00001/Contact.txt");
  ASSERT_TRUE(rich.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(rich.readAll());
  for (const char* line :
       {"Given name:\t\t\t\tAmélie", "Surname:\t\t\t\tLefèvre", "Company name:\t\t\t\tContoso",
        "Email address 1:\t\t\tamelie@contoso.example",
        "Mobile phone number:\t\t\t+33 6 12 34 56 78"})
    EXPECT_TRUE(text.contains(QString::fromUtf8(line))) << line << "\n" << text.toStdString();
}

// ---------------------------------------------------------------------------------------------
// readpst

TEST_P(PstReaders, ReadpstWritesEveryContactAsVcard) {
  const Written& w = StoreFor(GetParam());
  const QString target = ScratchDir(QString::fromStdString("readpst-" + GetParam().Name()));
  QByteArray out;
  QString why;
  if (!RunReader("readpst", {"-D", "-cv", "-q", "-o", target, QString::fromStdString(w.path)}, &out,
                 &why))
    GTEST_SKIP() << why.toStdString();
  ASSERT_NE(out, "FAILED") << why.toStdString();
  std::map<std::string, QString> vcards;
  QDirIterator it(target, {"*.contacts"}, QDir::Files, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    QFile f(it.next());
    f.open(QIODevice::ReadOnly);
    vcards[it.fileInfo().completeBaseName().toStdString()] += QString::fromUtf8(f.readAll());
  }
  for (const ExpectedFolder& f : w.store.folders) {
    // readpst skips an item whose properties need a B-tree of two levels on the heap, more than
    // 447: the ANSI store's item of 700 subnodes has that many (libpff reads it whole).
    size_t contacts = 0;
    for (const ExpectedItem& i : f.items)
      contacts += i.message_class == "IPM.Contact" && i.properties.size() <= 447;
    if (contacts == 0) continue;
    const QString& text = vcards[f.path.back()];
    EXPECT_EQ(static_cast<size_t>(text.count(QRegularExpression("(^|\n)BEGIN:VCARD"))), contacts)
        << f.path.back();
  }
  const QString& contacts = vcards["Contacts"];
  // An ANSI store holds the note in code page 1252, which has the dash and the accented letters
  // but neither Japanese nor Greek.
  const char* note_line = GetParam().Ansi() ? "NOTE:Line one\\nLine two — ünïcödé ??? ????????"
                                            : "NOTE:Line one\\nLine two — ünïcödé 日本語 Ελληνικά";
  for (const char* line :
       {"FN:Lefèvre\\, Amélie", "N:Lefèvre;Amélie;Claire;Dr.;PhD", "EMAIL:amelie@contoso.example",
        "EMAIL:amelie@home.example", "TEL;TYPE=pager:+33 1 40 00 12 12",
        "ADR;TYPE=work:;;12 rue de la Paix;Paris;Île-de-France;75002;France",
        "ADR;TYPE=home:;;3 place de l'Église;Besançon;Doubs;25000;France", "TITLE:Chief Scientist",
        "ORG:Contoso", note_line})
    EXPECT_TRUE(contacts.contains(QString::fromUtf8(line))) << line;
  // The note of a two-level data tree comes back whole.
  const qsizetype note = contacts.indexOf("NOTE:A very long note 0.");
  ASSERT_GE(note, 0);
  const qsizetype end = contacts.indexOf('\n', note);
  EXPECT_GE(static_cast<size_t>(end - note - 5), w.store.long_note_chars);
}

// ---------------------------------------------------------------------------------------------
// pst-extractor

// What pst-dump.js prints for a value: single-valued strings as text, everything else as hex.
QString ExpectedJson(uint16_t type, const pst::Bytes& v) {
  if (type == pst::kPtString)
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(v.data()),
                              static_cast<qsizetype>(v.size() / 2));
  return QString::fromLatin1(
      QByteArray(reinterpret_cast<const char*>(v.data()), static_cast<qsizetype>(v.size()))
          .toHex());
}

// The folders pst-dump.js prints for `store`; false, saying why, when node or the package is
// missing. A reader that fails is a failure of the test, with no folders.
bool PstDump(const QString& store, QJsonArray* folders, QString* why) {
  const QString js = SourceDir() + "/tests/js";
  *why = "tests/js/node_modules is missing: ./test installs the JavaScript readers";
  QByteArray out;
  if (!QDir(js + "/node_modules/pst-extractor").exists() ||
      !RunReader("node", {js + "/pst-dump.js", store}, &out, why))
    return false;
  EXPECT_NE(out, "FAILED") << why->toStdString();
  *folders = QJsonDocument::fromJson(out).object().value("folders").toArray();
  return true;
}

// pst-extractor reads no ANSI store, not even one that Outlook wrote, and refuses stores with
// high encryption ("PST is encrypted"): Unicode stores without it only.
class PstExtractor : public PstReaders {};

TEST_P(PstExtractor, GivesBackEveryProperty) {
  const Written& w = StoreFor(GetParam());
  QJsonArray folders;
  QString why;
  if (!PstDump(QString::fromStdString(w.path), &folders, &why)) GTEST_SKIP() << why.toStdString();
  ASSERT_FALSE(folders.isEmpty());
  for (const ExpectedFolder& f : w.store.folders) {
    QString path = "Top of Personal Folders";
    for (const std::string& part : f.path) path += "/" + QString::fromStdString(part);
    QJsonObject folder;
    for (const QJsonValue& v : folders)
      if (v.toObject().value("path").toString() == path) folder = v.toObject();
    ASSERT_FALSE(folder.isEmpty()) << "pst-extractor misses " << path.toStdString();
    EXPECT_EQ(folder.value("containerClass").toString().toStdString(), f.container_class);
    const QJsonArray items = folder.value("items").toArray();
    ASSERT_EQ(static_cast<size_t>(items.size()), f.items.size()) << path.toStdString();
    for (size_t i = 0; i < f.items.size(); ++i) {
      const QJsonObject got = items[static_cast<qsizetype>(i)].toObject();
      EXPECT_EQ(got.value("0x001A").toString().toStdString(), f.items[i].message_class);
      for (const pst::MessageProperty& p : f.items[i].properties) {
        const QString key = QString::fromStdString(JsonKey(p.key));
        ASSERT_TRUE(got.contains(key))
            << path.toStdString() << " item " << i + 1 << " lacks " << key.toStdString();
        // A value held in the property's own four-byte field comes as all four bytes.
        const QString expected = ExpectedJson(p.type, p.value);
        const QString read = got.value(key).toString();
        EXPECT_TRUE((pst::IsInlineType(p.type) ? read.left(expected.size()) : read) == expected)
            << path.toStdString() << " item " << i + 1 << " " << key.toStdString() << ": read "
            << read.left(80).toStdString() << ", written " << expected.left(80).toStdString();
      }
    }
  }
}

// The sample store ./run opens: what the description promises, as pst-extractor reads it.
TEST(SampleStore, HoldsWhatItsDescriptionPromises) {
  QJsonArray folders;
  QString why;
  if (!PstDump(BinDir() + "/sample.pst", &folders, &why)) GTEST_SKIP() << why.toStdString();
  std::map<QString, QJsonArray> items;
  std::map<QString, QString> classes;
  for (const QJsonValue& v : folders) {
    items[v.toObject().value("path").toString()] = v.toObject().value("items").toArray();
    classes[v.toObject().value("path").toString()] =
        v.toObject().value("containerClass").toString();
  }
  const QJsonArray contacts = items["Top of Personal Folders/Contacts"];
  EXPECT_GE(contacts.size(), 45);
  EXPECT_EQ(items["Top of Personal Folders/Contacts/Suppliers"].size(), 3);
  EXPECT_EQ(classes["Top of Personal Folders/Contacts/Suppliers"], "IPF.Contact");
  EXPECT_EQ(items["Top of Personal Folders/Inbox"].size(), 2);
  EXPECT_EQ(classes["Top of Personal Folders/Inbox"], "IPF.Note");
  int lists = 0, long_bodies = 0, multi_line = 0, birthdays = 0, non_latin = 0, empty = 0;
  std::set<QString> keys;
  for (const QJsonValue& v : contacts) {
    const QJsonObject c = v.toObject();
    for (const QString& k : c.keys()) keys.insert(k);
    lists += c.value("0x001A").toString() == "IPM.DistList";
    const QString body = c.value("0x1000").toString();
    long_bodies += body.size() > 255;
    multi_line += body.contains("\r\n");
    birthdays += c.contains("0x3A42");
    non_latin += c.value("0x3A11").toString().contains(
        QRegularExpression("[\\x{0400}-\\x{04FF}\\x{0370}-\\x{03FF}\\x{4E00}-\\x{9FFF}]"));
    for (const QString& k : c.keys())
      empty += c.value(k).isString() && c.value(k).toString().isEmpty();
  }
  EXPECT_EQ(lists, 1);
  EXPECT_GE(long_bodies, 1);
  EXPECT_GE(multi_line, 1);
  EXPECT_GE(birthdays, 1);
  EXPECT_GE(non_latin, 3);
  EXPECT_GE(empty, 1) << "some field present and empty";
  // Every field of the mail client somewhere.
  for (const char* key :
       {"0x3A06",     "0x3A11",       "0x3A44",     "0x3001",     "0x3A16", "0x3A18",
        "0x3A17",     "0x3A45",       "0x3A05",     "0x1000",     "0x3A08", "0x3A09",
        "0x3A1C",     "0x3A21",       "0x3A24",     "0x3A25",     "0x3A19", "lid:0x8045",
        "lid:0x8046", "lid:0x8047",   "lid:0x8048", "lid:0x8049", "0x3A5D", "0x3A59",
        "0x3A5C",     "0x3A5B",       "0x3A5A",     "lid:0x802B", "0x3A42", "0x3A41",
        "lid:0x8083", "lid:0x8093",   "lid:0x80A3", "0x3A4E",     "0x3A30", "0x3A48",
        "0x3A58",     "name:Keywords"})
    EXPECT_TRUE(keys.count(key)) << key;
}

INSTANTIATE_TEST_SUITE_P(Kinds, PstReaders,
                         ::testing::Values(Kind{Encoding::Compressible, FileLayout::Unicode},
                                           Kind{Encoding::None, FileLayout::Unicode},
                                           Kind{Encoding::Cyclic, FileLayout::Unicode},
                                           Kind{Encoding::Compressible, FileLayout::Ansi},
                                           Kind{Encoding::Cyclic, FileLayout::Ansi}),
                         [](const auto& info) { return info.param.Name(); });
INSTANTIATE_TEST_SUITE_P(Kinds, PstExtractor,
                         ::testing::Values(Kind{Encoding::Compressible, FileLayout::Unicode},
                                           Kind{Encoding::None, FileLayout::Unicode}),
                         [](const auto& info) { return info.param.Name(); });

}  // namespace
}  // namespace lumivex::testing
