// The writer's layers checked on their own where no reader looks (heap page maps, the row index,
// the allocation maps), and lumivex-pstgen as a command: descriptions, the same bytes from the
// same input, failures that leave nothing behind, the 32,767/32,768-entry stores. What the
// readers give back of the stores (every property, subnode, data tree and attachment) is
// checked by PstReadersTest.
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <cstring>

#include "tests/convert/ProgramRun.h"
#include "tests/support/TestPaths.h"
#include "tools/pstgen/Description.h"
#include "tools/pstwriter/Ltp.h"

namespace lumivex::testing {
namespace {

using namespace lumivex::pst;

uint32_t Get32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
uint16_t Get16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

TEST(PstChecksum, MatchesTheHeaderChecksumsOutlookWrote) {
  LUMIVEX_REQUIRE_FIXTURES();
  for (const char* name : {"empty-store.pst", "six-contacts.pst", "mail-and-one-contact.pst"}) {
    QFile f(FixturePst(name));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << name;
    const QByteArray h = f.read(564);
    const auto* p = reinterpret_cast<const uint8_t*>(h.constData());
    EXPECT_EQ(Crc32({p + 8, 471}), Get32(p + 4)) << name;
    EXPECT_EQ(Crc32({p + 8, 516}), Get32(p + 524)) << name;
  }
}

// Reads a heap back by its page maps, independently of the builder.
struct HeapReader {
  std::vector<Bytes> blocks;
  std::span<const uint8_t> Get(uint32_t hid) const {
    EXPECT_EQ(hid & 0x1F, 0u) << "not a heap id";
    const Bytes& b = blocks.at(hid >> 16);
    const uint16_t map = Get16(b.data());
    const uint16_t count = Get16(b.data() + map);
    const uint32_t index = ((hid >> 5) & 0x7FF) - 1;
    EXPECT_LT(index, count);
    const uint16_t start = Get16(b.data() + map + 4 + 2 * index);
    const uint16_t end = Get16(b.data() + map + 6 + 2 * index);
    return {b.data() + start, static_cast<size_t>(end - start)};
  }
};

// The records of a B-tree on a heap, leaf after leaf, from its header at `header`.
Bytes BthRecords(const HeapReader& r, uint32_t header) {
  const auto h = r.Get(header);
  EXPECT_EQ(h[0], 0xB5);
  const size_t key = h[1];
  Bytes leaves;
  std::function<void(uint32_t, int)> walk = [&](uint32_t hid, int level) {
    const auto node = r.Get(hid);
    if (level == 0) {
      leaves.insert(leaves.end(), node.begin(), node.end());
      return;
    }
    for (size_t o = 0; o < node.size(); o += key + 4) walk(Get32(node.data() + o + key), level - 1);
  };
  walk(Get32(h.data() + 4), h[3]);
  return leaves;
}

TEST(PstHeap, ItemsSpreadOverBlocksAreFoundThroughEachBlocksPageMap) {
  HeapBuilder heap(0xBC);
  std::vector<std::pair<uint32_t, Bytes>> items;
  for (int i = 0; i < 2500; ++i) {
    Bytes item(static_cast<size_t>(30 + i % 70), static_cast<uint8_t>(i));
    items.emplace_back(heap.Allocate(item), item);
  }
  heap.SetUserRoot(items[0].first);
  HeapReader r{heap.Blocks()};
  ASSERT_GT(r.blocks.size(), 9u) << "the test needs a block with the bitmap header";
  for (const Bytes& b : r.blocks) EXPECT_LE(b.size(), kMaxBlockData);
  EXPECT_EQ(r.blocks[0][2], 0xEC);
  EXPECT_EQ(r.blocks[0][3], 0xBC);
  EXPECT_EQ(Get32(r.blocks[0].data() + 4), items[0].first);
  for (const auto& [hid, bytes] : items) {
    const auto got = r.Get(hid);
    ASSERT_TRUE(std::equal(got.begin(), got.end(), bytes.begin(), bytes.end())) << std::hex << hid;
  }
  // Block 8 starts with the 66-byte bitmap header: its first item right behind it.
  const uint32_t first_in_8 = 8u << 16 | 1u << 5;
  EXPECT_EQ(Get16(r.blocks[8].data() + Get16(r.blocks[8].data()) + 4), 66) << first_in_8;
}

// The rows of a large table in a subnode, in blocks of whole rows (8176 bytes, or 8180 in ANSI
// files); its row index maps each row id to the row's number in four bytes, or in two in ANSI
// files.
TEST(PstTable, LargeRowMatrixGoesToASubnodeInWholeRowsFoundByTheRowIndex) {
  for (const FileLayout layout : {FileLayout::Unicode, FileLayout::Ansi}) {
    SCOPED_TRACE(layout == FileLayout::Ansi ? "ANSI" : "Unicode");
    const size_t block_size = layout == FileLayout::Ansi ? 8180 : 8176;
    const size_t index_width = layout == FileLayout::Ansi ? 2 : 4;
    TableBuilder table({0x3001001F, 0x36020003, 0x360A000B}, layout);
    // Row ids out of order, so that the index has to say where each row is.
    auto row_id = [](uint32_t i) { return 0x200004 + 32 * (i * 7 % 500); };
    for (uint32_t i = 0; i < 500; ++i)
      table.AddRow(row_id(i), {value::Utf16("Row " + std::to_string(i)),
                               value::Int32(static_cast<int32_t>(i)), std::nullopt});
    const NodeImage image = table.Build();
    ASSERT_EQ(image.subnodes.size(), 1u);
    HeapReader r{image.blocks};
    const auto info = r.Get(Get32(r.blocks[0].data() + 4));
    ASSERT_EQ(info[0], 0x7C);
    EXPECT_EQ(info[1], 5) << "row id, row version and the three columns";
    const uint16_t row_size = Get16(info.data() + 8);
    EXPECT_EQ(Get32(info.data() + 14), image.subnodes[0].nid);
    const auto& blocks = image.subnodes[0].blocks;
    std::vector<const uint8_t*> rows;
    for (size_t b = 0; b < blocks.size(); ++b) {
      // Whole rows only; every block but the last padded to the full block size.
      if (b + 1 < blocks.size()) {
        EXPECT_EQ(blocks[b].size(), block_size);
      }
      const size_t in_block =
          b + 1 < blocks.size() ? block_size / row_size : blocks[b].size() / row_size;
      for (size_t k = 0; k < in_block; ++k) {
        const uint8_t* row = blocks[b].data() + k * row_size;
        EXPECT_EQ(Get32(row), row_id(static_cast<uint32_t>(rows.size())));
        EXPECT_EQ(row[row_size - 1] & 0xF8, 0xF0) << "row id, version, name and count present";
        rows.push_back(row);
      }
    }
    ASSERT_EQ(rows.size(), 500u);
    const uint32_t index_hid = Get32(info.data() + 10);
    EXPECT_EQ(r.Get(index_hid)[2], index_width);
    const Bytes index = BthRecords(r, index_hid);
    ASSERT_EQ(index.size(), 500 * (4 + index_width));
    for (size_t at = 0; at < index.size(); at += 4 + index_width) {
      const uint32_t row = index_width == 2 ? Get16(&index[at + 4]) : Get32(&index[at + 4]);
      ASSERT_LT(row, rows.size());
      EXPECT_EQ(Get32(rows[row]), Get32(&index[at])) << "row " << row;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Descriptions

std::string ErrorOf(const std::string& json) {
  try {
    for (const pstgen::FolderPlan& f : pstgen::ParseDescription(json).folders)
      for (const pstgen::Item& item : f.items) pstgen::ToMessage(item, {});
  } catch (const PstError& e) {
    return e.what();
  }
  return "(accepted)";
}

TEST(PstgenDescription, MistakesAreReportedWithWhereAndWhat) {
  const std::pair<const char*, const char*> mistakes[] = {
      {R"({"folders": [{"path": "Contacts", "items": [{"FristName": "A"}]}]})",
       "folders[0].items[0].FristName: unknown field (see the list in lumivex-pstgen --help)"},
      {R"({"folders": [{"path": "C", "items": [{"Birthday": "17.5.1980"}]}]})", "is not a date"},
      {R"({"folders": [{"path": "C", "items": [{"properties": [{"id": "0x3A06", "type": "text", "value": "x"}]}]}]})",
       "unknown type \"text\""},
      {R"({"folders": [{"path": "C", "items": [{"properties": [{"set": "PSETID_Nope", "lid": 1, "type": "int32", "value": 1}]}]}]})",
       "neither a known property set nor a GUID"},
      {R"({"folders": [{"path": "C", "items": [{"Children": "one"}]}]})", "a list of strings"},
      {R"({"folders": [)", "not valid JSON at byte"},
      {R"({"encoding": "rot13"})", "\"none\", \"compressible\" or \"cyclic\""},
      {R"({"folders": [{"path": "C", "items": [{"Gender": "female"}]}]})",
       "field \"Gender\" is \"Unspecified\", \"Female\" or \"Male\", not \"female\""},
      {R"({"folders": [{"path": "C", "items": [{"SearchKey": "0x12"}]}]})",
       "bytes are written in hex"},
      {R"({"folders": [{"path": "C", "items": [{"picture": "no-such-picture.jpg"}]}]})",
       "folders[0].items[0].picture: cannot read"},
      {R"({"folders": [{"path": "C", "items": [{"picture": "data:image/png,abc"}]}]})",
       "a data: URI holds base64 bytes"},
      {R"({"folders": [{"path": "C", "items": [{"attachments": [{"data": "data:;base64,QQ=="}]}]}]})",
       "an attachment needs \"name\""},
  };
  for (const auto& [json, error] : mistakes)
    EXPECT_NE(ErrorOf(json).find(error), std::string::npos) << ErrorOf(json);
}

TEST(PstgenDescription, PropertiesByTagIdNumberAndName) {
  const pstgen::StorePlan plan =
      pstgen::ParseDescription(R"({"folders": [{"path": ["Contacts", "a/b"], "items": [{
      "messageClass": "IPM.Contact.Custom",
      "properties": [
        {"tag": "0x3A4F001F", "value": "Nick"},
        {"id": 26113, "type": "int32[]", "value": [1, -2]},
        {"set": "PSETID_Address", "lid": "0x8062", "type": "bool", "value": true},
        {"set": "{11111111-2222-3333-4444-555555555555}", "name": "Mine", "type": "time", "value": "2020-02-29T12:00:00Z"}]}]}]})");
  ASSERT_EQ(plan.folders.size(), 1u);
  EXPECT_EQ(plan.folders[0].path, (std::vector<std::string>{"Contacts", "a/b"}));
  const auto& props = plan.folders[0].items[0].properties;
  ASSERT_EQ(props.size(), 4u);
  EXPECT_EQ(props[0].key.id, 0x3A4F);
  EXPECT_EQ(props[0].value, value::Utf16("Nick"));
  EXPECT_EQ(props[1].type, kPtInt32 | kPtMultiFlag);
  EXPECT_EQ(props[1].value, value::MultiFixed({value::Int32(1), value::Int32(-2)}));
  EXPECT_EQ(*props[2].key.number, 0x8062u);
  EXPECT_EQ(props[2].key.set, kPsetidAddress);
  EXPECT_EQ(props[3].key.name, "Mine");
  EXPECT_EQ(props[3].value, value::Time(FileTime(2020, 2, 29, 12)));
  EXPECT_EQ(FileTime(1601, 1, 1), 0u);
  EXPECT_EQ(FileTime(1970, 1, 1), 116444736000000000ull);
}

