// Our reader against libpff: on every real store file, the sample store and a
// store that uses every feature of our writer, both give the same folders, the same entries in
// the same order and the same properties, byte for byte, with the same meaning for named ones.
// Files our reader leaves aside go to libpff.
#include "source/ContactProperties.h"
#include "source/MailStore.h"
#include "source/PstReader.h"
#include "source/StoreFile.h"
#include "tests/support/TestPaths.h"
#include "tests/tools/FeatureStore.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <functional>
#include <random>

namespace lumivex {
namespace {

using storefile::ReaderChoice;
using storefile::StoreFile;
using storefile::StoreItem;
using testing::ScratchDir;

const storefile::Guid kPsMapi = {0x28, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

std::string Tag(uint32_t id) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X", id);
  return text;
}

void CompareProperties(StoreFile& theirs, const StoreItem& a, StoreFile& ours, const StoreItem& b,
                       const std::string& where) {
  ASSERT_EQ(a.PropertyCount(), b.PropertyCount()) << where;
  for (int i = 0; i < a.PropertyCount(); ++i) {
    uint32_t id = 0, type = 0, ourType = 0, ourId = 0;
    ASSERT_TRUE(a.PropertyTag(i, id, type)) << where;
    const int j = b.Find(id);
    ASSERT_GE(j, 0) << where << " property " << Tag(id);
    ASSERT_TRUE(b.PropertyTag(j, ourId, ourType));
    EXPECT_EQ(type, ourType) << where << " property " << Tag(id);
    QByteArray x, y;
    if (a.Data(i, x)) {
      ASSERT_TRUE(b.Data(j, y)) << where << " property " << Tag(id);
      // libpff gives fixed-size values in the width of its own type; compare what both hold.
      EXPECT_EQ(x.left(y.size()), y.left(x.size())) << where << " property " << Tag(id);
    }
    if (id >= 0x8000) {
      const storefile::NamedKey* n = theirs.Named(id, a, i);
      const storefile::NamedKey* m = ours.Named(id, b, j);
      ASSERT_EQ(n == nullptr, m == nullptr) << where << " named " << Tag(id);
      if (n != nullptr) {
        // The map names PS_MAPI and PS_PUBLIC_STRINGS by number (1 and 2) instead of listing
        // their GUIDs; libpff gives an all-zero GUID for some of those entries.
        const bool libpffLeftOut =
            n->guid == storefile::Guid{} && (m->guid == kPsPublicStrings || m->guid == kPsMapi);
        if (!libpffLeftOut) {
          EXPECT_EQ(n->guid, m->guid) << where << " named " << Tag(id);
        }
        EXPECT_EQ(n->byName, m->byName) << where << " named " << Tag(id);
        EXPECT_EQ(n->number, m->number) << where << " named " << Tag(id);
        EXPECT_EQ(n->name, m->name) << where << " named " << Tag(id);
      }
    }
  }
}

// Walks both readers' trees side by side. Returns the number of entries compared.
int CompareFolders(StoreFile& theirs, const StoreItem& a, StoreFile& ours, const StoreItem& b,
                   const std::string& where) {
  EXPECT_EQ(a.Id(), b.Id()) << where;
  CompareProperties(theirs, a, ours, b, where);
  int entries = 0;
  const int messages = a.MessageCount();
  EXPECT_EQ(messages, b.MessageCount()) << where;
  for (int i = 0; i < messages && i < b.MessageCount(); ++i) {
    const auto x = a.Message(i);
    const auto y = b.Message(i);
    EXPECT_EQ(x->Id(), y->Id()) << where << " entry " << i;
    CompareProperties(theirs, *x, ours, *y, where + " entry " + std::to_string(i));
    ++entries;
  }
  const int folders = a.SubFolderCount();
  EXPECT_EQ(folders, b.SubFolderCount()) << where;
  for (int i = 0; i < folders && i < b.SubFolderCount(); ++i) {
    const auto x = a.SubFolder(i);
    const auto y = b.SubFolder(i);
    entries +=
        CompareFolders(theirs, *x, ours, *y, where + "/" + x->Text(0x3001, 1252).toStdString());
  }
  return entries;
}

int CompareStore(const QString& path) {
  SCOPED_TRACE(path.toStdString());
  const auto theirs = StoreFile::Open(path, ReaderChoice::kLibpff);
  const auto ours = StoreFile::Open(path, ReaderChoice::kOwn);
  EXPECT_STREQ(StoreFile::Open(path)->ReaderName(), "lumivex");
  EXPECT_EQ(theirs->IsOffline(), ours->IsOffline());
  EXPECT_EQ(theirs->IsUnicode(), ours->IsUnicode());
  const auto a = theirs->MessageStore();
  const auto b = ours->MessageStore();
  EXPECT_TRUE(a != nullptr && b != nullptr);
  if (a && b) CompareProperties(*theirs, *a, *ours, *b, "message store");
  return CompareFolders(*theirs, *theirs->RootFolder(), *ours, *ours->RootFolder(), "");
}

// Everything our reader gives of a store, read through the mapped file or with pread: each
// node's properties or why they cannot be read, folder by folder with their messages and
// attachments, and the name-to-id map. The two ways must give the same, damaged stores included.
std::string Dump(const QString& store, pst::PstReader::Access access) {
  std::string out;
  const auto attempt = [&out](const std::function<void()>& step) {
    try {
      step();
    } catch (const pst::PstError& error) {
      out += std::string(" error: ") + error.what() + "\n";
    }
  };
  std::string declined;
  std::unique_ptr<pst::PstReader> reader;
  attempt([&] { reader = pst::PstReader::Open(store.toStdString(), declined, access); });
  if (!reader) return out + declined;
  attempt([&] { reader->CheckNodeTree(); });
  attempt([&] { out += " names " + std::to_string(reader->NameMap().size()) + "\n"; });
  const auto properties = [&](const pst::NodeRef& node) {
    attempt([&] {
      const pst::PropertySet set = reader->ReadProperties(node);
      out += " node " + std::to_string(node.nid);
      // Appended piece by piece: GCC 12 at -O3 takes " " + a temporary for an overlapping copy
      // (a false -Wrestrict).
      for (const auto& p : set.records) {
        out += ' ';
        out += std::to_string(p.id);
        out += ':';
        out += std::to_string(p.type);
        out += '=';
        out.append(p.value.begin(), p.value.end());
      }
      out += "\n";
    });
  };
  const auto rows = [&](const std::optional<pst::NodeRef>& table) {
    std::vector<uint32_t> ids;
    if (table) attempt([&] { ids = reader->ReadRowIds(*table); });
    return ids;
  };
  std::function<void(pst::Nid, int)> folder = [&](pst::Nid nid, int depth) {
    attempt([&] {
      const auto node = reader->FindNode(nid);
      if (!node) return;
      properties(*node);
      for (const uint32_t id : rows(reader->FindNode((nid & ~0x1Fu) | pst::kNidTypeContentsTable)))
        attempt([&] {
          const auto message = reader->FindNode(id);
          if (!message) return;
          properties(*message);
          for (const uint32_t a : rows(reader->FindSubnodeOf(*message, 0x671)))
            attempt([&] {
              if (const auto attachment = reader->FindSubnodeOf(*message, a))
                properties(*attachment);
            });
        });
      for (const uint32_t id : rows(reader->FindNode((nid & ~0x1Fu) | pst::kNidTypeHierarchyTable)))
        if (depth < 8) folder(id, depth + 1);
    });
  };
  folder(pst::kNidRootFolder, 0);
  return out;
}

void ExpectSameBothWays(const QString& store) {
  const std::string mapped = Dump(store, pst::PstReader::Access::kMapped);
  EXPECT_EQ(mapped, Dump(store, pst::PstReader::Access::kRead)) << store.toStdString();
}

// The format's checksum is zlib's CRC-32 without the inversions; it is worked out in several
// ways by length (a fast one for the bulk of a block), so every length and alignment is checked.
TEST(StoreChecksum, IsZlibsCrcAtEveryLengthAndAlignment) {
  std::mt19937 random(7);
  std::vector<uint8_t> bytes(600);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  for (size_t offset = 0; offset < 16; ++offset)
    for (size_t length = 0; length + offset <= bytes.size(); ++length)
      for (const uint32_t start : {0u, 0xDEADBEEFu}) {
        const uint32_t zlib =
            ~static_cast<uint32_t>(crc32_z(~start, bytes.data() + offset, length));
        ASSERT_EQ(pst::Crc32(std::span(bytes.data() + offset, length), start), zlib)
            << "offset " << offset << " length " << length;
      }
}

// The permutation of "compressible" blocks, where the processor decodes 64 bytes at a time,
// gives what the table gives byte by byte, at every length and alignment and for every value.
TEST(StoreEncoding, PermutationDecodesAsTheTableAtEveryLengthAndAlignment) {
  std::vector<uint8_t> bytes(700);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 256);
  std::vector<uint8_t> one(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i)
    pst::DecodePermute(std::span(bytes.data() + i, 1), std::span(one.data() + i, 1));
  for (size_t offset = 0; offset < 64; offset += 7)
    for (size_t length = 0; length + offset <= bytes.size(); length += 13) {
      std::vector<uint8_t> out(length);
      pst::DecodePermute(std::span(bytes.data() + offset, length), std::span(out));
      ASSERT_TRUE(std::equal(out.begin(), out.end(), one.begin() + long(offset)))
          << "offset " << offset << " length " << length;
    }
}

TEST(StoreReaders, AgreeOnEveryRealStore) {
  LUMIVEX_REQUIRE_FIXTURES();
  int entries = 0;
  for (const char* name :
       {"six-contacts.pst", "contact-and-distlist.pst", "72-contacts-in-mail-folder.pst",
        "mail-and-one-contact.pst", "japanese-contact-unicode.pst",
        "japanese-contact-ansi-cp932.pst", "mail-only.pst", "empty-store.pst",
        "password-protected.pst", "offline-store-4k-pages.ost"})
    entries += CompareStore(testing::FixturePst(name));
  EXPECT_GE(entries, 6 + 2 + 72 + 2 + 1);
}

TEST(StoreReaders, AgreeOnOurOwnStores) {
  EXPECT_GE(CompareStore(testing::BinDir() + "/sample.pst"), 46);
  const QString dir = ScratchDir(QStringLiteral("store-readers"));
  for (const auto layout : {pst::FileLayout::Unicode, pst::FileLayout::Ansi}) {
    for (const auto encoding :
         {pst::Encoding::None, pst::Encoding::Compressible, pst::Encoding::Cyclic}) {
      const std::string path = (dir + "/features.pst").toStdString();
      testing::FeatureStore::Write(path, encoding, 1500, layout);
      EXPECT_GE(CompareStore(QString::fromStdString(path)), 1500);
      ExpectSameBothWays(QString::fromStdString(path));
    }
  }
}

// A damaged header goes to libpff: its diagnosis is the one the user reads.
TEST(StoreReaders, ADamagedHeaderGoesToLibpff) {
  LUMIVEX_REQUIRE_FIXTURES();
  try {
    StoreFile::Open(testing::FixturePst("bad-header-checksum.pst"));
    ADD_FAILURE() << "a damaged header was taken";
  } catch (const StoreError& error) {
    EXPECT_NE(std::string(error.what()).find("mismatch in file header checksum"), std::string::npos)
        << error.what();
  }
}

// The blocks of a store, found through its block B-tree: where each starts and its size.
struct BlockSpan {
  qsizetype ib;
  uint16_t cb;
};

uint64_t Get(const QByteArray& f, qsizetype at, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(f[at + i]);
  return v;
}

// Where the three layouts keep what the damage test needs: the width of ids, where a B-tree
// page's count (of 1 or 2 bytes), entry size and level are, the block trailer's size and where
// its checksum sits from the block's end, block alignment, and the block B-tree root's offset.
struct Geometry {
  int id, meta, countBytes, trailer, crcFromEnd, align, bbtRoot;
};
constexpr Geometry kUnicodeGeometry = {8, 488, 1, 16, 12, 64, 240};
constexpr Geometry kAnsiGeometry = {4, 496, 1, 12, 4, 64, 196};
constexpr Geometry kOst4kGeometry = {8, 4056, 2, 24, 20, 512, 240};

void Blocks(const QByteArray& f, qsizetype page, const Geometry& g, std::vector<BlockSpan>& out) {
  const qsizetype meta = page + g.meta;
  const int count = static_cast<int>(Get(f, meta, g.countBytes));
  const int width = static_cast<uint8_t>(f[meta + 2 * g.countBytes]);
  const bool leaf = f[meta + 2 * g.countBytes + 1] == 0;
  for (int i = 0; i < count; ++i) {
    const qsizetype at = page + qsizetype(i) * width;
    if (leaf)
      out.push_back(
          {static_cast<qsizetype>(Get(f, at + g.id, g.id)), uint16_t(Get(f, at + 2 * g.id, 2))});
    else
      Blocks(f, static_cast<qsizetype>(Get(f, at + 2 * g.id, g.id)), g, out);
  }
}

// Sets a block's checksum to match its bytes, so that damage inside it reaches the structures
// it holds instead of being stopped by the checksum.
void Reseal(QByteArray& f, const BlockSpan& b, const Geometry& g) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(f.constData() + b.ib);
  const uint32_t crc = pst::Crc32(std::span(bytes, b.cb));
  const qsizetype at = b.ib + (b.cb + g.trailer + g.align - 1) / g.align * g.align - g.crcFromEnd;
  for (int i = 0; i < 4; ++i) f[at + i] = static_cast<char>(crc >> (8 * i));
}

