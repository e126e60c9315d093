#include "destination/CardDavDestination.h"

#include "contact/VCardWriter.h"
#include "destination/SendState.h"

#include <set>

namespace lumivex::destination {

namespace {

constexpr int kMultigetBatch = 100;
constexpr int kSaveEvery = 500;  // contacts between writes of the record, against a crash

[[noreturn]] void Fail(const QString& message) {
  throw DestinationError(message.toStdString());
}

// A contact on its way: what is sent and what a report about it needs.
struct Outgoing {
  QString uid;
  QString name;
  std::vector<contact::Origin> origins;
  QByteArray bytes;
  QString hash;
  QUrl url;
  QString resource;  // the path of `url`
  QByteArray etag;   // the one on the server, for If-Match; empty for a new contact
};

// The value of a card's property `name` (an unfolded line "NAME:value" or "NAME;...:value").
QByteArray CardValue(const QByteArray& card, const QByteArray& name) {
  QByteArray unfolded = card;
  unfolded.replace("\r\n ", "").replace("\n ", "");
  for (const QByteArray& raw : unfolded.split('\n')) {
    const QByteArray line = raw.trimmed();
    if (line.size() <= name.size() || !line.startsWith(name)) continue;
    const char after = line[name.size()];
    if (after != ':' && after != ';') continue;
    return line.mid(line.indexOf(':') + 1);
  }
  return {};
}

QString Explained(const DavResponse& r, const QUrl& url) {
  const QString what = DescribeFailure(r, url);
  switch (r.status) {
    case 412:
      return what + QStringLiteral(
                        ": the card on the server changed (or appeared) while this "
                        "send ran; run the send again to compare it");
    case 507:
      return what + QStringLiteral(
                        ": the server has no room for this contact (its quota or "
                        "disk is full); make room there, then run the send again");
    case 413:
      return what + QStringLiteral(": the server takes no card this large (the picture?)");
    case 403:
      return what + QStringLiteral(": the server does not let this user write into the book");
    default:
      return what;
  }
}

DavClient::Headers PutHeaders(const QByteArray& etag) {
  DavClient::Headers h = {{"Content-Type", "text/vcard; charset=utf-8"}};
  if (etag.isEmpty())
    h.append(qMakePair(QByteArray("If-None-Match"), QByteArray("*")));
  else
    h.append(qMakePair(QByteArray("If-Match"), etag));
  return h;
}

}  // namespace

CardDavDestination::CardDavDestination(CardDavTarget target) : target_(std::move(target)) {}
CardDavDestination::~CardDavDestination() = default;

QString CardDavDestination::Describe() const {
  return QStringLiteral("the CardDAV address book %1")
      .arg(bookUrl_.isEmpty() ? target_.account.address : bookUrl_.toString());
}

std::vector<AddressBookInfo> CardDavDestination::Books() {
  if (!session_) session_ = std::make_unique<CardDavAccountSession>(target_.account);
  return session_->Books();
}

int CardDavDestination::RequestCount(const QByteArray& verb) const {
  return session_ ? session_->Client().Count(verb) : 0;
}

SendResult CardDavDestination::Send(contact::ContactStream& contacts, const SendOptions& options,
                                    SendObserver& observer) {
  session_ = std::make_unique<CardDavAccountSession>(target_.account);
  if (!target_.newBook.isEmpty() && options.dryRun) {
    // A book not made yet would get every contact.
    bool there = false;
    for (const AddressBookInfo& b : session_->Books())
      there |= b.name == target_.newBook || b.url.path().section(u'/', -2, -2) == target_.newBook;
    if (!there) {
      SendResult result;
      contact::SourcedContact item;
      while (!observer.Cancelled() && contacts.Next(item))
        observer.Progress(++result.added, contacts.Total());
      return result;
    }
  }
  const AddressBookInfo book =
      !target_.newBook.isEmpty() && !options.dryRun
          ? session_->CreateBook(target_.newBook)
          : session_->Book(target_.newBook.isEmpty() ? target_.book : target_.newBook);
  bookUrl_ = book.url;
  if (!bookUrl_.path().endsWith(u'/')) bookUrl_.setPath(bookUrl_.path() + u'/');
  DavClient& client = session_->Client();
  const QString host = bookUrl_.host();

  // What the book holds now: path -> ETag.
  QHash<QString, QByteArray> there;
  {
    const DavResponse r =
        client.Run("PROPFIND", bookUrl_,
                   "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                   "<D:propfind xmlns:D=\"DAV:\"><D:prop><D:getetag/></D:prop></D:propfind>",
                   {{"Content-Type", "application/xml; charset=utf-8"}, {"Depth", "1"}});
    if (r.status == 401)
      Fail(QStringLiteral("%1 refused the user name or password (HTTP 401)").arg(host));
    if (r.status != 207)
      Fail(QStringLiteral("Cannot list the address book %1: %2")
               .arg(bookUrl_.toString(), DescribeFailure(r, bookUrl_)));
    for (const DavEntry& e : ParseMultistatus(r.body))
      if (!e.etag.isEmpty()) there.insert(QUrl(e.href).path(), e.etag);
  }

  SendState state(target_.stateFolder,
                  QStringLiteral("carddav %1 %2").arg(client.User(), bookUrl_.toString()));
  SendResult result;
  int done = 0;
  int sinceSave = 0;
  bool lost = false;     // no answer even after the retries: stop taking contacts
  bool refused = false;  // the credentials stopped working
  QString lostWhy;
  std::vector<std::shared_ptr<Outgoing>> unknown;  // on the server, not in the record
  std::vector<std::shared_ptr<Outgoing>> noTag;    // sent, the server gave no ETag
  QString saveError;

  const auto progress = [&] {
    observer.Progress(++done, contacts.Total());
    if (++sinceSave >= kSaveEvery && !options.dryRun) {
      sinceSave = 0;
      state.Save(saveError);
    }
  };
  const auto problem = [&](SendOutcome outcome, const Outgoing& o, const QString& reason) {
    SendProblem p{outcome, o.name, o.uid, o.origins, reason};
    observer.Problem(p);
    result.problems.push_back(std::move(p));
  };
  const auto put = [&](const std::shared_ptr<Outgoing>& o) {
    const bool update = !o->etag.isEmpty();
    if (options.dryRun) {
      ++(update ? result.updated : result.added);
      progress();
      return;
    }
    client.Submit("PUT", o->url, o->bytes, PutHeaders(o->etag),
                  [&, o, update](const DavResponse& r) {
                    if (r.Ok()) {
                      state.Set(o->uid, {o->resource, QString::fromUtf8(r.etag), o->hash});
                      if (r.etag.isEmpty()) noTag.push_back(o);
                      ++(update ? result.updated : result.added);
                    } else {
                      if (r.status == 0 && !r.sslError) {
                        lost = true;
                        lostWhy = DescribeFailure(r, o->url);
                      }
                      if (r.status == 401) refused = true;
                      problem(SendOutcome::kFailed, *o, Explained(r, o->url));
                    }
                    progress();
                  });
  };
  // Our contact `o` against the card the server has, which the record does not know.
  const auto settleUnknown = [&](const std::shared_ptr<Outgoing>& o, const QByteArray& card) {
    const QByteArray rev = CardValue(o->bytes, "REV");
    const bool ours = !rev.isEmpty() && CardValue(card, "REV") == rev &&
                      CardValue(card, "UID") == CardValue(o->bytes, "UID");
    if (ours) {
      if (!options.dryRun) state.Set(o->uid, {o->resource, QString::fromUtf8(o->etag), o->hash});
      ++result.unchanged;
      progress();
    } else if (options.overwrite) {
      put(o);
    } else {
      problem(SendOutcome::kConflict, *o,
              QStringLiteral("the server holds a different card at %1 that this program has no "
                             "record of sending; --overwrite replaces it")
                  .arg(o->url.toString()));
      progress();
    }
  };

  contact::SourcedContact item;
  std::set<QString> seen;  // uids met in this send
  while (!lost && !refused) {
    if (observer.Cancelled()) {
      result.cancelled = true;
      break;
    }
    if (!contacts.Next(item)) break;
    auto o = std::make_shared<Outgoing>();
    o->uid = contact::CardUuid(item.contact.uid);
    o->name = contact::ShownName(item.contact);
    o->origins = item.origins;
    if (!seen.insert(o->uid).second) {
      problem(SendOutcome::kFailed, *o, TwiceReason(o->uid));
      progress();
      continue;
    }
    const bool four = book.vcard4 && item.contact.photo.IsEmpty();
    contact::AppendVCard(o->bytes, item.contact,
                         four ? contact::VCardVersion::k40 : contact::VCardVersion::k30);
    o->hash = SendState::HashOf(o->bytes);
    o->resource = bookUrl_.path() + o->uid + QStringLiteral(".vcf");
    o->url = bookUrl_.resolved(QUrl(o->uid + QStringLiteral(".vcf")));
    const auto it = there.constFind(o->resource);
    const SentRecord* sent = state.Find(o->uid);
    if (it == there.constEnd()) {
      put(o);  // new, or removed on the server since: sent again
    } else {
      o->etag = it.value();
      if (!sent || sent->resource != o->resource) {
        unknown.push_back(o);
        continue;
      }
      if (sent->tag.toUtf8() != o->etag && !options.overwrite) {
        problem(SendOutcome::kConflict, *o,
                QStringLiteral("changed on the server since the last send (%1); --overwrite "
                               "replaces it")
                    .arg(o->url.toString()));
        progress();
      } else if (sent->tag.toUtf8() == o->etag && sent->hash == o->hash) {
        ++result.unchanged;
        progress();
      } else {
        put(o);
      }
    }
    // A short queue: contacts are read as fast as the server takes them.
    while (client.Pending() >= 2 * target_.account.inFlight) client.WaitAny();
  }
  client.WaitAll();

  // Cards the record does not know: fetched in batches and compared.
  for (size_t first = 0; first < unknown.size() && !lost && !refused && !result.cancelled;
       first += kMultigetBatch) {
    const size_t end = std::min(unknown.size(), first + kMultigetBatch);
    QByteArray body =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<C:addressbook-multiget xmlns:D=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:carddav\">"
        "<D:prop><D:getetag/><C:address-data/></D:prop>";
    for (size_t i = first; i < end; ++i)
      body += "<D:href>" + unknown[i]->url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority) +
              "</D:href>";
    body += "</C:addressbook-multiget>";
    const DavResponse r =
        client.Run("REPORT", bookUrl_, body,
                   {{"Content-Type", "application/xml; charset=utf-8"}, {"Depth", "1"}});
    QHash<QString, DavEntry> cards;
    if (r.status == 207)
      for (DavEntry& e : ParseMultistatus(r.body)) cards.insert(QUrl(e.href).path(), std::move(e));
    for (size_t i = first; i < end; ++i) {
      const auto found = cards.constFind(unknown[i]->resource);
      if (found == cards.constEnd()) {
        problem(SendOutcome::kFailed, *unknown[i],
                QStringLiteral("cannot read the card already at %1 to compare: %2")
                    .arg(unknown[i]->url.toString(), DescribeFailure(r, bookUrl_)));
        progress();
        continue;
      }
      if (!found->etag.isEmpty()) unknown[i]->etag = found->etag;
      settleUnknown(unknown[i], found->addressData);
    }
    client.WaitAll();
  }