TEST(PstgenContact, BirthdayIsLocalMidnightInUtcWithTheDayBeside) {
  pstgen::Item item;
  item.fields = {{"FirstName", std::string("Anna")},
                 {"LastName", std::string("Berg")},
                 {"Birthday", std::string("1980-05-17")},
                 {"Email1Address", std::string("a@b.example")}};
  const Message m = pstgen::ToMessage(item, {60});
  auto find = [&](uint16_t id, std::optional<uint32_t> lid = std::nullopt) -> const Bytes* {
    for (const MessageProperty& p : m.properties)
      if ((lid && p.key.number == lid) || (!lid && !p.key.IsNamed() && p.key.id == id))
        return &p.value;
    return nullptr;
  };
  ASSERT_TRUE(find(0x3A42));
  EXPECT_EQ(*find(0x3A42), value::Time(FileTime(1980, 5, 16, 23)));
  EXPECT_EQ(*find(0, 0x80DE), value::Time(FileTime(1980, 5, 17)));
  EXPECT_EQ(*find(0x3001), value::Utf16("Anna Berg"));
  EXPECT_EQ(*find(0, 0x8005), value::Utf16("Berg, Anna"));
  EXPECT_EQ(*find(0, 0x8082), value::Utf16("SMTP"));
  EXPECT_EQ(*find(0, 0x8080), value::Utf16("Anna Berg (a@b.example)"));
}