// Reads everything our reader can give; a damaged part may fail, but only with a StoreError or
// a failed read, and in bounded time.
int ReadAll(const StoreItem& folder, int depth = 0) {
  int read = 0;
  for (int i = 0; i < folder.MessageCount(); ++i) {
    try {
      const auto entry = folder.Message(i);
      for (int p = 0; p < entry->PropertyCount(); ++p) {
        uint32_t id = 0, type = 0;
        QByteArray data;
        if (entry->PropertyTag(p, id, type) && entry->Data(p, data)) ++read;
        if (id >= 0x8000) entry->Owner().Named(id, *entry, p);
      }
    } catch (const StoreError&) {
    }
  }
  for (int i = 0; i < folder.SubFolderCount() && depth < 8; ++i) {
    try {
      read += ReadAll(*folder.SubFolder(i), depth + 1);
    } catch (const StoreError&) {
    }
  }
  return read;
}

// Damage inside blocks whose checksums still hold: headers of heaps, B-trees on heaps, tables,
// data and subnode trees, property records and the name-to-id map, spoiled at random. Stores
// of our writer in both layouts, and the real 4 KB-page .ost (whose compressed blocks mostly
// fail to inflate once spoiled; the others reach the structures).
enum class Kind { kUnicode, kAnsi, kOst4k };