  // ETags the server did not give with its answer to PUT.
  if (!noTag.empty()) {
    const DavResponse r =
        client.Run("PROPFIND", bookUrl_,
                   "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                   "<D:propfind xmlns:D=\"DAV:\"><D:prop><D:getetag/></D:prop></D:propfind>",
                   {{"Content-Type", "application/xml; charset=utf-8"}, {"Depth", "1"}});
    QHash<QString, QByteArray> tags;
    for (const DavEntry& e : ParseMultistatus(r.body)) tags.insert(QUrl(e.href).path(), e.etag);
    for (const auto& o : noTag)
      state.Set(o->uid, {o->resource, QString::fromUtf8(tags.value(o->resource)), o->hash});
  }

  if (!options.dryRun && !state.Save(saveError))
    Fail(QStringLiteral("The contacts were sent, but the record of this send was not (%1); a "
                        "second send will compare with the server instead")
             .arg(saveError));
  if (refused)
    Fail(QStringLiteral("%1 stopped taking the user name and password (HTTP 401) during the "
                        "send; what was sent is recorded: check the password and run again")
             .arg(host));
  if (lost)
    Fail(QStringLiteral("Lost the connection to the server during the send: %1. What was sent "
                        "is recorded: run the send again to finish")
             .arg(lostWhy));
  return result;
}

}  // namespace lumivex::destination