// ---------------------------------------------------------------------------------------------
// The command

ProgramOutput Pstgen(const QStringList& args) {
  return RunProgram(BinDir() + "/lumivex-pstgen", args);
}

TEST(PstgenCommand, FailuresSayWhatIsWrongAndLeaveNothingBehind) {
  const QString dir = ScratchDir("pstgen-fail");
  ProgramOutput r = Pstgen({"--contacts", "5", "--out", dir + "/missing/x.pst"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.contains("cannot create")) << r.err.toStdString();
  EXPECT_FALSE(QDir(dir + "/missing").exists());

  QFile keep(dir + "/keep.pst");
  ASSERT_TRUE(keep.open(QIODevice::WriteOnly));
  keep.write("old contents");
  keep.close();
  QFile bad(dir + "/bad.json");
  ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
  bad.write(
      R"({"folders": [{"path": "Contacts", "items": [{"FirstName": "A"}, {"Birthday": "soon"}]}]})");
  bad.close();
  r = Pstgen({dir + "/bad.json", "--out", dir + "/keep.pst"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.contains("folder \"Contacts\", item 2: field \"Birthday\""))
      << r.err.toStdString();
  EXPECT_EQ(FileBytes(dir + "/keep.pst"), "old contents");
  EXPECT_EQ(QDir(dir).entryList(QDir::Files).size(), 2) << "no temporary file left";

  r = Pstgen({"--contacts", "many", "--out", dir + "/x.pst"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(r.err.contains("--contacts needs a whole number"));
  r = Pstgen({"--contacts", "5", "--out", dir});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(r.err.contains("is a folder: name the store file")) << r.err.toStdString();
  r = Pstgen({"--help"});
  EXPECT_EQ(r.status, 0);
  for (const char* text :
       {"--contacts N", "--ansi", "Email1Address", "Categories", "PS_PUBLIC_STRINGS", "string[]",
        "Business2TelephoneNumber", "OtherAddressPostOfficeBox", "RTFBody", "\"picture\"",
        "\"members\"", "every-field.json"})
    EXPECT_TRUE(r.out.contains(text)) << text;
}

TEST(PstgenCommand, ListMembersThatNameNoContactAreReported) {
  const QString dir = ScratchDir("pstgen-members");
  const std::pair<const char*, const char*> cases[] = {
      {R"({"folders": [{"path": "Contacts", "items": [
          {"messageClass": "IPM.DistList", "DLName": "L", "members": [{"contact": "nobody"}]}]}]})",
       "item 1: no item is labelled \"nobody\""},
      {R"({"folders": [{"path": "Contacts", "items": [
          {"label": "a", "FirstName": "A", "Email1Address": "a@example.com"},
          {"messageClass": "IPM.DistList", "DLName": "L", "members": [{"contact": "a", "email": 2}]}]}]})",
       "item 2: members[0]: \"a\" has no e-mail address 2"},
      {R"({"folders": [{"path": "Contacts", "items": [{"label": "a"}, {"label": "a"}]}]})",
       "two items are labelled \"a\""},
      {R"({"folders": [{"path": "Contacts", "items": [
          {"messageClass": "IPM.DistList", "members": [{"name": "No Address"}]}]}]})",
       "a member is {\"contact\": LABEL} or {\"name\": ..., \"address\": ...}"},
  };
  for (const auto& [json, error] : cases) {
    QFile f(dir + "/list.json");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(json);
    f.close();
    const ProgramOutput r = Pstgen({dir + "/list.json", "--out", dir + "/list.pst"});
    EXPECT_EQ(r.status, 1) << json;
    EXPECT_TRUE(r.err.contains(QString::fromUtf8(error))) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(dir + "/list.pst"));
  }
}

