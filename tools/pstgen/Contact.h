// Items as lumivex-pstgen describes them: a message class, fields by their mail-client names
// ("FirstName", "Email1Address", "Birthday"...) and raw properties by tag or by name. ToMessage()
// turns one into a message of the store writer, adding what Outlook adds to a contact it saves
// (display name, file-as, subject, e-mail address types and display names, local birthday).
#pragma once

#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "tools/pstwriter/Messaging.h"

namespace lumivex::pstgen {

using FieldValue = std::variant<std::string, std::vector<std::string>>;

// A file attached to an item.
struct FileAttachment {
  std::string name;  // "Agenda.pdf"
  pst::Bytes data;
  std::string mime_type;  // told from the bytes when empty
  bool hidden = false;
};

struct Item {
  std::string message_class = "IPM.Contact";
  std::vector<std::pair<std::string, FieldValue>> fields;  // mail-client names, in order
  std::vector<pst::MessageProperty> properties;            // given by tag or by name
  // The contact's picture (a JPEG, PNG, GIF or BMP file's bytes): attached as Outlook attaches
  // it, "ContactPicture.jpg" flagged as the contact photo, and PidLidHasPicture set.
  pst::Bytes picture;
  std::vector<FileAttachment> attachments;
  // A name other items of the same description use to point at this one (list members).
  std::string label;
  // The members of a distribution list: contacts of the same store, by label, or one-off
  // addresses.
  struct Member {
    std::string label;  // a contact of the description; empty for a one-off member
    int email = 1;      // which of the contact's e-mail addresses, 1 to 3
    std::string name, address, address_type = "SMTP";  // a one-off member
  };
  std::vector<Member> members;
};

// A contact of the store as a list's member entry points at it: its entry id and, for each of
// its three e-mail entries, the display name, address type and address it holds.
struct LinkedContact {
  pst::Bytes entry_id;
  struct Email {
    std::string display_name, type, address;
  } emails[3];
};
// Finds the contact an item's label names; throws pst::PstError when there is none.
using ContactLookup = std::function<LinkedContact(const std::string& label)>;

// What a list member entry points at, as ToMessage() derives it from the contact's message.
LinkedContact LinkedContactOf(const pst::Message& contact, pst::Bytes entry_id);

struct ContactOptions {
  // Offset of the local time zone from UTC in minutes: a birthday typed as 17 May is stored as
  // the UTC instant of local midnight (1980-05-16T23:00Z for +60), its local date beside it.
  int utc_offset_minutes = 0;
};

// The mail-client field names ToMessage() understands, with what each maps to, for --help.
std::string FieldTable();
bool IsKnownField(const std::string& name);

// Throws pst::PstError naming the field when a field is unknown or its value malformed.
// `lookup` resolves the labels of list members (a list with linked members needs it).
pst::Message ToMessage(const Item& item, const ContactOptions& options,
                       const ContactLookup& lookup = {});

// The MIME type of an image or other file told from its first bytes ("image/jpeg",
// "image/png", "image/gif", "image/bmp"), else "application/octet-stream"; and the file-name
// extension that goes with it (".jpg", ...; empty for unknown bytes).
std::string MimeTypeOf(const pst::Bytes& data);
std::string ExtensionOf(const std::string& mime_type);

// Parses "1980-05-17" or "1980-05-17T08:30:00Z" into year, month, day, hour, minute, second.
// Returns false when malformed.
bool ParseDateTime(const std::string& text, int parts[6]);

}  // namespace lumivex::pstgen
