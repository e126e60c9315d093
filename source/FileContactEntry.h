// One entry of a folder as the writers read it. Opening it indexes its properties by contact
// slot (ContactProperties.h); Read gives one field by name, ReadContact the whole contact model.
// The definitions are spread by job: the entry and its values here (FileContactEntry.cpp), the
// contact model's field groups (ContactFill.cpp), the picture (ContactPicture.cpp) and a
// distribution list's members (ListMembers.cpp).
#pragma once

#include "contact/Contact.h"
#include "source/ContactProperties.h"
#include "source/EntryReadAhead.h"
#include "source/MailStore.h"
#include "source/StoreContext.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <string_view>
#include <vector>

namespace lumivex::backend {

class FileContactEntry : public ContactEntry {
 public:
  // `item` is null when the entry cannot be opened; `why` then says why.
  FileContactEntry(std::shared_ptr<StoreContext> state, std::unique_ptr<storefile::StoreItem> item,
                   QString why = {});

  bool Read(std::string_view name, QString& value) const override;
  int ReadFields(std::span<const int> fields, QString* values, QString& why) const override;

  QString Failure() const override { return lastFailure_.isEmpty() ? failure_ : lastFailure_; }
  QString Damage() const override { return item_ ? damage_ : QString(); }

  ~FileContactEntry() override;
  // An entry built on the read-ahead thread is freed there, whole: the entry, its item and its
  // uid (see Graveyard).
  void operator delete(FileContactEntry* entry, std::destroying_delete_t);
  FileContactEntry(const FileContactEntry&) = delete;
  FileContactEntry& operator=(const FileContactEntry&) = delete;

  // Whether the entry's properties could be read.
  bool Opened() const { return item_ != nullptr; }
  // Makes every read of the entry fail for `why`.
  void MakeUnreadable(const QString& why) {
    item_.reset();
    failure_ = why;
  }

  // The entry is freed in `graveyard`, whole, when it goes.
  void BuryIn(std::shared_ptr<Graveyard> graveyard) { graveyard_ = std::move(graveyard); }

  // Whether entries of the entry's folder are read whole (ReadContact) is told to `hints`.
  void HintTo(std::shared_ptr<ReadHints> hints) { hints_ = std::move(hints); }

  // Makes the uid now, on the read-ahead thread, for the ReadContact that comes later: of what
  // reading an entry whole takes, it is the one step that needs nothing the caller has.
  void PrepareUid();

  bool ReadContact(contact::Contact& contact, QString& why) const override;

 private:
  // A text field of the contact model and the slot it is read from.
  struct TextField {
    int slot;
    const char* label;  // what the reason for a failed read calls it
    QString contact::Contact::*member;
  };
  // One group of the contact's fields filled from the entry (ContactFill.cpp); false, with the
  // reason in `why`, when one of them cannot be read.
  using Filler = bool (FileContactEntry::*)(contact::Contact& c, QString& why) const;

  // The readable field in `slot` as Read gives it: dates as short-date text, the web page from
  // either property that holds it, e-mail addresses in their SMTP form, the notes.
  bool ReadSlot(int slot, QString& value) const;
  // Read for the name of readable slot `slot`.
  bool ReadField(int slot, QString& value) const;

  bool Has(int slot) const { return index_[static_cast<size_t>(slot)] >= 0; }

  // The code page of the entry's 8-bit text: the one it names, else the store's.
  int CodePage() const;

  // Strings as stored, multi-valued strings joined with ", ", numbers as decimal text. Absent:
  // empty text. A value of another type fails the read, or under leniency_ reads as empty and
  // is noted in skipped_. A number in a named property reads as empty (noted under leniency_):
  // the store's name map gave that name to a property of another kind, and its number is not
  // the field's value (an integer "Keywords" is no category).
  // Inline for what most of the ~70 fields of a whole contact are, absent or UTF-16 text: the
  // call itself would cost more than either.
  bool ReadText(int slot, QString& value) const {
    const int index = index_[static_cast<size_t>(slot)];
    if (index < 0) {
      if (!value.isEmpty()) value.resize(0);  // keeps its room for the next entry's value
      return true;
    }
    if (views_ != nullptr && types_[static_cast<size_t>(slot)] == storefile::kTypeUnicode) {
      storefile::DecodeUtf16(views_[index], value);  // into the room `value` already has
      return true;
    }
    return ReadStoredText(slot, index, types_[static_cast<size_t>(slot)], value);
  }
  // ReadText of the property at `index`, of type `type`, read for `slot`.
  bool ReadStoredText(int slot, int index, uint32_t type, QString& value) const;
  // An integer or floating-point value as decimal text. False when its bytes cannot be read.
  bool ReadNumber(int index, uint32_t type, QString& value) const;
  // Names the field just read in leftOut_ when its value was of a type it cannot take.
  void Noted(const char* what) const {
    if (skipped_ != 0) NoteSkipped(what);
  }
  void NoteSkipped(const char* what) const;