TEST(PstgenCommand, StoresOf32767And32768ContactsTakeSecondsAndReadBackWhole) {
  if (QStandardPaths::findExecutable("readpst").isEmpty())
    LUMIVEX_MISSING("readpst is not installed (Debian: pst-utils)");
  const QString dir = ScratchDir("pstgen-32k");
  for (int count : {32767, 32768}) {
    const QString out = dir + QString("/%1.pst").arg(count);
    QElapsedTimer timer;
    timer.start();
    ASSERT_EQ(Pstgen({"--contacts", QString::number(count), "--out", out}).status, 0);
    EXPECT_LT(timer.elapsed(), 15000) << count << " contacts took " << timer.elapsed() << " ms";
    QProcess readpst;
    const QString vcards = dir + QString("/%1").arg(count);
    QDir().mkpath(vcards);
    readpst.start("readpst", {"-q", "-cv", "-o", vcards, out});
    ASSERT_TRUE(readpst.waitForFinished(120000));
    EXPECT_EQ(FileBytes(vcards + "/Contacts.contacts").count("BEGIN:VCARD"), count);
  }
}

// Where the two layouts put what the walk below reads.
struct LayoutShape {
  const char* name;
  QStringList options;  // of lumivex-pstgen
  int contacts;         // enough to pass 32.5 MB, where the first free-map page sits
  uint16_t version;
  size_t id;                       // bytes of a block id, file offset or key
  size_t eof, nbt_root, bbt_root;  // header: ibFileEof; the roots' bid, followed by their ib
  size_t crypt;                    // header: bCryptMethod
  size_t page_entries;             // page: cEnt, cEntMax, cbEnt, cLevel follow the entries
  size_t page_trailer, page_crc, page_bid;
  size_t map_bits;                             // map pages: where the bits start
  size_t block_trailer, block_crc, block_bid;  // block trailer: size, dwCRC and bid within it
};
const LayoutShape kShapes[] = {
    {"Unicode", {}, 26000, 23, 8, 184, 216, 232, 513, 488, 496, 500, 504, 0, 16, 4, 8},
    {"Ansi", {"--ansi"}, 37000, 14, 4, 168, 184, 192, 461, 496, 500, 508, 504, 4, 12, 8, 4},
};

