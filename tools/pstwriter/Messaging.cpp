#include "tools/pstwriter/Messaging.h"

#include <iconv.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

namespace lumivex::pst {

namespace {

void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Append(Bytes& out, const Bytes& in) {
  out.insert(out.end(), in.begin(), in.end());
}

constexpr uint32_t Tag(uint16_t id, uint16_t type) {
  return (uint32_t{id} << 16) | type;
}

// Contents-table columns of every folder.
const std::vector<uint32_t>& ContentsColumns() {
  static const std::vector<uint32_t> columns = {
      Tag(0x0017, kPtInt32),   // importance
      Tag(0x001A, kPtString),  // message class
      Tag(0x0036, kPtInt32),   // sensitivity
      Tag(0x0037, kPtString),  // subject
      Tag(0x0E06, kPtTime),    // delivery time
      Tag(0x0E07, kPtInt32),   // message flags
      Tag(0x0E08, kPtInt32),   // message size
      Tag(0x0E17, kPtInt32),   // message status
      Tag(0x3008, kPtTime),    // last modification time
  };
  return columns;
}

// Hierarchy-table columns of every folder.
const std::vector<uint32_t>& HierarchyColumns() {
  static const std::vector<uint32_t> columns = {
      Tag(0x3001, kPtString),   // display name
      Tag(0x3602, kPtInt32),    // content count
      Tag(0x3603, kPtInt32),    // unread count
      Tag(0x360A, kPtBoolean),  // has subfolders
      Tag(0x3613, kPtString),   // container class
  };
  return columns;
}

// Recipient and attachment table templates: the columns Outlook gives them.
const std::vector<uint32_t>& RecipientColumns() {
  static const std::vector<uint32_t> columns = {
      Tag(0x0C15, kPtInt32),  Tag(0x0FFF, kPtBinary), Tag(0x3001, kPtString),
      Tag(0x3002, kPtString), Tag(0x3003, kPtString), Tag(0x300B, kPtBinary),
      Tag(0x3900, kPtInt32),  Tag(0x39FE, kPtString),
  };
  return columns;
}
const std::vector<uint32_t>& AttachmentColumns() {
  static const std::vector<uint32_t> columns = {
      Tag(0x0E20, kPtInt32),
      Tag(0x3704, kPtString),
      Tag(0x3705, kPtInt32),
      Tag(0x370B, kPtInt32),
  };
  return columns;
}

struct DefaultFolderInfo {
  DefaultFolder which;
  const char* name;
  const char* container_class;
};
constexpr DefaultFolderInfo kDefaultFolders[] = {
    {DefaultFolder::kDeletedItems, "Deleted Items", "IPF.Note"},
    {DefaultFolder::kInbox, "Inbox", "IPF.Note"},
    {DefaultFolder::kOutbox, "Outbox", "IPF.Note"},
    {DefaultFolder::kSentItems, "Sent Items", "IPF.Note"},
    {DefaultFolder::kCalendar, "Calendar", "IPF.Appointment"},
    {DefaultFolder::kContacts, "Contacts", "IPF.Contact"},
    {DefaultFolder::kJournal, "Journal", "IPF.Journal"},
    {DefaultFolder::kNotes, "Notes", "IPF.StickyNote"},
    {DefaultFolder::kTasks, "Tasks", "IPF.Task"},
    {DefaultFolder::kDrafts, "Drafts", "IPF.Note"},
};

std::string KeyString(const PropertyKey& key) {
  std::string s(reinterpret_cast<const char*>(key.set->bytes.data()), 16);
  if (key.number) return s + "#" + std::to_string(*key.number);
  return s + "$" + key.name;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// GUIDs and values

Guid Guid::Parse(std::string_view text) {
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
  auto bad = [&] { return PstError("not a GUID: \"" + std::string(text) + "\""); };
  if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-')
    throw bad();
  std::string hex;
  for (char c : text)
    if (c != '-') hex.push_back(c);
  uint8_t raw[16];
  for (int i = 0; i < 16; ++i) {
    auto nibble = [&](char c) -> int {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      throw bad();
    };
    raw[i] = static_cast<uint8_t>(nibble(hex[2 * i]) * 16 + nibble(hex[2 * i + 1]));
  }
  // The first three groups are stored little-endian.
  Guid g;
  const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  for (int i = 0; i < 16; ++i) g.bytes[i] = raw[order[i]];
  return g;
}

const Guid kPsMapi{kGuidPsMapi};
const Guid kPsPublicStrings{kGuidPsPublicStrings};
const Guid kPsetidAddress = Guid::Parse("{00062004-0000-0000-C000-000000000046}");
const Guid kPsetidCommon = Guid::Parse("{00062008-0000-0000-C000-000000000046}");

MessageProperty TextProperty(uint16_t tag, std::string_view utf8) {
  return {PropertyKey::Tagged(tag), 0x001F, value::Utf16(utf8)};
}

MessageProperty AddressTextProperty(uint32_t number, std::string_view utf8) {
  return {PropertyKey::Numbered(kPsetidAddress, number), 0x001F, value::Utf16(utf8)};
}

namespace value {

Bytes Utf16(std::string_view s) {
  Bytes out;
  out.reserve(s.size() * 2);
  auto unit = [&](uint32_t u) {
    out.push_back(static_cast<uint8_t>(u));
    out.push_back(static_cast<uint8_t>(u >> 8));
  };
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<uint8_t>(s[i]);
    uint32_t cp;
    size_t len;
    if (c < 0x80) {
      cp = c;
      len = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      len = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      len = 3;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      len = 4;
    } else {
      throw PstError("text is not valid UTF-8");
    }
    if (i + len > s.size()) throw PstError("text is not valid UTF-8");
    for (size_t k = 1; k < len; ++k) {
      const auto cc = static_cast<uint8_t>(s[i + k]);
      if ((cc & 0xC0) != 0x80) throw PstError("text is not valid UTF-8");
      cp = (cp << 6) | (cc & 0x3F);
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      unit(0xD800 + (cp >> 10));
      unit(0xDC00 + (cp & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return out;
}

Bytes Int16(int16_t v) {
  Bytes b(2);
  Put16(b.data(), static_cast<uint16_t>(v));
  return b;
}
Bytes Int32(int32_t v) {
  Bytes b(4);
  Put32(b.data(), static_cast<uint32_t>(v));
  return b;
}
Bytes Int64(int64_t v) {
  Bytes b(8);
  for (int i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i));
  return b;
}
Bytes Boolean(bool v) {
  return Bytes{static_cast<uint8_t>(v ? 1 : 0)};
}
Bytes Double(double v) {
  return Int64(std::bit_cast<int64_t>(v));
}
Bytes Time(uint64_t filetime) {
  return Int64(static_cast<int64_t>(filetime));
}

Bytes MultiBinary(const std::vector<Bytes>& values) {
  Bytes out(4 + 4 * values.size());
  Put32(out.data(), static_cast<uint32_t>(values.size()));
  for (size_t i = 0; i < values.size(); ++i) {
    Put32(out.data() + 4 + 4 * i, static_cast<uint32_t>(out.size()));
    Append(out, values[i]);
  }
  return out;
}
Bytes MultiString(const std::vector<std::string>& utf8) {
  std::vector<Bytes> values;
  for (const std::string& s : utf8) values.push_back(Utf16(s));
  return MultiBinary(values);
}
Bytes MultiFixed(const std::vector<Bytes>& values) {
  Bytes out;
  for (const Bytes& v : values) Append(out, v);
  return out;
}

Bytes CompressedRtf(std::string_view rtf) {
  // The dictionary every LZFu stream starts from; references point into a 4096-byte ring that
  // holds it followed by the text as it is produced.
  static constexpr char kPrebuf[] =
      "{\\rtf1\\ansi\\mac\\deff0\\deftab720{\\fonttbl;}{\\f0\\fnil \\froman \\fswiss "
      "\\fmodern \\fscript \\fdecor MS Sans SerifSymbolArialTimes New RomanCourier"
      "{\\colortbl\\red0\\green0\\blue0\r\n\\par \\pard\\plain\\f0\\fs20\\b\\i\\u\\tab\\tx";
  static_assert(sizeof(kPrebuf) - 1 == 207);
  constexpr size_t kRing = 4096, kMaxMatch = 17;
  uint8_t ring[kRing] = {};
  std::memcpy(ring, kPrebuf, 207);
  size_t write = 207, filled = 207;
  const auto* in = reinterpret_cast<const uint8_t*>(rtf.data());
  const size_t n = rtf.size();
  auto put = [&](uint8_t c) {
    ring[write] = c;
    write = (write + 1) % kRing;
    filled = std::min(filled + 1, kRing);
  };
  Bytes body;
  size_t i = 0;
  for (bool done = false; !done;) {
    const size_t control = body.size();
    body.push_back(0);
    for (int bit = 0; bit < 8; ++bit) {
      if (i == n) {
        // The end: a reference to the position about to be written.
        body[control] |= static_cast<uint8_t>(1 << bit);
        body.push_back(static_cast<uint8_t>(write >> 4));
        body.push_back(static_cast<uint8_t>((write & 0xF) << 4));
        done = true;
        break;
      }
      // The longest earlier run equal to what follows; a run may overlap what it produces,
      // as the reader copies it byte by byte.
      size_t best = 0, best_from = 0;
      const size_t limit = std::min(kMaxMatch, n - i);
      const size_t farthest = filled == kRing ? kRing - 1 : filled;
      for (size_t back = 1; back <= farthest && best < limit; ++back) {
        const size_t from = (write + kRing - back) % kRing;
        size_t len = 0;
        while (len < limit) {
          const uint8_t c = len < back ? ring[(from + len) % kRing] : in[i + len - back];
          if (c != in[i + len]) break;
          ++len;
        }
        if (len > best) {
          best = len;
          best_from = from;
        }
      }
      if (best >= 2) {
        body[control] |= static_cast<uint8_t>(1 << bit);
        const auto ref = static_cast<uint16_t>((best_from << 4) | (best - 2));
        body.push_back(static_cast<uint8_t>(ref >> 8));
        body.push_back(static_cast<uint8_t>(ref));
        for (size_t k = 0; k < best; ++k) put(in[i + k]);
        i += best;
      } else {
        body.push_back(in[i]);
        put(in[i]);
        ++i;
      }
    }
  }
  Bytes out(16);
  Put32(out.data(), static_cast<uint32_t>(body.size() + 12));
  Put32(out.data() + 4, static_cast<uint32_t>(n));
  std::memcpy(out.data() + 8, "LZFu", 4);
  Put32(out.data() + 12, Crc32(body));
  Append(out, body);
  return out;
}

}  // namespace value

// ---------------------------------------------------------------------------------------------
// Code pages

CodePageText::CodePageText(uint32_t code_page) : code_page_(code_page) {
  const std::string name = code_page == 65001 ? "UTF-8" : "CP" + std::to_string(code_page);
  iconv_t cd = iconv_open(name.c_str(), "UTF-16LE");
  if (cd == reinterpret_cast<iconv_t>(-1))
    throw PstError("code page " + std::to_string(code_page) + " has no converter on this system");
  converter_ = cd;
}

CodePageText::~CodePageText() {
  iconv_close(static_cast<iconv_t>(converter_));
}

Bytes CodePageText::FromUtf8(std::string_view utf8) {
  return FromUtf16(value::Utf16(utf8));
}

Bytes CodePageText::FromUtf16(std::span<const uint8_t> utf16le) {
  const size_t units = utf16le.size() / 2;
  bool ascii = true;
  for (size_t i = 0; i < units && ascii; ++i)
    ascii = utf16le[2 * i + 1] == 0 && utf16le[2 * i] < 0x80;
  Bytes out;
  if (ascii) {
    out.resize(units);
    for (size_t i = 0; i < units; ++i) out[i] = utf16le[2 * i];
    return out;
  }
  auto cd = static_cast<iconv_t>(converter_);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  // Room for two bytes a unit, as double-byte code pages need; grown when a code page needs more.
  out.resize(2 * units + 16);
  size_t done = 0;
  auto* in = const_cast<char*>(reinterpret_cast<const char*>(utf16le.data()));
  size_t in_left = 2 * units;
  auto ensure = [&](size_t room) {
    if (out.size() - done < room) out.resize(out.size() * 2 + room);
  };
  // Converts what is left of the input, or with `flush` ends the output in the converter's
  // initial state; false when iconv stopped with errno set.
  auto convert = [&](bool flush) {
    char* to = reinterpret_cast<char*>(out.data() + done);
    size_t to_left = out.size() - done;
    const size_t r = flush ? iconv(cd, nullptr, nullptr, &to, &to_left)
                           : iconv(cd, &in, &in_left, &to, &to_left);
    done = out.size() - to_left;
    return r != static_cast<size_t>(-1);
  };
  for (;;) {
    if (in_left == 0) {
      if (convert(true)) break;
      out.resize(out.size() * 2 + 16);
      continue;
    }
    if (convert(false)) continue;
    if (errno == E2BIG) {
      out.resize(out.size() * 2 + 16);
      continue;
    }
    // A character the code page lacks (EILSEQ), or a lone surrogate at the end (EINVAL): a "?"
    // stands for it, and the conversion goes on after it.
    ensure(1);
    out[done++] = '?';
    const auto at = reinterpret_cast<const uint8_t*>(in);
    const uint16_t unit = static_cast<uint16_t>(at[0] | (at[1] << 8));
    size_t skip = 2;
    if (unit >= 0xD800 && unit < 0xDC00 && in_left >= 4) {
      const uint16_t next = static_cast<uint16_t>(at[2] | (at[3] << 8));
      if (next >= 0xDC00 && next < 0xE000) skip = 4;
    }
    skip = std::min(skip, in_left);
    in += skip;
    in_left -= skip;
  }
  out.resize(done);
  return out;
}

void CodePageText::ToString8(uint16_t& type, Bytes& value) {
  if (type == kPtString) {
    value = FromUtf16(value);
    type = kPtString8;
  } else if (type == (kPtString | kPtMultiFlag)) {
    // Count, the offsets of the values, then the values one after another.
    auto u32 = [&](size_t at) {
      if (at + 4 > value.size()) throw PstError("a multi-valued string is cut short");
      return static_cast<uint32_t>(value[at] | (value[at + 1] << 8) | (value[at + 2] << 16) |
                                   (static_cast<uint32_t>(value[at + 3]) << 24));
    };
    const uint32_t count = value.empty() ? 0 : u32(0);
    std::vector<Bytes> strings;
    for (uint32_t i = 0; i < count; ++i) {
      const size_t begin = u32(4 + 4 * i);
      const size_t end = i + 1 < count ? u32(8 + 4 * i) : value.size();
      if (begin > end || end > value.size()) throw PstError("a multi-valued string is damaged");
      strings.push_back(FromUtf16(std::span(value).subspan(begin, end - begin)));
    }
    value = value::MultiBinary(strings);
    type = kPtString8 | kPtMultiFlag;
  }
}

uint64_t FileTime(int year, int month, int day, int hour, int minute, int second) {
  // Days from 1601-01-01 to the date (proleptic Gregorian calendar).
  auto days_from_civil = [](int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;  // days since 1970-01-01
  };
  const int64_t days = days_from_civil(year, static_cast<unsigned>(month),
                                       static_cast<unsigned>(day)) +
                       134774;  // 1601-01-01 to 1970-01-01
  const int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second;
  return static_cast<uint64_t>(seconds) * 10000000ull;
}

// ---------------------------------------------------------------------------------------------
// Store

struct StoreWriter::FolderState {
  FolderState(std::vector<uint32_t> columns, FileLayout layout)
      : contents(std::move(columns), layout) {}
  Nid nid = 0;
  Nid parent = 0;
  std::string name;
  std::string container_class;
  std::vector<Nid> children;
  TableBuilder contents;
  uint32_t messages = 0;
  std::vector<Property> extra;  // default-folder entry ids and the like
};

StoreWriter::StoreWriter(const std::string& path, StoreOptions options)
    : options_(std::move(options)), ndb_(path, options_.encoding, options_.layout) {
  if (options_.layout == FileLayout::Ansi)
    text_ = std::make_unique<CodePageText>(options_.code_page);
  auto add = [&](Nid nid, Nid parent, std::string name, std::string cls) {
    auto f = std::make_unique<FolderState>(Columns(ContentsColumns()), options_.layout);
    f->nid = nid;
    f->parent = parent;
    f->name = std::move(name);
    f->container_class = std::move(cls);
    by_nid_[nid] = f.get();
    if (nid != parent) by_nid_[parent]->children.push_back(nid);
    folders_.push_back(std::move(f));
  };
  add(kRootFolder, kRootFolder, "", "");
  ipm_subtree_ = MakeNid(kNidTypeNormalFolder, next_folder_index_++);
  add(ipm_subtree_, kRootFolder, "Top of Personal Folders", "");
  search_root_ = MakeNid(kNidTypeNormalFolder, next_folder_index_++);
  add(search_root_, kRootFolder, "Search Root", "");
  for (const DefaultFolderInfo& d : kDefaultFolders) {
    const Nid nid = MakeNid(kNidTypeNormalFolder, next_folder_index_++);
    add(nid, ipm_subtree_, d.name, d.container_class);
    defaults_[d.which] = nid;
  }
  default_contacts_ = defaults_[DefaultFolder::kContacts];
}

StoreWriter::~StoreWriter() = default;

Nid StoreWriter::Folder(DefaultFolder which) const {
  return defaults_.at(which);
}

Nid StoreWriter::CreateFolder(Nid parent, const std::string& name,
                              const std::string& container_class) {
  auto it = by_nid_.find(parent);
  if (it == by_nid_.end()) throw PstError("no such parent folder");
  auto f = std::make_unique<FolderState>(Columns(ContentsColumns()), options_.layout);
  f->nid = MakeNid(kNidTypeNormalFolder, next_folder_index_++);
  f->parent = parent;
  f->name = name;
  f->container_class = container_class;
  it->second->children.push_back(f->nid);
  by_nid_[f->nid] = f.get();
  folders_.push_back(std::move(f));
  return folders_.back()->nid;
}

Bytes StoreWriter::Text(std::string_view utf8) {
  return text_ ? text_->FromUtf8(utf8) : value::Utf16(utf8);
}

std::vector<uint32_t> StoreWriter::Columns(const std::vector<uint32_t>& tags) const {
  std::vector<uint32_t> out = tags;
  for (uint32_t& tag : out)
    if (static_cast<uint16_t>(tag) == kPtString) tag = (tag & 0xFFFF0000u) | StringType();
  return out;
}

NodeImage StoreWriter::Table(const std::vector<uint32_t>& tags) const {
  return TableBuilder(Columns(tags), options_.layout).Build();
}

Bytes StoreWriter::EntryId(Nid nid) const {
  Bytes id(24, 0);
  std::memcpy(id.data() + 4, options_.record_key.data(), 16);
  Put32(id.data() + 20, nid);
  return id;
}

uint16_t StoreWriter::ResolveId(const PropertyKey& key) {
  if (!key.IsNamed()) return key.id;
  const std::string k = KeyString(key);
  auto it = named_index_.find(k);
  if (it != named_index_.end()) return static_cast<uint16_t>(0x8000 + it->second);
  if (named_.size() >= 0x7FFF) throw PstError("too many named properties");
  const auto index = static_cast<uint16_t>(named_.size());
  named_.push_back({key, index});
  named_index_[k] = index;
  return static_cast<uint16_t>(0x8000 + index);
}

namespace {

// The properties of one object, each id once: a value set again replaces the earlier one.
class PropertyBag {
 public:
  void Set(uint16_t id, uint16_t type, Bytes v) {
    auto w = where_.find(id);
    if (w != where_.end()) {
      props_[w->second] = {id, type, std::move(v)};
      return;
    }
    where_[id] = props_.size();
    props_.push_back({id, type, std::move(v)});
  }
  bool Has(uint16_t id) const { return where_.count(id) != 0; }
  Property& At(uint16_t id) { return props_[where_.at(id)]; }
  std::vector<Property>& Properties() { return props_; }

  // A table row of `columns` (tags: id and type): a value only where the type matches too.
  std::vector<std::optional<Bytes>> Row(const std::vector<uint32_t>& columns) const {
    std::vector<std::optional<Bytes>> row;
    for (uint32_t tag : columns) {
      const auto w = where_.find(static_cast<uint16_t>(tag >> 16));
      if (w != where_.end() && props_[w->second].type == static_cast<uint16_t>(tag))
        row.push_back(props_[w->second].value);
      else
        row.push_back(std::nullopt);
    }
    return row;
  }

 private:
  std::vector<Property> props_;
  std::map<uint16_t, size_t> where_;
};

}  // namespace

Nid StoreWriter::AddMessage(Nid folder_nid, const Message& message) {
  auto it = by_nid_.find(folder_nid);
  if (it == by_nid_.end()) throw PstError("no such folder");
  FolderState& folder = *it->second;
  const Nid nid = MakeNid(kNidTypeNormalMessage, next_message_index_++);

  PropertyBag bag;
  // What every message carries, unless the caller gives it.
  bag.Set(0x001A, StringType(), Text(message.message_class));
  bag.Set(0x0017, kPtInt32, value::Int32(1));
  bag.Set(0x0036, kPtInt32, value::Int32(0));
  bag.Set(0x0E07, kPtInt32, value::Int32(1));  // read
  bag.Set(0x0E17, kPtInt32, value::Int32(0));
  bag.Set(0x3007, kPtTime, value::Time(options_.time));
  bag.Set(0x3008, kPtTime, value::Time(options_.time));
  uint32_t size = 0;
  for (const MessageProperty& p : message.properties) {
    bag.Set(ResolveId(p.key), p.type, p.value);
    size += static_cast<uint32_t>(p.value.size()) + 8;
  }
  std::vector<SubnodeImage> attachments = AttachmentSubnodes(message.attachments, size);
  if (!attachments.empty()) {
    // The message says it has attachments (MSGFLAG_HASATTACH), in its flags and its row.
    Bytes& flags = bag.At(0x0E07).value;
    if (flags.size() == 4) flags[0] |= 0x10;
  }
  if (!bag.Has(0x0E08)) bag.Set(0x0E08, kPtInt32, value::Int32(static_cast<int32_t>(size)));
  if (text_) {
    if (!bag.Has(0x3FFD))
      bag.Set(0x3FFD, kPtInt32, value::Int32(static_cast<int32_t>(text_->CodePage())));
    for (Property& p : bag.Properties()) text_->ToString8(p.type, p.value);
  }

  NodeImage image = BuildPropertyContext(bag.Properties(), options_.layout);
  for (SubnodeImage& a : attachments) image.subnodes.push_back(std::move(a));
  ndb_.WriteNode(nid, folder.nid, image);
  folder.contents.AddRow(nid, bag.Row(Columns(ContentsColumns())));
  ++folder.messages;
  return nid;
}

std::vector<SubnodeImage> StoreWriter::AttachmentSubnodes(
    const std::vector<Attachment>& attachments, uint32_t& size) {
  std::vector<SubnodeImage> out;
  if (attachments.empty()) return out;
  TableBuilder table(Columns(AttachmentColumns()), options_.layout);
  for (size_t i = 0; i < attachments.size(); ++i) {
    PropertyBag bag;
    bag.Set(0x3705, kPtInt32, value::Int32(1));   // by value: the bytes are in 0x3701
    bag.Set(0x370B, kPtInt32, value::Int32(-1));  // not drawn inside the body
    bag.Set(0x3007, kPtTime, value::Time(options_.time));
    bag.Set(0x3008, kPtTime, value::Time(options_.time));
    uint32_t bytes = 0;
    for (const MessageProperty& p : attachments[i].properties) {
      bag.Set(ResolveId(p.key), p.type, p.value);
      bytes += static_cast<uint32_t>(p.value.size()) + 8;
    }
    if (!bag.Has(0x0E20)) bag.Set(0x0E20, kPtInt32, value::Int32(static_cast<int32_t>(bytes)));
    size += bytes;
    if (text_)
      for (Property& p : bag.Properties()) text_->ToString8(p.type, p.value);
    // Attachment objects are numbered as Outlook numbers them; the table's row id is the
    // object's subnode id.
    const Nid nid = MakeNid(kNidTypeAttachment, static_cast<uint32_t>(0x400 + i + 1));
    table.AddRow(nid, bag.Row(Columns(AttachmentColumns())));
    NodeImage object = BuildPropertyContext(std::move(bag.Properties()), options_.layout);
    out.push_back({nid, std::move(object.blocks), std::move(object.subnodes)});
  }
  NodeImage built = table.Build();
  out.push_back({kNidAttachmentTable, std::move(built.blocks), std::move(built.subnodes)});
  return out;
}

void StoreWriter::WriteFolder(FolderState& f) {
  std::vector<Property> props = {
      {0x3001, StringType(), Text(f.name)},
      {0x3602, kPtInt32, value::Int32(static_cast<int32_t>(f.messages))},
      {0x3603, kPtInt32, value::Int32(0)},
      {0x360A, kPtBoolean, value::Boolean(!f.children.empty())},
  };
  if (!f.container_class.empty()) props.push_back({0x3613, StringType(), Text(f.container_class)});
  for (const Property& p : f.extra) props.push_back(p);
  ndb_.WriteNode(f.nid, f.parent, BuildPropertyContext(props, options_.layout));

  TableBuilder hierarchy(Columns(HierarchyColumns()), options_.layout);
  for (Nid child : f.children) {
    const FolderState& c = *by_nid_.at(child);
    std::vector<std::optional<Bytes>> row = {
        Text(c.name), value::Int32(static_cast<int32_t>(c.messages)), value::Int32(0),
        value::Boolean(!c.children.empty()),
        c.container_class.empty() ? std::nullopt : std::optional(Text(c.container_class))};
    hierarchy.AddRow(child, row);
  }
  const uint32_t index = NidIndexOf(f.nid);
  ndb_.WriteNode(MakeNid(kNidTypeHierarchyTable, index), 0, hierarchy.Build());
  ndb_.WriteNode(MakeNid(kNidTypeContentsTable, index), 0, f.contents.Build());
  ndb_.WriteNode(MakeNid(kNidTypeAssocContentsTable, index), 0, Table(ContentsColumns()));
}

void StoreWriter::WriteNameToIdMap() {
  // Some readers stop one entry short of the end of the entry stream; the map therefore ends
  // with a name that no item of this store uses (Outlook's maps hold hundreds of names anyway).
  for (uint32_t lid = 0x8580;; ++lid) {
    const PropertyKey spare = PropertyKey::Numbered(kPsetidCommon, lid);
    if (!named_index_.count(KeyString(spare))) {
      ResolveId(spare);
      break;
    }
  }
  constexpr uint32_t kBuckets = 251;
  std::vector<Guid> guids;
  Bytes guid_stream, entry_stream, string_stream;
  std::vector<Bytes> buckets(kBuckets);
  for (const NamedEntry& e : named_) {
    uint16_t guid_index;
    if (*e.key.set == kPsMapi) {
      guid_index = 1;
    } else if (*e.key.set == kPsPublicStrings) {
      guid_index = 2;
    } else {
      auto g = std::find(guids.begin(), guids.end(), *e.key.set);
      if (g == guids.end()) {
        guids.push_back(*e.key.set);
        guid_stream.insert(guid_stream.end(), e.key.set->bytes.begin(), e.key.set->bytes.end());
        g = guids.end() - 1;
      }
      guid_index = static_cast<uint16_t>(3 + (g - guids.begin()));
    }
    const bool is_string = !e.key.number.has_value();
    uint32_t id, hash_id;
    if (is_string) {
      id = static_cast<uint32_t>(string_stream.size());
      const Bytes name = value::Utf16(e.key.name);
      string_stream.resize(string_stream.size() + 4);
      Put32(string_stream.data() + id, static_cast<uint32_t>(name.size()));
      Append(string_stream, name);
      while (string_stream.size() % 4) string_stream.push_back(0);
      hash_id = Crc32(name);
    } else {
      id = hash_id = *e.key.number;
    }
    const auto guid_field = static_cast<uint16_t>((guid_index << 1) | (is_string ? 1 : 0));
    Bytes record(8);
    Put32(record.data(), id);
    Put16(record.data() + 4, guid_field);
    Put16(record.data() + 6, e.index);
    Append(entry_stream, record);
    Put32(record.data(), hash_id);
    Append(buckets[(hash_id ^ guid_field) % kBuckets], record);
  }
  std::vector<Property> props = {
      {0x0001, kPtInt32, value::Int32(kBuckets)},
      {kNameIdGuids, kPtBinary, guid_stream},
      {kNameIdEntries, kPtBinary, entry_stream},
      {kNameIdStrings, kPtBinary, string_stream},
  };
  for (uint32_t b = 0; b < kBuckets; ++b)
    if (!buckets[b].empty())
      props.push_back({static_cast<uint16_t>(0x1000 + b), kPtBinary, buckets[b]});
  ndb_.WriteNode(kNameToIdMap, 0, BuildPropertyContext(props, options_.layout));
}

void StoreWriter::WriteMessageStore() {
  Bytes key(options_.record_key.begin(), options_.record_key.end());
  std::vector<Property> props = {
      {0x0FF9, kPtBinary, key},
      {0x3001, StringType(), Text(options_.display_name)},
      {0x35DF, kPtInt32, value::Int32(0x9F)},  // which special folders are valid
      {0x35E0, kPtBinary, EntryId(ipm_subtree_)},
      {0x35E2, kPtBinary, EntryId(defaults_.at(DefaultFolder::kOutbox))},
      {0x35E3, kPtBinary, EntryId(defaults_.at(DefaultFolder::kDeletedItems))},
      {0x35E4, kPtBinary, EntryId(defaults_.at(DefaultFolder::kSentItems))},
      {0x35E7, kPtBinary, EntryId(search_root_)},
      {0x67FF, kPtInt32, value::Int32(0)},  // no password
  };
  ndb_.WriteNode(kMessageStore, 0, BuildPropertyContext(props, options_.layout));
}

void StoreWriter::WriteTemplates() {
  ndb_.WriteNode(0x60D, 0, Table(HierarchyColumns()));
  ndb_.WriteNode(0x60E, 0, Table(ContentsColumns()));
  ndb_.WriteNode(0x60F, 0, Table(ContentsColumns()));
  ndb_.WriteNode(0x671, 0, Table(AttachmentColumns()));
  ndb_.WriteNode(0x692, 0, Table(RecipientColumns()));
}

void StoreWriter::Finish() {
  if (finished_) return;
  // The default folders' entry ids, on the root folder and on the Inbox as Outlook keeps them.
  std::vector<Property> defaults = {
      {0x36D0, kPtBinary, EntryId(defaults_.at(DefaultFolder::kCalendar))},
      {0x36D1, kPtBinary, EntryId(default_contacts_)},
      {0x36D2, kPtBinary, EntryId(defaults_.at(DefaultFolder::kJournal))},
      {0x36D3, kPtBinary, EntryId(defaults_.at(DefaultFolder::kNotes))},
      {0x36D4, kPtBinary, EntryId(defaults_.at(DefaultFolder::kTasks))},
      {0x36D7, kPtBinary, EntryId(defaults_.at(DefaultFolder::kDrafts))},
  };
  by_nid_.at(kRootFolder)->extra = defaults;
  by_nid_.at(defaults_.at(DefaultFolder::kInbox))->extra = defaults;

  WriteMessageStore();
  for (const auto& f : folders_) WriteFolder(*f);
  WriteTemplates();
  // The search queues a store always has, empty: nothing is waiting to be indexed.
  for (Nid queue : {Nid{0x1E1}, Nid{0x201}, Nid{0x261}}) ndb_.AddNodeEntry(queue, 0, 0, 0);
  WriteNameToIdMap();
  ndb_.SetNextNidIndex(kNidTypeNormalFolder, next_folder_index_);
  ndb_.SetNextNidIndex(kNidTypeNormalMessage, next_message_index_);
  ndb_.Finish();
  finished_ = true;
}

}  // namespace lumivex::pst
