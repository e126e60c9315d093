#include "destination/CardDavDestination.h"

#include "contact/GroupMembers.h"
#include "contact/VCardWriter.h"
#include "destination/HeldCards.h"
#include "destination/SendDecision.h"
#include "destination/SendState.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <set>

namespace lumivex::destination {

namespace {

constexpr int kMultigetBatch = 100;
constexpr int kSaveEvery = 500;  // contacts between writes of the record, against a crash
// Refusals of the server's own (5xx, 403) before any contact was taken, past which the send
// stops with one message rather than trying every contact.
constexpr size_t kRefusalsBeforeStop = 6;

[[noreturn]] void Fail(const QString& message, Remedy remedy = Remedy::kNone) {
  throw DestinationError(message, remedy);
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

// The value of a card's property `name` (upper case), as written; empty when it has none.
QString CardValue(const QByteArray& card, const QByteArray& name) {
  for (const CardLine& line : CardLines(card))
    if (line.name == name) return line.value;
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

constexpr const char* kListEtags =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<D:propfind xmlns:D=\"DAV:\"><D:prop><D:getetag/></D:prop></D:propfind>";

DavResponse RunXml(DavClient& client, const QByteArray& verb, const QUrl& url,
                   const QByteArray& body) {
  return client.Run(verb, url, body,
                    {{"Content-Type", "application/xml; charset=utf-8"}, {"Depth", "1"}});
}

// A dry run into a book not made yet: every contact would be added. Empty when the book is there.
std::optional<SendResult> DryRunIntoMissingBook(CardDavAccountSession& session,
                                                const QString& newBook,
                                                contact::ContactStream& contacts,
                                                SendObserver& observer) {
  bool there = false;
  for (const AddressBookInfo& b : session.Books())
    there |= b.name == newBook || b.url.path().section(u'/', -2, -2) == newBook;
  if (there) return std::nullopt;
  SendResult result;
  contact::SourcedContact item;
  while (!observer.Cancelled() && contacts.Next(item))
    observer.Progress(++result.added, contacts.Total());
  return result;
}

// What the book holds now: path -> ETag.
QHash<QString, QByteArray> ListBook(DavClient& client, const QUrl& bookUrl) {
  const DavResponse r = RunXml(client, "PROPFIND", bookUrl, kListEtags);
  if (r.status == 401)
    Fail(QStringLiteral("%1 refused the user name or password (HTTP 401)").arg(bookUrl.host()),
         Remedy::kCredentials);
  if (r.status != 207)
    Fail(QStringLiteral("Cannot list the address book %1: %2")
             .arg(bookUrl.toString(), DescribeFailure(r, bookUrl)),
         RemedyOf(r));
  QHash<QString, QByteArray> there;
  for (const DavEntry& e : ParseMultistatus(r.body))
    if (!e.etag.isEmpty()) there.insert(QUrl(e.href).path(), e.etag);
  return there;
}

// One send into a listed book: the record of sends, the counts, and the contacts still to settle.
class SendRun {
 public:
  SendRun(DavClient& client, const QUrl& bookUrl, const AddressBookInfo& book,
          const CardDavTarget& target, contact::ContactStream& contacts, const SendOptions& options,
          SendObserver& observer)
      : client_(client),
        bookUrl_(bookUrl),
        book_(book),
        target_(target),
        byPerson_(contacts, theirCards_, state_,
                  [this](const contact::Contact& c) { return OwnThere(c); }),
        contacts_(byPerson_),
        options_(options),
        observer_(observer),
        state_(target.stateFolder,
               QStringLiteral("carddav %1 %2").arg(client.User(), bookUrl.toString())) {}

  SendResult Run(const QHash<QString, QByteArray>& there) {
    there_ = &there;
    // The cards the record knows, fetched only for a contact none of whose entries went into
    // one: one multiget (a REPORT) per kMultigetBatch of them, once in the send.
    state_.MatchKnownCards(
        [this](const QStringList& resources, const auto& found) {
          std::vector<QString> present;
          for (const QString& resource : resources)
            if (there_->contains(resource)) present.push_back(resource);
          ReadCards(present, found);
        },
        [this](const contact::Contact& c) { return OwnThere(c); },
        [this](const QString& resource, const QString& tag) {
          const auto it = there_->constFind(resource);
          return it != there_->constEnd() && QString::fromUtf8(*it) == tag;
        });
    try {
      FetchHeld(there);
      SendContacts(there);
      CompareUnknown();
      FetchMissingTags();
    } catch (const SendStopped&) {
      result_.cancelled = true;  // what was answered is recorded below
    }
    result_.cancelled |= client_.StoppedByUser();
    try {
      Finish(there);
    } catch (const DestinationError& e) {
      throw SendBrokenOff(e, result_);  // the cards sent before are counted all the same
    }
    return result_;
  }

 private:
  void Progress() {
    observer_.Progress(++done_, contacts_.Total());
    if (++sinceSave_ >= kSaveEvery && !options_.dryRun) {
      sinceSave_ = 0;
      state_.Save(saveError_);
    }
  }

  // The refusals held back, each told after all.
  void ReportHeld() {
    for (const auto& [o, reason] : held_) Problem(SendOutcome::kFailed, *o, reason);
    held_.clear();
  }

  void Problem(SendOutcome outcome, const Outgoing& o, const QString& reason,
               Remedy remedy = Remedy::kNone) {
    SendProblem p{outcome, o.name, o.uid, o.origins, reason, remedy};
    observer_.Problem(p);
    result_.problems.push_back(std::move(p));
  }

  void Put(const std::shared_ptr<Outgoing>& o) {
    const bool update = !o->etag.isEmpty();
    if (options_.dryRun) {  // recorded as a send would (its entries moved), never saved
      state_.Set(o->uid, {o->resource, QString::fromUtf8(o->etag), o->hash});
      ++(update ? result_.updated : result_.added);
      Progress();
      return;
    }
    client_.Submit("PUT", o->url, o->bytes, PutHeaders(o->etag),
                   [this, o, update](const DavResponse& r) { Answered(o, update, r); });
  }

  // The server's answer to the PUT of `o`.
  void Answered(const std::shared_ptr<Outgoing>& shared, bool update, const DavResponse& r) {
    const Outgoing& o = *shared;
    if (r.stopped) return;  // not answered: the next send settles it
    if (r.Ok()) {
      if (r.etag.isEmpty())
        noTag_.push_back(shared);  // recorded once its tag is known
      else
        state_.Set(o.uid, {o.resource, QString::fromUtf8(r.etag), o.hash});
      ++(update ? result_.updated : result_.added);
    } else {
      if (r.status == 0 && !r.sslError) {
        lost_ = true;
        lostWhy_ = DescribeFailure(r, o.url);
      }
      if (r.status == 401) refused_ = true;
      if (!taken_ && (r.status >= 500 || r.status == 403)) {
        // Likely the server refusing everything: told once if nothing is taken.
        held_.push_back({shared, Explained(r, o.url)});
        refusedAll_ = held_.size() >= kRefusalsBeforeStop;
      } else {
        Problem(SendOutcome::kFailed, o, Explained(r, o.url));
      }
    }
    if (r.Ok() && !taken_) {
      taken_ = true;
      ReportHeld();
    }
    Progress();
  }

  // Carries out what was decided for `o`.
  void Settle(const std::shared_ptr<Outgoing>& o, const SendFacts& facts) {
    const SendDecision decision = DecideSend(facts, options_.overwrite);
    switch (decision) {
      case SendDecision::kAdd:
      case SendDecision::kUpdate:
        Put(o);  // with the ETag there, if any, so that nothing changed meanwhile is replaced
        return;
      case SendDecision::kUnchanged:
        state_.Set(o->uid, {o->resource, QString::fromUtf8(o->etag), o->hash});
        ++result_.unchanged;
        break;
      case SendDecision::kRepeated:
        ++result_.repeated;
        break;
      case SendDecision::kDeletedThere:
        Problem(SendOutcome::kConflict, *o, DeletedReason(o->url.toString()), Remedy::kOverwrite);
        break;
      case SendDecision::kChangedThere:
        Problem(
            SendOutcome::kConflict, *o,
            QStringLiteral("changed on the server since the last send (%1)").arg(o->url.toString()),
            Remedy::kOverwrite);
        break;
      case SendDecision::kNotOurs:
        Problem(SendOutcome::kConflict, *o,
                QStringLiteral("the server holds a different card at %1 that this program has no "
                               "record of sending")
                    .arg(o->url.toString()),
                Remedy::kOverwrite);
        break;
      case SendDecision::kSentFromNewer:
        Problem(SendOutcome::kConflict, *o, state_.NotSentOver(o->uid), Remedy::kOverwrite);
        break;
    }
    Progress();
  }

  void SendContacts(const QHash<QString, QByteArray>& there) {
    contact::SourcedContact item;
    while (!lost_ && !refused_ && !refusedAll_) {
      if (observer_.Cancelled()) {
        result_.cancelled = true;
        break;
      }
      if (!contacts_.Next(item)) break;
      SendOne(item, there);
      // A short queue: contacts are read as fast as the server takes them.
      while (client_.Pending() >= 2 * target_.account.inFlight) client_.WaitAny();
    }
    client_.WaitAll();
  }

  // The cards of the book the record does not know, read to find the people they hold. Not the
  // book's own entry in its listing: a multiget of it answers with every card of the book.
  void FetchHeld(const QHash<QString, QByteArray>& there) {
    const QSet<QString> known = state_.Resources();
    const QString book = bookUrl_.path();  // ends in "/"; the listing may name it without
    std::vector<QString> unknown;
    for (auto it = there.cbegin(); it != there.cend(); ++it)
      if (!known.contains(it.key()) && it.key() != book && it.key() + u'/' != book)
        unknown.push_back(it.key());
    std::sort(unknown.begin(), unknown.end());
    ReadCards(unknown, [this](const QString& resource, const QByteArray& bytes) {
      theirCards_.Add(bytes, resource);
    });
  }

  // The cards at `resources` (paths), each given to `found` with its bytes, kMultigetBatch of
  // them a multiget.
  void ReadCards(const std::vector<QString>& resources,
                 const std::function<void(const QString&, const QByteArray&)>& found) {
    for (size_t first = 0; first < resources.size(); first += kMultigetBatch) {
      std::vector<QUrl> urls;
      for (size_t i = first; i < std::min(resources.size(), first + kMultigetBatch); ++i) {
        QUrl url = bookUrl_;
        url.setPath(resources[i]);
        urls.push_back(url);
      }
      const QHash<QString, DavEntry> cards = Multiget(urls, nullptr);
      for (auto it = cards.cbegin(); it != cards.cend(); ++it) found(it.key(), it->addressData);
    }
  }

  // The cards at `urls` with their ETags, by path; the server's answer in `answer`.
  QHash<QString, DavEntry> Multiget(const std::vector<QUrl>& urls, DavResponse* answer) {
    QByteArray body =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<C:addressbook-multiget xmlns:D=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:carddav\">"
        "<D:prop><D:getetag/><C:address-data/></D:prop>";
    for (const QUrl& url : urls)
      body += "<D:href>" + url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority) + "</D:href>";
    body += "</C:addressbook-multiget>";
    const DavResponse r = RunXml(client_, "REPORT", bookUrl_, body);
    QHash<QString, DavEntry> cards;
    if (r.status == 207)
      for (DavEntry& e : ParseMultistatus(r.body)) cards.insert(QUrl(e.href).path(), std::move(e));
    if (answer) *answer = r;
    return cards;
  }

  void SendOne(contact::SourcedContact& item, const QHash<QString, QByteArray>& there) {
    auto o = std::make_shared<Outgoing>();
    const QString was = item.contact.uid;
    // A person the record knows nothing of, whose own card is not there, may have a card there
    // all the same (the record lost): that card is updated rather than a second one added.
    o->uid = state_.CardFor(item, [&](const contact::Contact& c) -> QString {
      if (theirCards_.IsEmpty() || OwnThere(c)) return {};
      const HeldCards::Card* card = theirCards_.Match(c);
      if (!card) return {};
      theirCardAt_.insert(card->uid, card->resource);
      return card->uid;
    });
    contacts_.Renamed(was, item.contact);  // lists name the card the person has there
    o->name = contact::ShownName(item.contact);
    o->origins = item.origins;
    SendFacts facts;
    facts.repeated = !seen_.insert(o->uid).second;
    if (!facts.repeated) {
      const bool four = book_.vcard4 && item.contact.photo.IsEmpty();
      contact::AppendVCard(o->bytes, item.contact,
                           four ? contact::VCardVersion::k40 : contact::VCardVersion::k30,
                           &contacts_.Members());
      o->hash = SendState::HashOf(o->bytes);
      const SentRecord* sent = state_.Find(o->uid);
      // Where the card is: a card of theirs given to it, else the href the record names (which
      // another client may have chosen), else one named from its uid.
      o->resource = theirCardAt_.value(
          o->uid, sent ? sent->resource : bookUrl_.path() + o->uid + QStringLiteral(".vcf"));
      o->url = bookUrl_;
      o->url.setPath(o->resource);
      const auto it = there.constFind(o->resource);
      facts.recorded = sent && sent->resource == o->resource;
      facts.present = it != there.constEnd();
      if (facts.present) {
        o->etag = it.value();
        if (!facts.recorded) {  // decided once the card there is fetched and compared
          unknown_.push_back(o);
          return;
        }
        facts.untouched = sent->tag.toUtf8() == o->etag;
        facts.same = facts.untouched && sent->hash == o->hash;
        facts.sentFromNewer = !state_.NotSentOver(o->uid).isEmpty();
      }
    }
    Settle(o, facts);
  }

  // Whether the book holds a card at the href named from the uid of `c`.
  bool OwnThere(const contact::Contact& c) const {
    return there_->contains(bookUrl_.path() + contact::CardUuid(c.uid) + QStringLiteral(".vcf"));
  }

  // Cards the record does not know: fetched in batches and compared.
  void CompareUnknown() {
    for (size_t first = 0;
         first < unknown_.size() && !lost_ && !refused_ && !refusedAll_ && !result_.cancelled;
         first += kMultigetBatch) {
      CompareBatch(first, std::min(unknown_.size(), first + kMultigetBatch));
      client_.WaitAll();
    }
  }

  void CompareBatch(size_t first, size_t end) {
    std::vector<QUrl> urls;
    for (size_t i = first; i < end; ++i) urls.push_back(unknown_[i]->url);
    DavResponse r;
    const QHash<QString, DavEntry> cards = Multiget(urls, &r);
    for (size_t i = first; i < end; ++i) {
      const auto found = cards.constFind(unknown_[i]->resource);
      if (found == cards.constEnd()) {
        Problem(SendOutcome::kFailed, *unknown_[i],
                QStringLiteral("cannot read the card already at %1 to compare: %2")
                    .arg(unknown_[i]->url.toString(), DescribeFailure(r, bookUrl_)));
        Progress();
        continue;
      }
      if (!found->etag.isEmpty()) unknown_[i]->etag = found->etag;
      // Unchanged where it says what ours says, with the same REV, as a vdir's file is compared.
      // The REV alone tells nothing: a contact merged since with an older entry holds more under
      // the same time, its newest entry's.
      const QByteArray& ours = unknown_[i]->bytes;
      SendFacts facts;
      facts.present = true;
      facts.same = CardValue(found->addressData, "REV") == CardValue(ours, "REV") &&
                   CardFingerprint(found->addressData) == CardFingerprint(ours);
      Settle(unknown_[i], facts);
    }
  }

  // ETags the server did not give with its answer to PUT.
  void FetchMissingTags() {
    if (noTag_.empty()) return;
    const DavResponse r = RunXml(client_, "PROPFIND", bookUrl_, kListEtags);
    // Without their tags the record does not know these cards; the next send compares them.
    if (r.status != 207) return;
    QHash<QString, QByteArray> tags;
    for (const DavEntry& e : ParseMultistatus(r.body)) tags.insert(QUrl(e.href).path(), e.etag);
    for (const auto& o : noTag_)
      if (tags.contains(o->resource))
        state_.Set(o->uid, {o->resource, QString::fromUtf8(tags.value(o->resource)), o->hash});
  }

  // `there`: what the book held before the send, path -> ETag.
  void Finish(const QHash<QString, QByteArray>& there) {
    // Second cards of people joined since they were sent: removed where the server holds them
    // as they were left (If-Match their ETag); changed since, left as they are and told. A dry
    // run compares the ETags the book was listed with, as the server would.
    if (!result_.cancelled) {
      const std::vector<SentRecord> away = state_.TakeMergedAway();
      size_t next = 0;
      try {
        for (; next < away.size(); ++next) {
          const SentRecord& r = away[next];
          QUrl url = bookUrl_;
          url.setPath(r.resource);
          int status = 404;  // the server's answer to DELETE If-Match
          if (!options_.dryRun)
            status = client_.Run("DELETE", url, {}, {{"If-Match", r.tag.toUtf8()}}).status;
          else if (there.contains(r.resource))  // a dry run's, from the book's listing
            status = there.value(r.resource) == r.tag.toUtf8() ? 204 : 412;
          if (status == 200 || status == 204)
            ++result_.removed;
          else if (status != 404)  // 404: gone already
            result_.mergedAway << url.toString();
        }
      } catch (const SendStopped&) {
        result_.cancelled = true;
        for (; next < away.size(); ++next) state_.KeepMergedAway(away[next]);
      }
    }
    if (!options_.dryRun && !state_.Save(saveError_))
      Fail(QStringLiteral("The contacts were sent, but the record of this send was not (%1); a "
                          "second send will compare with the server instead")
               .arg(saveError_));
    if (!taken_ && held_.size() >= kRefusalsBeforeStop)
      Fail(QStringLiteral("%1 refused each contact sent (%2 of them), so the send stopped: %3")
               .arg(bookUrl_.host())
               .arg(held_.size())
               .arg(held_.front().second));
    ReportHeld();
    if (refused_)
      Fail(QStringLiteral("%1 stopped taking the user name and password (HTTP 401) during the "
                          "send; what was sent is recorded, so sending again finishes it")
               .arg(bookUrl_.host()),
           Remedy::kCredentials);
    if (lost_ && !result_.cancelled)
      throw DestinationError(
          QStringLiteral("Lost the connection to the server during the send: %1").arg(lostWhy_),
          QStringLiteral("What was sent is recorded: run the send again to finish"),
          Remedy::kNetwork);
  }

  DavClient& client_;
  const QUrl bookUrl_;
  const AddressBookInfo& book_;
  const CardDavTarget& target_;
  // A contact that would take a card of the book's by its person alone after the others; lists
  // last, their members named by the cards sent before.
  ByPersonLast byPerson_;
  contact::GroupsLast contacts_;
  const SendOptions& options_;
  SendObserver& observer_;
  SendState state_;
  SendResult result_;
  int done_ = 0;
  int sinceSave_ = 0;
  bool lost_ = false;        // no answer even after the retries: stop taking contacts
  bool refused_ = false;     // the credentials stopped working
  bool taken_ = false;       // the server took a contact in this send
  bool refusedAll_ = false;  // it refused the first kRefusalsBeforeStop: stop taking contacts
  std::vector<std::pair<std::shared_ptr<Outgoing>, QString>> held_;  // refusals not told yet
  QString lostWhy_;
  std::vector<std::shared_ptr<Outgoing>> unknown_;  // on the server, not in the record
  std::vector<std::shared_ptr<Outgoing>> noTag_;    // sent, the server gave no ETag
  std::set<QString> seen_;                          // uids met in this send
  HeldCards theirCards_;                            // the book's cards the record does not know
  QHash<QString, QString> theirCardAt_;             // the uid of such a card sent over: where it is
  const QHash<QString, QByteArray>* there_ = nullptr;  // the book's cards: path -> ETag
  QString saveError_;
};

}  // namespace

CardDavDestination::CardDavDestination(CardDavTarget target) : target_(std::move(target)) {}
CardDavDestination::~CardDavDestination() = default;

QString CardDavDestination::Describe() const {
  return QStringLiteral("the CardDAV address book %1")
      .arg(bookUrl_.isEmpty() ? TakeLogin(target_.account.address).address : bookUrl_.toString());
}

std::vector<AddressBookInfo> CardDavDestination::Books(std::function<bool()> cancelled) {
  if (!session_) session_ = std::make_unique<CardDavAccountSession>(target_.account);
  session_->Client().SetCancel(std::move(cancelled));
  return session_->Books();
}

int CardDavDestination::RequestCount(const QByteArray& verb) const {
  return session_ ? session_->Client().Count(verb) : 0;
}

SendResult CardDavDestination::Send(contact::ContactStream& contacts, const SendOptions& options,
                                    SendObserver& observer) {
  session_ = std::make_unique<CardDavAccountSession>(target_.account);
  session_->Client().SetCancel([&observer] { return observer.Cancelled(); });
  try {
    return SendToBook(contacts, options, observer);
  } catch (const SendStopped&) {
    SendResult stopped;  // before anything was sent
    stopped.cancelled = true;
    return stopped;
  }
}

SendResult CardDavDestination::SendToBook(contact::ContactStream& contacts,
                                          const SendOptions& options, SendObserver& observer) {
  if (!target_.newBook.isEmpty() && options.dryRun) {
    if (auto result = DryRunIntoMissingBook(*session_, target_.newBook, contacts, observer))
      return *result;
  }
  const AddressBookInfo book =
      !target_.newBook.isEmpty() && !options.dryRun
          ? session_->CreateBook(target_.newBook)
          : session_->Book(target_.newBook.isEmpty() ? target_.book : target_.newBook);
  bookUrl_ = book.url;
  if (!bookUrl_.path().endsWith(u'/')) bookUrl_.setPath(bookUrl_.path() + u'/');
  DavClient& client = session_->Client();
  const QHash<QString, QByteArray> there = ListBook(client, bookUrl_);
  RefuseIfHoldsCards(options, Describe(),
                     there.size() - there.contains(bookUrl_.path()));  // the book's own entry
  SendRun run(client, bookUrl_, book, target_, contacts, options, observer);
  return run.Run(there);
}

}  // namespace lumivex::destination