void PrintTo(const LayoutShape& shape, std::ostream* out) {
  *out << shape.name;
}

class PstLayout : public ::testing::TestWithParam<LayoutShape> {};

// Walks a written file the way a strict reader would: checksums and signatures of every page and
// block, every block and page inside space the allocation maps mark as used, the maps' free
// total, and the page and free maps where the format puts them.
TEST_P(PstLayout, EveryBlockAndPageIsMappedAndChecksummed) {
  const LayoutShape& l = GetParam();
  const QString dir = ScratchDir(QString("pst-layout-") + l.name);
  const QString path = dir + "/layout.pst";
  ASSERT_EQ(Pstgen(QStringList{"--contacts", QString::number(l.contacts), "--encoding", "none",
                               "--out", path} +
                   l.options)
                .status,
            0);
  const QByteArray file = FileBytes(path);
  const auto* f = reinterpret_cast<const uint8_t*>(file.constData());
  auto id = [&](uint64_t at) {
    uint64_t v = 0;
    std::memcpy(&v, f + at, l.id);
    return v;
  };
  ASSERT_EQ(std::memcmp(f, "!BDN", 4), 0);
  EXPECT_EQ(Get16(f + 10), l.version);
  EXPECT_EQ(f[l.crypt], 0);
  EXPECT_EQ(Crc32({f + 8, 471}), Get32(f + 4));
  if (l.id == 8) {
    EXPECT_EQ(Crc32({f + 8, 516}), Get32(f + 524)) << "the Unicode header's full checksum";
  }
  const uint64_t eof = id(l.eof), last_amap = id(l.eof + l.id), amap_free = id(l.eof + 2 * l.id);
  EXPECT_EQ(eof, static_cast<uint64_t>(file.size()));
  constexpr uint64_t kSpan = 253952;
  ASSERT_EQ((eof - 0x4400) % kSpan, 0u);
  const uint64_t regions = (eof - 0x4400) / kSpan;
  ASSERT_GT(regions, 128u);
  EXPECT_EQ(last_amap, 0x4400 + (regions - 1) * kSpan);

  auto check_page = [&](uint64_t ib, uint8_t ptype) {
    const uint8_t* t = f + ib + l.page_trailer;
    EXPECT_EQ(t[0], ptype) << std::hex << ib;
    EXPECT_EQ(t[1], ptype);
    EXPECT_EQ(Get32(f + ib + l.page_crc), Crc32({f + ib, l.page_trailer})) << std::hex << ib;
  };
  auto mapped = [&](uint64_t ib, uint64_t size) {
    for (uint64_t at = ib; at < ib + size; at += 64) {
      const uint64_t region = (at - 0x4400) / kSpan;
      const uint64_t bit = (at - 0x4400 - region * kSpan) / 64;
      if (!(f[0x4400 + region * kSpan + l.map_bits + bit / 8] & (0x80 >> (bit % 8)))) return false;
    }
    return true;
  };
  uint64_t free_bytes = 0;
  for (uint64_t r = 0; r < regions; ++r) {
    const uint64_t at = 0x4400 + r * kSpan;
    check_page(at, 0x84);
    EXPECT_EQ(id(at + l.page_bid), at);
    for (uint64_t bit = 0; bit < 496 * 8; ++bit)
      if (!(f[at + l.map_bits + bit / 8] & (0x80 >> (bit % 8)))) free_bytes += 64;
    EXPECT_TRUE(mapped(at, 512));
    if (r % 8 == 0) check_page(at + 512, 0x83);
  }
  check_page(0x4800 + 128 * kSpan, 0x82);
  EXPECT_TRUE(mapped(0x4800 + 128 * kSpan, 512));
  EXPECT_EQ(amap_free, free_bytes);

  // Both B-trees, page by page; every block of the block B-tree.
  size_t blocks = 0, nodes = 0;
  std::function<void(uint64_t, uint64_t, uint8_t)> walk = [&](uint64_t bid, uint64_t ib,
                                                              uint8_t ptype) {
    check_page(ib, ptype);
    EXPECT_TRUE(mapped(ib, 512));
    EXPECT_EQ(id(ib + l.page_bid), bid);
    EXPECT_EQ(Get16(f + ib + l.page_trailer + 2),
              static_cast<uint16_t>(((ib ^ bid) >> 16) ^ (ib ^ bid)));
    const uint8_t count = f[ib + l.page_entries], size = f[ib + l.page_entries + 2],
                  level = f[ib + l.page_entries + 3];
    for (uint8_t i = 0; i < count; ++i) {
      const uint64_t e = ib + i * size;
      if (level > 0) {
        walk(id(e + l.id), id(e + 2 * l.id), ptype);
      } else if (ptype == 0x81) {
        ++nodes;
      } else {
        ++blocks;
        const uint64_t block_bid = id(e), block_ib = id(e + l.id);
        const uint16_t cb = Get16(f + e + 2 * l.id);
        const uint64_t total = (cb + l.block_trailer + 63) / 64 * 64;
        ASSERT_TRUE(mapped(block_ib, total)) << std::hex << block_ib;
        const uint8_t* trailer = f + block_ib + total - l.block_trailer;
        EXPECT_EQ(Get16(trailer), cb);
        EXPECT_EQ(id(block_ib + total - l.block_trailer + l.block_bid), block_bid);
        EXPECT_EQ(Get32(trailer + l.block_crc), Crc32({f + block_ib, cb}));
        EXPECT_EQ(Get16(trailer + 2),
                  static_cast<uint16_t>(((block_ib ^ block_bid) >> 16) ^ (block_ib ^ block_bid)));
      }
    }
  };
  walk(id(l.nbt_root), id(l.nbt_root + l.id), 0x81);
  walk(id(l.bbt_root), id(l.bbt_root + l.id), 0x80);
  EXPECT_GT(nodes, static_cast<size_t>(l.contacts));
  EXPECT_GT(blocks, static_cast<size_t>(l.contacts));
}

