#include "tools/pstwriter/Messaging.h"

#include "tools/pstwriter/LittleEndian.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

namespace lumivex::pst {

namespace {

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

MessageProperty TextProperty(uint16_t tag, std::string_view utf8) {
  return {PropertyKey::Tagged(tag), 0x001F, value::Utf16(utf8)};
}

MessageProperty AddressTextProperty(uint32_t number, std::string_view utf8) {
  return {PropertyKey::Numbered(kPsetidAddress, number), 0x001F, value::Utf16(utf8)};
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

StoreWriter::StoreWriter(const std::string& path, StoreSettings options)
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