class DamagedStructures : public ::testing::TestWithParam<Kind> {};

TEST_P(DamagedStructures, FailCleanlyBehindGoodChecksums) {
  const QString dir = ScratchDir(QStringLiteral("store-readers-damaged"));
  QString original = dir + "/features.pst";
  const Geometry& g = GetParam() == Kind::kAnsi    ? kAnsiGeometry
                      : GetParam() == Kind::kOst4k ? kOst4kGeometry
                                                   : kUnicodeGeometry;
  if (GetParam() == Kind::kOst4k) {
    LUMIVEX_REQUIRE_FIXTURES();
    original = testing::FixturePst("offline-store-4k-pages.ost");
  } else {
    testing::FeatureStore::Write(
        original.toStdString(), pst::Encoding::None, 300,
        GetParam() == Kind::kAnsi ? pst::FileLayout::Ansi : pst::FileLayout::Unicode);
  }
  QFile in(original);
  ASSERT_TRUE(in.open(QIODevice::ReadOnly));
  const QByteArray whole = in.readAll();
  std::vector<BlockSpan> blocks;
  Blocks(whole, static_cast<qsizetype>(Get(whole, g.bbtRoot, g.id)), g, blocks);
  ASSERT_GT(blocks.size(), 300u);
  const int trials = qEnvironmentVariableIntValue("LUMIVEX_FUZZ_TRIALS") > 0
                         ? qEnvironmentVariableIntValue("LUMIVEX_FUZZ_TRIALS")
                         : 100;
  uint32_t seed = 2026;
  auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 8; };
  int opened = 0;
  const QString path = dir + "/damaged.pst";
  for (int trial = 0; trial < trials; ++trial) {
    QByteArray damaged = whole;
    const BlockSpan& block = blocks[next() % blocks.size()];
    const int changes = 1 + static_cast<int>(next() % 8);
    for (int i = 0; i < changes && block.cb > 0; ++i)
      damaged[block.ib + next() % block.cb] = static_cast<char>(next());
    Reseal(damaged, block, g);
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(damaged);
    out.close();
    try {
      const auto file = StoreFile::Open(path, ReaderChoice::kOwn);
      ++opened;
      ReadAll(*file->RootFolder());
    } catch (const StoreError&) {
    }
    if (trial % 4 == 0) ExpectSameBothWays(path);
  }
  ExpectSameBothWays(original);
  EXPECT_GT(opened, trials / 2);
}

INSTANTIATE_TEST_SUITE_P(Layouts, DamagedStructures,
                         ::testing::Values(Kind::kUnicode, Kind::kAnsi, Kind::kOst4k),
                         [](const auto& info) {
                           return info.param == Kind::kAnsi    ? "Ansi"
                                  : info.param == Kind::kOst4k ? "Ost4k"
                                                               : "Unicode";
                         });

}  // namespace
}  // namespace lumivex
