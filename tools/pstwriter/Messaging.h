// The messaging layer: a store with its message store object, name-to-id map, root folder,
// "Top of Personal Folders" with the default folders, further folders, and messages of any class
// carrying tagged and named properties. Messages go to the file as they are added; folders,
// their tables and the name-to-id map are written by Finish().
//
// Text is handed over as Unicode whatever the layout: UTF-8 for names and classes, UTF-16LE
// values of PT_UNICODE (0x001F) and PT_MV_UNICODE (0x101F) for properties. An ANSI store, which
// Outlook 97-2002 reads and which holds no Unicode strings, gets them in its code page as
// PT_STRING8 (0x001E) and PT_MV_STRING8 (0x101E), and each message names that code page in
// PidTagMessageCodepage (0x3FFD). Names in the name-to-id map stay UTF-16 in both layouts.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/pstwriter/CodePageText.h"
#include "tools/pstwriter/CompressedRtf.h"
#include "tools/pstwriter/Ltp.h"
#include "tools/pstwriter/Ndb.h"
#include "tools/pstwriter/Values.h"

namespace lumivex::pst {

// Where a property's id comes from: a fixed tag, or a name in a property set (by number or by
// string) mapped to an id from 0x8000 up by the store's name-to-id map.
struct PropertyKey {
  uint16_t id = 0;  // tagged properties
  std::optional<Guid> set;
  std::optional<uint32_t> number;
  std::string name;  // UTF-8, for string-named properties

  static PropertyKey Tagged(uint16_t id) { return {id, std::nullopt, std::nullopt, {}}; }
  static PropertyKey Numbered(const Guid& set, uint32_t number) { return {0, set, number, {}}; }
  static PropertyKey Named(const Guid& set, std::string name) {
    return {0, set, std::nullopt, std::move(name)};
  }
  bool IsNamed() const { return set.has_value(); }
};

struct MessageProperty {
  PropertyKey key;
  uint16_t type = 0;
  Bytes value;
};

// A Unicode text property (PT_UNICODE): tagged, or numbered in the contact address set
// (PSETID_Address), where the e-mail addresses, the business address and the file-as name are.
MessageProperty TextProperty(uint16_t tag, std::string_view utf8);
MessageProperty AddressTextProperty(uint32_t number, std::string_view utf8);

// An attachment object: its properties, the file's bytes in PidTagAttachDataBinary (0x3701).
// The store adds what every attachment carries unless given: the method "by value" (0x3705),
// the rendering position -1 (0x370B, not drawn in the body), its size (0x0E20) and times.
struct Attachment {
  std::vector<MessageProperty> properties;
};

struct Message {
  std::string message_class = "IPM.Note";
  std::vector<MessageProperty> properties;
  // Kept in the message's attachment table (subnode 0x671), each object a subnode of its own.
  std::vector<Attachment> attachments;
};

enum class DefaultFolder {
  kDeletedItems,
  kInbox,
  kOutbox,
  kSentItems,
  kCalendar,
  kContacts,
  kJournal,
  kNotes,
  kTasks,
  kDrafts,
};

struct StoreSettings {
  Encoding encoding = Encoding::Compressible;
  FileLayout layout = FileLayout::Unicode;
  // The Windows code page of an ANSI store's strings; Unicode stores have none.
  uint32_t code_page = 1252;
  std::string display_name = "Personal Folders";
  // The store's record key (provider UID); part of every entry id.
  std::array<uint8_t, 16> record_key = {0x4C, 0x75, 0x6D, 0x69, 0x76, 0x65, 0x78, 0x20,
                                        0x70, 0x73, 0x74, 0x67, 0x65, 0x6E, 0x00, 0x01};
  // Creation and modification time of everything the store holds (no clock is read).
  uint64_t time = FileTime(2024, 1, 1);
};

class StoreWriter {
 public:
  StoreWriter(const std::string& path, StoreSettings options);
  ~StoreWriter();

  Nid RootFolder() const { return kRootFolder; }
  Nid TopOfPersonalFolders() const { return ipm_subtree_; }
  Nid Folder(DefaultFolder which) const;
  Nid CreateFolder(Nid parent, const std::string& name, const std::string& container_class);
  // Makes `folder` the default contacts folder (the Contacts folder unless changed).
  void SetDefaultContactsFolder(Nid folder) { default_contacts_ = folder; }
  // The 24-byte entry id of a folder or message of this store.
  Bytes EntryId(Nid nid) const;

  // Writes one message to the file at once; the folder keeps only its contents-table row.
  Nid AddMessage(Nid folder, const Message& message);
  // The node id the next AddMessage() gives its message; the ones after it follow in order.
  Nid NextMessageNid() const { return MakeNid(kNidTypeNormalMessage, next_message_index_); }
  uint16_t ResolveId(const PropertyKey& key);

  void Finish();
  uint64_t BytesWritten() const { return ndb_.BytesWritten(); }

  static constexpr Nid kMessageStore = kNidMessageStore;
  static constexpr Nid kNameToIdMap = kNidNameToIdMap;
  static constexpr Nid kRootFolder = kNidRootFolder;
  static constexpr Nid kNidAttachmentTable = 0x671;

 private:
  struct FolderState;
  struct NamedEntry {
    PropertyKey key;
    uint16_t index;
  };
  // A UTF-8 text as the store keeps strings, and the type it keeps them under.
  Bytes Text(std::string_view utf8);
  uint16_t StringType() const { return text_ ? kPtString8 : kPtString; }
  // Table columns with their string types made the store's.
  std::vector<uint32_t> Columns(const std::vector<uint32_t>& tags) const;
  NodeImage Table(const std::vector<uint32_t>& tags) const;
  // The subnodes of a message that hold its attachments: the attachment table and the objects.
  // Adds their size to `size`.
  std::vector<SubnodeImage> AttachmentSubnodes(const std::vector<Attachment>& attachments,
                                               uint32_t& size);
  void WriteFolder(FolderState& folder);
  void WriteNameToIdMap();
  void WriteMessageStore();
  void WriteTemplates();

  StoreSettings options_;
  NdbWriter ndb_;
  std::unique_ptr<CodePageText> text_;  // ANSI stores only
  std::vector<std::unique_ptr<FolderState>> folders_;
  std::map<Nid, FolderState*> by_nid_;
  std::map<DefaultFolder, Nid> defaults_;
  Nid ipm_subtree_ = 0;
  Nid search_root_ = 0;
  Nid default_contacts_ = 0;
  uint32_t next_folder_index_ = 0x401;
  uint32_t next_message_index_ = 0x10001;
  std::vector<NamedEntry> named_;
  std::map<std::string, uint16_t> named_index_;  // lookup of `named_` by a key string
  bool finished_ = false;
};

}  // namespace lumivex::pst