  // A date as the user's short date: the local-time copy where the entry has one.
  bool ReadDate(int localSlot, int utcSlot, QString& value) const;

  // E-mail address 1-3 (its slot), an Exchange address in the SMTP form its display text holds.
  bool ReadEmail(int slot, QString& value) const;

  // The notes: the plain-text body, or where the entry has none (or an empty one) the text of its
  // compressed RTF body; line breaks as "\n". False when the body cannot be read.
  bool ReadBody(QString& notes, QString* why = nullptr) const;

  // Every value of a multi-valued string (or the one value of a single string) as a list.
  bool ReadList(int slot, QStringList& out) const;

  // A date as the calendar day entered: the local-time copy where the entry has one.
  bool ReadDay(int localSlot, int utcSlot, contact::Date& day) const;

  // E-mail address `n` (0-2) with its display name and type. An Exchange ("EX") address is an
  // X.500 name; its SMTP form is taken from the original display text, the display name or the
  // one-off entry id the address was made from, where one of them holds it.
  bool ReadEmailEntry(int n, contact::Email& email) const;

  // The picture attached as the contact's photo, if any.
  bool ReadPhoto(contact::Photo& photo, QString& why) const;

  // The members of a distribution list, in the list's order. A member that is an entry of this
  // store is read from that entry (its name and the e-mail address the list names); a one-off
  // member, or one whose entry is gone, from the one-off entry id the list keeps beside it.
  bool ReadMembers(std::vector<contact::Member>& members, QString& why) const;

  // A wrapped entry id of this store read from the entry it names. False when the id names
  // something else or the entry cannot be read.
  bool ResolveMember(const QByteArray& id, contact::Member& member) const;

  // The uid is made from the entry id the mail client itself names the entry by: the store's
  // record key and the entry's node id. Both stay the same for as long as the entry stays in this
  // store, whichever reader reads it and however often it is exported; a search key would not
  // do, as copies of a contact share theirs. A store whose record key cannot be read has the
  // entry's own search key and creation time in its place (never the file's path, so that a copy
  // of the file gives the same UIDs). Written over `uid`, whose room is kept.
  void UidInto(QString& uid) const;

  // The whole contact model, one group of fields after another (the first that fails gives the
  // reason).
  bool FillContact(contact::Contact& c, QString& why) const;
  bool FillTexts(std::span<const TextField> fields, contact::Contact& c, QString& why) const;
  bool FillNames(contact::Contact& c, QString& why) const;
  bool FillWork(contact::Contact& c, QString& why) const;
  bool FillOtherTexts(contact::Contact& c, QString& why) const;
  bool FillEmails(contact::Contact& c, QString& why) const;
  bool FillPhones(contact::Contact& c, QString& why) const;
  bool FillAddresses(contact::Contact& c, QString& why) const;
  bool FillDays(contact::Contact& c, QString& why) const;
  bool FillGender(contact::Contact& c, QString& why) const;
  bool FillLists(contact::Contact& c, QString& why) const;
  bool FillNotes(contact::Contact& c, QString& why) const;
  bool FillLastChange(contact::Contact& c, QString& why) const;
  bool FillUid(contact::Contact& c, QString& why) const;
  bool FillPicture(contact::Contact& c, QString& why) const;
  bool FillGroup(contact::Contact& c, QString& why) const;

  std::shared_ptr<StoreContext> state_;
  std::unique_ptr<storefile::StoreItem> item_;
  std::array<int, kSlotCount> index_{};
  std::array<uint32_t, kSlotCount> types_{};
  mutable int codePage_ = 0;
  mutable QByteArray buffer_;  // reused by every string read of the entry
  // While ReadContact reads, the value bytes of every property of the item, by its index (null
  // when the reader keeps none): taken in one call rather than one per field read.
  mutable const QByteArrayView* views_ = nullptr;
  QString failure_;  // why the entry cannot be opened or its properties read
  QString damage_;   // what of the entry the store lost, though the entry can be read
  mutable QString lastFailure_;
  // While ReadContact reads (leniency_), a value of a type its field cannot take is left out:
  // its type is kept in skipped_ until the field is named in leftOut_.
  mutable bool leniency_ = false;
  mutable uint32_t skipped_ = 0;
  mutable QStringList leftOut_;
  // While ReadContact reads: the fields of a group that could not be read (a damaged value),
  // why each; the entry is given without them where its names, uid and kind could be read.
  mutable QStringList unreadParts_;
  std::shared_ptr<Graveyard> graveyard_;  // where the entry is freed
  std::shared_ptr<ReadHints> hints_;      // how the entries of its folder are read
  QString uid_;                           // made ahead by PrepareUid
};

}  // namespace lumivex::backend
