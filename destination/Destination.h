// An address book that contacts are sent into, rather than a file the user carries there: a
// CardDAV server's address book, an Evolution Data Server book (GNOME), or a vdir folder of one
// vCard per contact (KDE, khard, vdirsyncer). The command line's `send` verb and the desktop's
// "Send to an address book" choice drive every kind through this interface.
//
// Sending is re-runnable: each contact goes to one place named from its stable uid; a contact
// the destination already holds as we last sent it is left alone ("unchanged"); one changed in
// the store since is updated in place; one the user changed on the destination since our last
// send is a conflict and left as it is unless `overwrite` is set. Nothing the destination holds
// that did not come from us is touched.
#pragma once

#include "contact/ContactStream.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

namespace lumivex::destination {

// kRepeated: the same entry came twice in one send (a store and its copy sent unmerged); it went
// once, and the second is no failure.
enum class SendOutcome { kAdded, kUpdated, kUnchanged, kRepeated, kConflict, kFailed };

// What the user can do about a destination that refused, or about a contact not sent. The
// destination's own text says what happened; each front end adds the remedy in its own words
// (the command line names its option, the window its control).
enum class Remedy {
  kNone,
  kCredentials,       // give the right user name and password
  kTrustCertificate,  // trust the server's own certificate (a self-signed server)
  kChooseBook,        // name one of the address books there
  kNewBook,           // make a new address book
  kOverwrite,         // send over what the user changed (or deleted) on the destination
  kNetwork,           // reach the server: it did not answer, or stopped answering on the way
  kOtherServer,       // give the address the server sent us on to, if it is the user's
};

struct SendOptions {
  bool overwrite = false;  // send over contacts the user changed on the destination
  bool dryRun = false;     // find out what would be sent; change nothing
  // Send only into a destination that holds no card yet (else DestinationHoldsCards): the
  // contacts' UIDs are new, and the cards there may be the same people under their old ones.
  bool onlyIntoEmpty = false;
};

// A contact that was not sent as it is in the store.
struct SendProblem {
  SendOutcome outcome = SendOutcome::kFailed;  // kConflict or kFailed
  QString name;                                // the contact's display name
  QString uid;
  std::vector<contact::Origin> origins;
  QString reason;  // the destination's own words: "HTTP 507 Insufficient Storage: ..."
  Remedy remedy = Remedy::kNone;
};

struct SendResult {
  int added = 0;
  int updated = 0;
  int unchanged = 0;
  int repeated = 0;  // entries met a second time in this send (copies), each sent once
  std::vector<SendProblem> problems;  // conflicts and failures, in the order met
  bool cancelled = false;             // stopped by the observer; a re-run finishes the job
  // Cards sent before whose people are now in other cards of this send (SendState::
  // TakeMergedAway): removed where they were as this program left them; the others, changed
  // there since, left as they are: where they are.
  int removed = 0;
  QStringList mergedAway = {};
};

class SendObserver {
 public:
  virtual ~SendObserver() = default;
  // After each contact: contacts done, their total (-1 while not known).
  virtual void Progress(int done, int total) = 0;
  // A contact was not sent; it is also in the result.
  virtual void Problem(const SendProblem& problem) { (void)problem; }
  // Asked between contacts; true stops the send.
  virtual bool Cancelled() const { return false; }
};

// A server certificate that no authority the system (or the user) trusts vouches for.
struct UntrustedCertificate {
  QString server;     // host:port
  QByteArray sha256;  // the certificate's SHA-256 digest (raw bytes)
};

// The destination cannot be used at all: unreachable, refused our credentials, no such book.
// what() says what failed; remedy() what the user can do about it, which the front end words.
class DestinationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  DestinationError(const QString& what, Remedy remedy, UntrustedCertificate certificate = {})
      : std::runtime_error(what.toStdString()),
        remedy_(remedy),
        certificate_(std::move(certificate)) {}
  // `fact` and, after it, what the destination itself tells to do about it: what() holds both
  // ("fact. advice"); fact() the first alone, for a front end that words the remedy itself.
  DestinationError(const QString& fact, const QString& advice, Remedy remedy)
      : std::runtime_error((fact + QStringLiteral(". ") + advice).toStdString()),
        remedy_(remedy),
        fact_(fact) {}
  Remedy remedy() const { return remedy_; }
  // What failed, without the destination's own advice where it gave one apart.
  QString fact() const { return fact_.isEmpty() ? QString::fromUtf8(what()) : fact_; }
  // With Remedy::kTrustCertificate: the certificate the server showed.
  const UntrustedCertificate& certificate() const { return certificate_; }

 private:
  Remedy remedy_ = Remedy::kNone;
  UntrustedCertificate certificate_;
  QString fact_;
};

// A destination that holds cards already, refused by SendOptions::onlyIntoEmpty before anything
// is sent.
class DestinationHoldsCards : public DestinationError {
 public:
  DestinationHoldsCards(const QString& what, int cards)
      : DestinationError(what.toStdString()), cards_(cards) {}
  int cards() const { return cards_; }

 private:
  int cards_ = 0;
};

// A send that stopped on the way (the server lost, the login refused part way through, the record
// of the send not saved): what() says why, done() what it did before, which the record of sends
// holds and which is counted as sent.
class SendBrokenOff : public DestinationError {
 public:
  SendBrokenOff(const DestinationError& why, SendResult done)
      : DestinationError(why), done_(std::move(done)) {}
  const SendResult& done() const { return done_; }

 private:
  SendResult done_;
};

class Destination {
 public:
  virtual ~Destination() = default;
  // Where the contacts go, for messages: "the CardDAV address book https://…/contacts/".
  virtual QString Describe() const = 0;
  // Sends every contact `contacts` gives. Throws DestinationError; SendBrokenOff once it has
  // begun to change the destination.
  virtual SendResult Send(contact::ContactStream& contacts, const SendOptions& options,
                          SendObserver& observer) = 0;
};

}  // namespace lumivex::destination