INSTANTIATE_TEST_SUITE_P(Layouts, PstLayout, ::testing::ValuesIn(kShapes),
                         [](const auto& info) { return std::string(info.param.name); });

// Stores written from inputs that existed before attachments, pictures and the further contact
// fields were added keep every byte: the digests are those of the stores main's build wrote
// before that change (tests elsewhere keep digests of what is exported from them).
TEST(PstgenCommand, StoresFromEarlierInputsKeepEveryByte) {
  const QString dir = ScratchDir("pstgen-digests");
  const QString data = SourceDir() + "/data/";
  const std::pair<QStringList, const char*> stores[] = {
      {{data + "sample-store.json"},
       "053e32d6a399aa84642997dfee485ef62a91b6e5f53644a9ce74628680bec060"},
      {{data + "sample-store.json", "--ansi"},
       "e33b5adb730cb8d19c8bcf3492506cf9f1b355bdbb4374481589b7349935556c"},
      {{"--contacts", "1000", "--seed", "1"},
       "cd1ebb943303da5d3132ce645f52617cd4d4bc71268faa2d2de2fcd19e00c603"},
      {{"--contacts", "1000", "--seed", "1", "--ansi"},
       "2484d0c637c324d0c8f901a716e43c455eb075aca8e8694bf4a48022b5763182"},
      {{"--contacts", "300", "--seed", "3", "--encoding", "none"},
       "318cb70a6c95b4a42113e6b771910fd94ad6b3941cc15b1bd36fec140e8df31e"},
      {{data + "edge/all-empty.json"},
       "6aa81ede04cde4f9d0f9e8eb482e99c319472222288604444f42f8dd6df6ab82"},
      {{data + "edge/all-empty.json", "--ansi"},
       "46cc95bc1144debda8e2451e7291c4b1552efad7f1089b0e4ec26132cea66146"},
      {{data + "edge/awkward-names.json"},
       "b21b4b31237d8d6cfead046c0a5d63f7571452c809ed7bcc81fc375708661f59"},
      {{data + "edge/awkward-names.json", "--ansi"},
       "c2f065a3e39cc6ff76403550416cfb5f0ede78fee97ecf4a7a5d488684499990"},
      {{data + "edge/empty-contacts.json"},
       "297e33066e589c3e48a36bbd0c0ac6645e1166916d0295356bfd36e2ef0b85b5"},
      {{data + "edge/empty-contacts.json", "--ansi"},
       "8b3e3f95d048def7046b4ed71e1080bb4bbc55e74d6fa8afce49cffd37707d3f"},
      {{data + "edge/long-values.json"},
       "127f0c73544949107504ee4aaaed5f627b91300af9b9f353faebcf8b48088d5f"},
      {{data + "edge/long-values.json", "--ansi"},
       "2dd86b1a60df19d3b01d125bf625e4a50568d3e053cc14d6a131de8f688a6a5d"},
      {{data + "edge/one-contact.json"},
       "ea74035ccc5fa67e246a8135be126861855adb02b69741a77b2b9611d5ddcc03"},
      {{data + "edge/one-contact.json", "--ansi"},
       "7920e8208701c73609da8e1da1f1d31651e18903ef676bf2c569104cbcc8a958"},
  };
  for (const auto& [args, digest] : stores) {
    const QString out = dir + "/store.pst";
    ASSERT_EQ(Pstgen(args + QStringList{"--out", out}).status, 0) << args.join(' ').toStdString();
    EXPECT_EQ(
        QCryptographicHash::hash(FileBytes(out), QCryptographicHash::Sha256).toHex().toStdString(),
        digest)
        << args.join(' ').toStdString();
  }
}

