// A CardDAV address book as a destination. Each contact is one resource named from its uid
// (UID.vcf in the book); a new one is sent with PUT and If-None-Match: *, so that nothing there
// is replaced by accident, a changed one with If-Match: the ETag we left it with.
//
// The form: vCard 3.0, or 4.0 where the book announces it in supported-address-data and the
// contact has no picture (a 4.0 picture is a data: URI, which some servers cut to nothing;
// Radicale 3 does); so every picture arrives whole. A distribution list goes as the group card
// the servers' own clients read: in 3.0 X-ADDRESSBOOKSERVER-KIND:group with one
// X-ADDRESSBOOKSERVER-MEMBER per member (Apple's contacts, Nextcloud, DAVx5 in its "groups are
// separate vCards" mode), in 4.0 KIND:group with MEMBER, a member named by its own card
// (urn:uuid:) where it is in the book, as those clients need; Radicale and Xandikos give both back
// as sent, and the members' names stay in the note.
//
// Before sending, the book's ETags are listed once (PROPFIND, depth 1). A contact the record of
// sends knows is unchanged when the server still has our ETag and the store the same bytes; one
// whose ETag differs was changed on the server and is a conflict. When the record is lost, the
// cards already there are fetched (addressbook-multiget) and one whose REV and UID equal the
// contact's counts as ours and unchanged; any other is a conflict.
#pragma once

#include "destination/CardDav.h"
#include "destination/Destination.h"

namespace lumivex::destination {

struct CardDavTarget {
  CardDavAccount account;
  QString book;     // by name or path; empty: the only one
  QString newBook;  // make (or take) this book instead
  QString stateFolder;
};

class CardDavDestination : public Destination {
 public:
  explicit CardDavDestination(CardDavTarget target);
  ~CardDavDestination() override;
  QString Describe() const override;
  SendResult Send(contact::ContactStream& contacts, const SendOptions& options,
                  SendObserver& observer) override;
  // The account's books (finding them first). Throws DestinationError; SendStopped, the request
  // in flight given up, once `cancelled` says so.
  std::vector<AddressBookInfo> Books(std::function<bool()> cancelled = {});
  // Requests made by the last Send, by verb ("PUT", "PROPFIND", ...).
  int RequestCount(const QByteArray& verb) const;

 private:
  SendResult SendToBook(contact::ContactStream& contacts, const SendOptions& options,
                        SendObserver& observer);
  CardDavTarget target_;
  std::unique_ptr<CardDavAccountSession> session_;
  QUrl bookUrl_;
};

}  // namespace lumivex::destination
