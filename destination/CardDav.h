// A CardDAV (RFC 6352) client over Qt Network: requests with the account's credentials (Basic
// or Digest, whichever the server asks for), TLS checked against the system's authorities and an
// optional CA file, network failures tried again with growing pauses, several requests in flight
// at once over kept-alive connections; and what a user needs before sending: finding the address
// books from a server address or user@host (/.well-known/carddav, the current user's principal,
// its address-book home), and making a new book.
#pragma once

#include "destination/Destination.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QSslConfiguration>
#include <QString>
#include <QUrl>

#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

class QNetworkAccessManager;
class QNetworkReply;

namespace lumivex::destination {

// An address with the login it carries taken out: "https://alice:pw@host/" is
// "https://host/" with the user alice and the password pw; "alice:pw@host" is "alice@host" with
// both. An address without them comes back as it is. Messages, records and the keyring see only
// `address`, so that a password typed into an address is used and never shown or kept.
struct AddressLogin {
  QString address;
  QString user;
  QString password;
  // The address holds a login that cannot be taken out as it stands (a password holding "#",
  // "/" or "?") and more than one "@" a host and "/" could follow: which one ends the login
  // cannot be told, and a guess could send the password to another host. `address` is then its
  // scheme alone, `user` and `password` empty; the address must be refused.
  bool ambiguous = false;
};
AddressLogin TakeLogin(const QString& address);

struct CardDavAccount {
  QString address;  // a URL, a host name, or user@host
  QString user;     // empty: the part before "@" of user@host
  QString password;
  QString caFile;    // PEM certificates trusted beside the system's
  int inFlight = 6;  // requests at once (the connections Qt keeps open per server)
};

struct DavResponse {
  int status = 0;         // HTTP status; 0 when no answer came
  QString networkError;   // why no answer came (after the retries), or why it was not whole
  bool cut = false;       // an answer came but broke off (status 0 then)
  bool timedOut = false;  // the server said nothing for the answer timeout (status 0 then)
  bool stopped = false;   // the user stopped the run before the answer came (status 0 then)
  int retryAfter = -1;    // the seconds the server's Retry-After asks for; -1 when none
  QByteArray body;
  QByteArray etag;        // the ETag header, as sent
  QByteArray location;    // the Location header
  QString reasonPhrase;   // "Insufficient Storage"
  bool sslError = false;  // the server's certificate was not trusted
  QByteArray peerSha256;  // then: the SHA-256 digest of the certificate the server showed
  bool Ok() const { return status >= 200 && status < 300; }
};

// One <D:response> of a multistatus answer, with the properties found (status 200).
struct DavEntry {
  QString href;  // the path, percent-decoded
  QByteArray etag;
  bool collection = false;
  bool addressBook = false;
  QString displayName;
  QString principal;       // current-user-principal's href
  QString home;            // addressbook-home-set's href
  bool vcard4 = false;     // supported-address-data names version 4.0
  QByteArray addressData;  // the card, from addressbook-multiget
};

// The entries of a 207 Multi-Status body.
std::vector<DavEntry> ParseMultistatus(const QByteArray& body);
// The first child of a DAV:error body as "CARDDAV:no-uid-conflict" / "DAV:..."; empty when the
// body is none.
QString DavErrorElement(const QByteArray& body);

// Thrown by DavClient::Run when the user stopped the run (the cancel check said so).
struct SendStopped : std::runtime_error {
  SendStopped() : std::runtime_error("stopped") {}
};

class DavClient {
 public:
  explicit DavClient(const CardDavAccount& account);
  ~DavClient();

  using Headers = QList<QPair<QByteArray, QByteArray>>;
  using Done = std::function<void(const DavResponse&)>;