// The edge stores other tests build from data/edge: each one written and read back whole.
TEST(PstgenEdgeStores, EachDescriptionWritesAStoreLibpffReadsWhole) {
  if (QStandardPaths::findExecutable("pffexport").isEmpty())
    LUMIVEX_MISSING("pffexport is not installed (Debian: pff-tools)");
  const std::pair<const char*, int> stores[] = {{"empty-contacts", 0}, {"one-contact", 1},
                                                {"long-values", 4},    {"awkward-names", 5},
                                                {"all-empty", 2},      {"every-field", 4}};
  QString long_values;
  for (const auto& [name, count] : stores) {
    const QString dir = ScratchDir(QString("pst-edge-") + name);
    if (QString(name) == "long-values") long_values = dir;
    const QString store = dir + "/edge.pst";
    const ProgramOutput r = Pstgen({SourceDir() + "/data/edge/" + name + ".json", "--out", store});
    ASSERT_EQ(r.status, 0) << name << ": " << r.err.toStdString();
    QProcess pffexport;
    pffexport.start("pffexport", {"-q", "-t", dir + "/out", store});
    ASSERT_TRUE(pffexport.waitForFinished(60000));
    ASSERT_EQ(pffexport.exitCode(), 0) << name;
    const QDir contacts(dir + "/out.export/Top of Personal Folders/Contacts");
    EXPECT_EQ(contacts.entryList({"Contact*"}, QDir::Dirs).size(), count) << name;
  }
  QFile long_one(long_values +
                 "/out.export/Top of Personal Folders/Contacts/Contact00002/Contact.txt");
  ASSERT_TRUE(long_one.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(long_one.readAll());
  const QString a256 = QString("Abcdefghij").repeated(26).left(256);
  EXPECT_TRUE(text.contains("Given name:\t\t\t\t" + a256 + "\n")) << "the 256-character name";
}

}  // namespace
}  // namespace lumivex::testing
