// Stores written by the writer, read back by three readers that nobody here wrote: libpff (its
// library, pffexport), libpst (readpst) and the npm package pst-extractor. Each must give back
// every folder, every item and every property as written, in all three encodings and, but for
// pst-extractor, which reads no ANSI store and no store with high encryption, in both layouts.
#include <libpff.h>

#include <QDateTime>
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

// Runs a reader; false when it is not installed, "FAILED" as its output when it fails.
bool RunReader(const QString& program, const QStringList& args, QByteArray* out, QString* why) {
  if (QStandardPaths::findExecutable(program).isEmpty()) {
    *why = program + " is not installed (./test installs it with the reader packages)";
    return false;
  }
  QProcess p;
  p.start(program, args);
  if (!p.waitForFinished(120000)) {
    *why = program + " did not finish";
    *out = "FAILED";
    return true;
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

// A string property: UTF-16 in a Unicode store, code page 1252 in an ANSI one.
QString StringProperty(libpff_item_t* item, uint32_t id, bool ansi) {
  const pst::Bytes raw = RawProperty(item, id, ansi ? pst::kPtString8 : pst::kPtString);
  if (ansi)
    return QString::fromLatin1(reinterpret_cast<const char*>(raw.data()),
                               static_cast<qsizetype>(raw.size()));
  return QString::fromUtf16(reinterpret_cast<const char16_t*>(raw.data()),
                            static_cast<qsizetype>(raw.size() / 2));
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
    LUMIVEX_MISSING(why.toStdString());
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
    LUMIVEX_MISSING(why.toStdString());
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
  if (!PstDump(QString::fromStdString(w.path), &folders, &why)) LUMIVEX_MISSING(why.toStdString());
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
  if (!PstDump(BinDir() + "/sample.pst", &folders, &why)) LUMIVEX_MISSING(why.toStdString());
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

// ---------------------------------------------------------------------------------------------
// The every-field store the build writes from data/edge/every-field.json, in both layouts: what
// the description holds is what libpff, pffexport and readpst give back.

QJsonArray EveryFieldItems() {
  QFile f(SourceDir() + "/data/edge/every-field.json");
  EXPECT_TRUE(f.open(QIODevice::ReadOnly));
  return QJsonDocument::fromJson(f.readAll())
      .object()["folders"]
      .toArray()[0]
      .toObject()["items"]
      .toArray();
}

// The bytes of a description's "file" or "data:" reference.
QByteArray DescribedBytes(const QString& ref) {
  if (ref.startsWith("data:"))
    return QByteArray::fromBase64(ref.mid(ref.indexOf(',') + 1).toLatin1());
  QFile f(SourceDir() + "/data/edge/" + ref);
  EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << ref.toStdString();
  return f.readAll();
}

// The files attached to a described item, in the order the store keeps them: its attachments,
// then its picture.
std::vector<std::pair<QString, QByteArray>> DescribedAttachments(const QJsonObject& item) {
  std::vector<std::pair<QString, QByteArray>> out;
  for (const QJsonValue& a : item["attachments"].toArray())
    out.emplace_back(a["name"].toString(), DescribedBytes(a["data"].toString()));
  if (item.contains("picture")) {
    const QByteArray bytes = DescribedBytes(item["picture"].toString());
    out.emplace_back(bytes.startsWith("\x89PNG") ? "ContactPicture.png" : "ContactPicture.jpg",
                     bytes);
  }
  return out;
}

bool IsAscii(const QString& s) {
  for (QChar c : s)
    if (c.unicode() > 0x7F) return false;
  return true;
}

class EveryFieldStore : public ::testing::TestWithParam<const char*> {
 protected:
  bool Ansi() const { return QString(GetParam()).contains("ansi"); }
  QString Store() const { return BinDir() + "/" + GetParam(); }
};

TEST_P(EveryFieldStore, LibpffGivesBackEveryFieldPictureAttachmentAndRtfBody) {
  const QJsonArray items = EveryFieldItems();
  ASSERT_FALSE(items.isEmpty());
  libpff_file_t* file = nullptr;
  ASSERT_EQ(libpff_file_initialize(&file, nullptr), 1);
  ASSERT_EQ(libpff_file_open(file, Store().toUtf8().constData(), LIBPFF_OPEN_READ, nullptr), 1)
      << Store().toStdString();
  {
    PffItem root, top, contacts;
    ASSERT_EQ(libpff_file_get_root_folder(file, &root.item, nullptr), 1);
    ASSERT_TRUE(SubFolder(root.item, "Top of Personal Folders", top));
    ASSERT_TRUE(SubFolder(top.item, "Contacts", contacts));
    int count = 0;
    libpff_folder_get_number_of_sub_messages(contacts.item, &count, nullptr);
    ASSERT_EQ(count, items.size());
    // Fields by their ids in the property lists of the mail client; named ones (PSETID_Address)
    // by their number.
    const std::pair<const char*, uint32_t> strings[] = {
        {"NickName", 0x3A4F},
        {"Profession", 0x3A46},
        {"Business2TelephoneNumber", 0x3A1B},
        {"Home2TelephoneNumber", 0x3A2F},
        {"CarTelephoneNumber", 0x3A1E},
        {"OtherFaxNumber", 0x3A23},
        {"AssistantTelephoneNumber", 0x3A2E},
        {"CallbackTelephoneNumber", 0x3A02},
        {"CompanyMainTelephoneNumber", 0x3A57},
        {"ISDNNumber", 0x3A2D},
        {"OtherTelephoneNumber", 0x3A1F},
        {"PrimaryTelephoneNumber", 0x3A1A},
        {"RadioTelephoneNumber", 0x3A1D},
        {"TelexNumber", 0x3A2C},
        {"TTYTDDTelephoneNumber", 0x3A4B},
        {"HomeAddressPostOfficeBox", 0x3A5E},
        {"OtherAddressStreet", 0x3A63},
        {"OtherAddressPostOfficeBox", 0x3A64},
        {"OtherAddressCity", 0x3A5F},
        {"OtherAddressState", 0x3A62},
        {"OtherAddressPostalCode", 0x3A61},
        {"OtherAddressCountry", 0x3A60},
        {"PersonalHomePage", 0x3A50},
        {"BusinessAddressPostOfficeBox", 0x804A},
        {"IMAddress", 0x8062},
        {"InternetFreeBusyAddress", 0x80D8},
        {"Email1OriginalDisplayName", 0x8084},
        {"Email2OriginalDisplayName", 0x8094},
        {"Email2AddressType", 0x8092},
    };
    for (int m = 0; m < count; ++m) {
      const QJsonObject item = items[m].toObject();
      const std::string where = "contact " + std::to_string(m + 1);
      PffItem message;
      ASSERT_EQ(libpff_folder_get_sub_message(contacts.item, m, &message.item, nullptr), 1);
      for (const auto& [field, id] : strings) {
        if (!item.contains(field)) continue;
        const QString expected = item[field].toString();
        if (Ansi() && !IsAscii(expected)) continue;  // "?" in code page 1252
        EXPECT_EQ(StringProperty(message.item, id, Ansi()).toStdString(), expected.toStdString())
            << where << " " << field;
      }
      if (item.contains("Gender")) {
        const int code =
            QStringList{"Unspecified", "Female", "Male"}.indexOf(item["Gender"].toString());
        const pst::Bytes raw = RawProperty(message.item, 0x3A4D, pst::kPtInt16);
        ASSERT_GE(raw.size(), 2u) << where;
        EXPECT_EQ(raw[0] | raw[1] << 8, code) << where;
      }
      if (item.contains("SearchKey")) {
        const pst::Bytes raw = RawProperty(message.item, 0x300B, pst::kPtBinary);
        EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(raw.data()),
                             static_cast<qsizetype>(raw.size()))
                      .toHex(),
                  item["SearchKey"].toString().toLatin1())
            << where;
      }
      if (item.contains("LastModificationTime")) {
        libpff_record_set_t* set = nullptr;
        ASSERT_EQ(libpff_item_get_record_set_by_index(message.item, 0, &set, nullptr), 1);
        libpff_record_entry_t* entry = nullptr;
        uint64_t filetime = 0;
        ASSERT_EQ(libpff_record_set_get_entry_by_type(set, 0x3008, 0x0040, &entry, 0, nullptr), 1);
        libpff_record_entry_get_data_as_filetime(entry, &filetime, nullptr);
        libpff_record_entry_free(&entry, nullptr);
        libpff_record_set_free(&set, nullptr);
        const QDateTime expected =
            QDateTime::fromString(item["LastModificationTime"].toString(), Qt::ISODate);
        EXPECT_EQ(static_cast<int64_t>(filetime / 10000000) - 11644473600,
                  expected.toSecsSinceEpoch())
            << where;
      }
      // PidLidHasPicture on a contact with a picture.
      const pst::Bytes has_picture = RawProperty(message.item, 0x8015, pst::kPtBoolean);
      EXPECT_EQ(!has_picture.empty() && has_picture[0] == 1, item.contains("picture")) << where;
      // Attachments byte for byte, the picture flagged as the contact photo and hidden.
      const auto expected = DescribedAttachments(item);
      int attachments = 0;
      libpff_message_get_number_of_attachments(message.item, &attachments, nullptr);
      ASSERT_EQ(attachments, static_cast<int>(expected.size())) << where;
      for (int a = 0; a < attachments; ++a) {
        PffItem attachment;
        ASSERT_EQ(libpff_message_get_attachment(message.item, a, &attachment.item, nullptr), 1);
        size64_t size = 0;
        ASSERT_EQ(libpff_attachment_get_data_size(attachment.item, &size, nullptr), 1);
        QByteArray data(static_cast<qsizetype>(size), '\0');
        libpff_attachment_data_seek_offset(attachment.item, 0, SEEK_SET, nullptr);
        ASSERT_EQ(libpff_attachment_data_read_buffer(
                      attachment.item, reinterpret_cast<uint8_t*>(data.data()), size, nullptr),
                  static_cast<ssize_t>(size));
        EXPECT_TRUE(data == expected[a].second) << where << " attachment " << a + 1;
        const bool photo = expected[a].first.startsWith("ContactPicture.");
        const pst::Bytes flag = RawProperty(attachment.item, 0x7FFF, pst::kPtBoolean);
        EXPECT_EQ(!flag.empty() && flag[0] == 1, photo) << where << " attachment " << a + 1;
        if (!Ansi() || IsAscii(expected[a].first)) {
          EXPECT_EQ(StringProperty(attachment.item, 0x3707, Ansi()), expected[a].first) << where;
        }
      }
      // A body kept only as compressed RTF: libpff's own decompression gives the RTF back.
      if (item.contains("RTFBody")) {
        size_t size = 0;
        ASSERT_EQ(libpff_message_get_rtf_body_size(message.item, &size, nullptr), 1) << where;
        std::string rtf(size, '\0');
        ASSERT_EQ(libpff_message_get_rtf_body(message.item, reinterpret_cast<uint8_t*>(rtf.data()),
                                              size, nullptr),
                  1);
        while (!rtf.empty() && rtf.back() == '\0') rtf.pop_back();
        EXPECT_EQ(rtf, item["RTFBody"].toString().toStdString()) << where;
        EXPECT_TRUE(StringProperty(message.item, 0x1000, Ansi()).isEmpty())
            << where << ": no plain body";
      }
    }
  }
  libpff_file_close(file, nullptr);
  libpff_file_free(&file, nullptr);
}

TEST_P(EveryFieldStore, PffexportWritesEveryAttachmentAndReadpstEveryContact) {
  const QJsonArray items = EveryFieldItems();
  const QString dir = ScratchDir(QString("every-field-") + (Ansi() ? "ansi" : "unicode"));
  QByteArray out;
  QString why;
  if (!RunReader("pffinfo", {Store()}, &out, &why)) LUMIVEX_MISSING(why.toStdString());
  ASSERT_NE(out, "FAILED") << why.toStdString();
  EXPECT_TRUE(out.contains(Ansi() ? "32-bit" : "64-bit")) << out.toStdString();
  if (!RunReader("pffexport", {"-q", "-t", dir + "/pff", Store()}, &out, &why))
    LUMIVEX_MISSING(why.toStdString());
  ASSERT_NE(out, "FAILED") << why.toStdString();
  const QString contacts = dir + "/pff.export/Top of Personal Folders/Contacts/";
  for (int m = 0; m < items.size(); ++m) {
    const bool list = items[m].toObject()["messageClass"].toString() == "IPM.DistList";
    const QString contact =
        contacts +
        QString(list ? "DistributionList%1/" : "Contact%1/").arg(m + 1, 5, 10, QChar('0'));
    EXPECT_TRUE(QDir(contact).exists()) << contact.toStdString();
    const auto expected = DescribedAttachments(items[m].toObject());
    const QStringList files = QDir(contact + "Attachments").entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(files.size(), static_cast<qsizetype>(expected.size())) << contact.toStdString();
    for (size_t a = 0; a < expected.size(); ++a) {
      QFile f(contact + "Attachments/" + files[static_cast<qsizetype>(a)]);
      ASSERT_TRUE(f.open(QIODevice::ReadOnly));
      EXPECT_TRUE(f.readAll() == expected[a].second)
          << files[static_cast<qsizetype>(a)].toStdString();
    }
  }
  QFile first(contacts + "Contact00001/Contact.txt");
  ASSERT_TRUE(first.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(first.readAll());
  for (const char* line :
       {"Business phone number 2:\t\t+33 1 42 68 53 02",
        "Callback phone number:\t\t+33 1 42 68 53 11", "Primary phone number:\t\t+33 1 42 68 53 40",
        "Flags:\t\t\t\t\t0x00000011 (Read, Has attachments)",
        "Company name:\t\t\t\tContoso, Ltd; Research \\ Development"})
    EXPECT_TRUE(text.contains(QString::fromUtf8(line))) << line << "\n" << text.toStdString();

  if (!RunReader("readpst", {"-D", "-cv", "-q", "-o", dir, Store()}, &out, &why))
    LUMIVEX_MISSING(why.toStdString());
  ASSERT_NE(out, "FAILED") << why.toStdString();
  QFile vcards(dir + "/Contacts.contacts");
  ASSERT_TRUE(vcards.open(QIODevice::ReadOnly));
  const QString cards = QString::fromUtf8(vcards.readAll());
  // readpst writes contacts only (no list), and nests the assistant as an AGENT card: only
  // cards at the start of a line count.
  qsizetype contact_items = 0;
  for (const QJsonValue& item : items)
    contact_items += item["messageClass"].toString("IPM.Contact") == "IPM.Contact";
  EXPECT_EQ(cards.count(QRegularExpression("(^|\n)BEGIN:VCARD")), contact_items);
  for (const char* line : {"NICKNAME:Mimi", "ROLE:Physicist", "TEL;TYPE=isdn:+33 1 42 68 53 20",
                           "TEL;TYPE=car,voice:+33 6 98 76 54 32", "TEL;TYPE=bbs:42 68 53 60",
                           "TEL;TYPE=pcs:+33 1 42 68 53 50", "TEL;TYPE=fax,pref:+33 1 40 00 99 99"})
    EXPECT_TRUE(cards.contains(QString::fromUtf8(line))) << line;
  if (!Ansi()) {
    for (const char* line : {"ADR;TYPE=postal:Postfach 10 20 30;;Hauptstraße "
                             "5\\nHinterhaus;München;Bayern;80331;Deutschland",
                             "ADR;TYPE=work:BP 1234;;12 rue de la Paix\\nBâtiment B\\, 3ᵉ "
                             "étage;Paris;Île-de-France;75002;France",
                             "NOTE:First line of the note\\, with a comma.\\nSecond line\\; with a "
                             "semicolon and a backslash \\\\ here."})
      EXPECT_TRUE(cards.contains(QString::fromUtf8(line))) << line;
  }
}

// The values of a multi-valued binary property: count, offsets, then the values.
std::vector<pst::Bytes> MultiBinaryValues(const pst::Bytes& v) {
  auto u32 = [&](size_t at) {
    return static_cast<uint32_t>(v[at] | v[at + 1] << 8 | v[at + 2] << 16 | v[at + 3] << 24);
  };
  std::vector<pst::Bytes> out;
  if (v.size() < 4) return out;
  const uint32_t count = u32(0);
  for (uint32_t i = 0; i < count; ++i) {
    const size_t begin = u32(4 + 4 * i), end = i + 1 < count ? u32(8 + 4 * i) : v.size();
    out.emplace_back(v.begin() + static_cast<std::ptrdiff_t>(begin),
                     v.begin() + static_cast<std::ptrdiff_t>(end));
  }
  return out;
}

// The CRC-32 of Ethernet and zip, bit by bit.
uint32_t Crc32Ieee(const pst::Bytes& data, uint32_t crc) {
  for (uint8_t b : data) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return crc;
}

// A one-off entry id's provider, then version and flags, then name, address type and address as
// zero-ended UTF-16 (the flags' 0x8000 bit says Unicode).
std::vector<QString> OneOffParts(const pst::Bytes& id) {
  const pst::Bytes provider = {0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19,
                               0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02};
  EXPECT_TRUE(id.size() > 24 && std::equal(provider.begin(), provider.end(), id.begin() + 4));
  EXPECT_TRUE(id.size() > 24 && (id[22] | id[23] << 8) & 0x8000) << "Unicode strings";
  std::vector<QString> parts;
  QString part;
  for (size_t at = 24; at + 1 < id.size(); at += 2) {
    const char16_t c = static_cast<char16_t>(id[at] | id[at + 1] << 8);
    if (c == 0) {
      parts.push_back(part);
      part.clear();
    } else {
      part += QChar(c);
    }
  }
  return parts;
}

// A list's members: each contact member a wrapped entry id pointing at the contact's entry in
// this store, each one-off member its one-off entry id; beside them one-off entries with the
// name and address of every member; and the checksum of the member entries.
TEST_P(EveryFieldStore, ListMembersPointAtTheirContactsWithOneOffEntriesBeside) {
  const QJsonArray items = EveryFieldItems();
  libpff_file_t* file = nullptr;
  ASSERT_EQ(libpff_file_initialize(&file, nullptr), 1);
  ASSERT_EQ(libpff_file_open(file, Store().toUtf8().constData(), LIBPFF_OPEN_READ, nullptr), 1);
  {
    PffItem store, root, top, contacts;
    ASSERT_EQ(libpff_file_get_message_store(file, &store.item, nullptr), 1);
    const pst::Bytes record_key = RawProperty(store.item, 0x0FF9, pst::kPtBinary);
    ASSERT_EQ(libpff_file_get_root_folder(file, &root.item, nullptr), 1);
    ASSERT_TRUE(SubFolder(root.item, "Top of Personal Folders", top));
    ASSERT_TRUE(SubFolder(top.item, "Contacts", contacts));
    std::vector<PffItem> messages(static_cast<size_t>(items.size()));
    std::map<QString, size_t> labels;
    for (qsizetype m = 0; m < items.size(); ++m) {
      ASSERT_EQ(libpff_folder_get_sub_message(contacts.item, static_cast<int>(m), &messages[m].item,
                                              nullptr),
                1);
      if (items[m].toObject().contains("label"))
        labels[items[m].toObject()["label"].toString()] = static_cast<size_t>(m);
    }
    int lists = 0;
    for (qsizetype m = 0; m < items.size(); ++m) {
      const QJsonObject list = items[m].toObject();
      if (!list.contains("members")) continue;
      ++lists;
      libpff_item_t* item = messages[m].item;
      if (!Ansi() || IsAscii(list["DLName"].toString())) {
        EXPECT_EQ(StringProperty(item, 0x8053, Ansi()), list["DLName"].toString());
      }
      const auto entries =
          MultiBinaryValues(RawProperty(item, 0x8055, pst::kPtBinary | pst::kPtMultiFlag));
      const auto one_offs =
          MultiBinaryValues(RawProperty(item, 0x8054, pst::kPtBinary | pst::kPtMultiFlag));
      const QJsonArray members = list["members"].toArray();
      ASSERT_EQ(entries.size(), static_cast<size_t>(members.size()));
      ASSERT_EQ(one_offs.size(), entries.size());
      uint32_t crc = 0xFFFFFFFFu;
      for (qsizetype i = 0; i < members.size(); ++i) {
        const QJsonObject member = members[i].toObject();
        const pst::Bytes& entry = entries[static_cast<size_t>(i)];
        crc = Crc32Ieee(entry, crc);
        const std::vector<QString> parts = OneOffParts(one_offs[static_cast<size_t>(i)]);
        ASSERT_EQ(parts.size(), 3u) << "member " << i;
        if (!member.contains("contact")) {
          EXPECT_TRUE(entry == one_offs[static_cast<size_t>(i)])
              << "a one-off member is its one-off entry";
          EXPECT_EQ(parts[0], member["name"].toString());
          EXPECT_EQ(parts[1], "SMTP");
          EXPECT_EQ(parts[2], member["address"].toString());
          continue;
        }
        const int email = member.contains("email") ? member["email"].toInt() : 1;
        const pst::Bytes wrapped = {0,    0,    0,    0,    0xC0, 0x91, 0xAD, 0xD3, 0x51, 0x9D,
                                    0xCF, 0x11, 0xA4, 0xA9, 0x00, 0xAA, 0x00, 0x47, 0xFA, 0xA4};
        ASSERT_EQ(entry.size(), 21u + 24u) << "member " << i;
        EXPECT_TRUE(std::equal(wrapped.begin(), wrapped.end(), entry.begin()));
        // A contact (3), its e-mail address 1-3 (values 4-6 in bits 4-6), not a one-off (0x80).
        EXPECT_EQ(entry[20], 0x80 | (3 + email) << 4 | 0x03) << "member " << i;
        // The contact's entry id: four zero bytes, the store's record key, the node id.
        const size_t target = labels.at(member["contact"].toString());
        uint32_t nid = 0;
        libpff_item_get_identifier(messages[target].item, &nid, nullptr);
        pst::Bytes expected(4, 0);
        expected.insert(expected.end(), record_key.begin(), record_key.end());
        for (int k = 0; k < 4; ++k) expected.push_back(static_cast<uint8_t>(nid >> (8 * k)));
        EXPECT_TRUE(pst::Bytes(entry.begin() + 21, entry.end()) == expected)
            << "member " << i << " points elsewhere";
        // The one-off entry beside it: the e-mail entry of that contact as the contact holds it
        // (an ANSI store holds it in code page 1252, the one-off entry in Unicode).
        const uint32_t lid = 0x8080 + 0x10 * static_cast<uint32_t>(email - 1);
        for (uint32_t k = 0; k < 3; ++k)
          if (!Ansi() || IsAscii(parts[k])) {
            EXPECT_EQ(parts[k],
                      StringProperty(messages[target].item, lid + (k == 0 ? 0 : k + 1), Ansi()))
                << "member " << i << " part " << k;
          }
      }
      const pst::Bytes checksum = RawProperty(item, 0x804C, pst::kPtInt32);
      ASSERT_GE(checksum.size(), 4u);
      EXPECT_EQ(static_cast<uint32_t>(checksum[0] | checksum[1] << 8 | checksum[2] << 16 |
                                      checksum[3] << 24),
                ~crc);
    }
    EXPECT_EQ(lists, 1);
  }
  libpff_file_close(file, nullptr);
  libpff_file_free(&file, nullptr);
}

// pst-extractor, the third reader, gives back every attachment byte for byte with its name and
// MIME type (it reads no ANSI store).
TEST_P(EveryFieldStore, PstExtractorGivesBackEveryAttachment) {
  if (Ansi()) GTEST_SKIP() << "pst-extractor reads no ANSI store";
  QJsonArray folders;
  QString why;
  if (!PstDump(Store(), &folders, &why)) LUMIVEX_MISSING(why.toStdString());
  const QJsonArray items = EveryFieldItems();
  QJsonArray got;
  for (const QJsonValue& f : folders)
    if (f["path"].toString() == "Top of Personal Folders/Contacts") got = f["items"].toArray();
  ASSERT_EQ(got.size(), items.size());
  for (qsizetype m = 0; m < items.size(); ++m) {
    const auto expected = DescribedAttachments(items[m].toObject());
    const QJsonArray attachments = got[m].toObject()["attachments"].toArray();
    ASSERT_EQ(attachments.size(), static_cast<qsizetype>(expected.size())) << "item " << m + 1;
    for (size_t a = 0; a < expected.size(); ++a) {
      const QJsonObject read = attachments[static_cast<qsizetype>(a)].toObject();
      EXPECT_EQ(read["name"].toString(), expected[a].first);
      EXPECT_TRUE(QByteArray::fromHex(read["hex"].toString().toLatin1()) == expected[a].second)
          << expected[a].first.toStdString();
      const QString mime = expected[a].first.endsWith(".jpg")   ? "image/jpeg"
                           : expected[a].first.endsWith(".png") ? "image/png"
                                                                : "text/plain";
      EXPECT_EQ(read["mimeTag"].toString(), mime) << expected[a].first.toStdString();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, EveryFieldStore,
                         ::testing::Values("every-field.pst", "every-field-ansi.pst"),
                         [](const auto& info) {
                           return std::string(QString(info.param).contains("ansi") ? "Ansi"
                                                                                   : "Unicode");
                         });

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