  // Starts a request when fewer than the bound are in flight, else queues it. `done` is called
  // from inside Wait...() when its answer (after retries) is there.
  void Submit(const QByteArray& verb, const QUrl& url, const QByteArray& body,
              const Headers& headers, Done done);
  // Runs until at least one request finished (or none is left). With a cancel check set and
  // saying stop, the queued requests are answered `stopped`; those in flight are let finish
  // (a PUT the server may have taken is then recorded), except inside Run, which gives up its
  // request at once.
  void WaitAny();
  // Asked while waiting.
  void SetCancel(std::function<bool()> cancel) { cancel_ = std::move(cancel); }
  // No request is started any more; with `abortRunning` those in flight are given up too.
  void Stop(bool abortRunning);
  bool StoppedByUser() const { return stopped_; }
  // Runs until every request finished.
  void WaitAll();
  int Pending() const { return running_ + static_cast<int>(queue_.size()); }
  // A request answered before anything else goes on. Throws SendStopped when stopped.
  DavResponse Run(const QByteArray& verb, const QUrl& url, const QByteArray& body = {},
                  const Headers& headers = {});
  // How many requests went out, by verb (including retries) — for tests and benchmarks.
  int Count(const QByteArray& verb) const { return counts_.value(verb); }
  const QString& User() const { return user_; }
  // Whether the user name and password may go to `url`: only to the server the user named (the
  // same scheme, host and port); anywhere when the account has none.
  bool LoginMayGoTo(const QUrl& url) const;

 private:
  struct Job;
  void Start(const std::shared_ptr<Job>& job);
  void Finished(const std::shared_ptr<Job>& job, QNetworkReply* reply);
  void Complete(const std::shared_ptr<Job>& job, const DavResponse& r);
  static DavResponse Stopped();

  std::unique_ptr<QNetworkAccessManager> manager_;
  QString user_;
  QString password_;
  // The user gave an https address (or a bare host, which is reached by https): the password
  // never goes over plain http, wherever a redirect sends a request.
  bool secure_ = true;
  QUrl origin_;  // the address the user gave: the one server the password goes to
  QSslConfiguration ssl_;
  QHash<QString, QByteArray> trusted_;  // the certificates the user trusts, by server
  std::deque<std::shared_ptr<Job>> queue_;
  int running_ = 0;
  int inFlight_ = 6;
  int finished_ = 0;
  QHash<QByteArray, int> counts_;
  std::function<bool()> cancel_;
  bool stopped_ = false;
  bool inRun_ = false;            // waiting inside Run
  QSet<QNetworkReply*> replies_;  // in flight
};

struct AddressBookInfo {
  QUrl url;
  QString name;  // the display name; the last part of the path when the server gives none
  bool vcard4 = false;
};

// The server's description of a failed answer, for messages: "HTTP 507 Insufficient Storage",
// "no answer from 127.0.0.1:5232 (Connection refused)".
QString DescribeFailure(const DavResponse& response, const QUrl& url);
// kNetwork when no answer came (the server not reached, or its answer cut or late), else kNone.
Remedy RemedyOf(const DavResponse& response);

// Finds the account's address books. Throws DestinationError naming what failed (the server
// cannot be reached, the certificate is not trusted, the password is wrong, no CardDAV there).
class CardDavAccountSession {
 public:
  explicit CardDavAccountSession(const CardDavAccount& account);
  DavClient& Client() { return client_; }
  // The books of the account's home (or the one book the address names).
  std::vector<AddressBookInfo> Books();
  // The book named `name` (display name or last path part); an empty name takes the only one.
  AddressBookInfo Book(const QString& name);
  // Makes the book `name` in the home, or takes the one of that name that is there.
  AddressBookInfo CreateBook(const QString& name);

 private:
  void Discover();
  // Fails, naming `to`, when the server at `from` sends us on to (`what`) another server, which
  // the password does not go to.
  void StayOnServer(const QUrl& from, const QUrl& to, const QString& what) const;
  QUrl base_;
  QUrl home_;
  std::vector<AddressBookInfo> books_;
  bool discovered_ = false;
  DavClient client_;
};

}  // namespace lumivex::destination
