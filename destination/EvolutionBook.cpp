// Evolution Data Server is reached through its client library (libebook) rather than its D-Bus
// interface: the bus names, object paths and methods behind it (Sources5, AddressBook10) are the
// server's private business and change between releases, the list of books is assembled from
// many objects and settings files that the library already reads, and the backend wants
// contacts as the library's EContact. The library is what Evolution and GNOME Contacts use, and
// Debian ships it wherever the server is.
//
// GLib's headers come before Qt's: Qt's `signals` keyword would break a GLib structure member of
// that name.
#include <libebook/libebook.h>

#include "destination/EvolutionBook.h"

#include "contact/CardUuid.h"
#include "contact/GroupMembers.h"
#include "contact/VCardWriter.h"
#include "destination/HeldCards.h"
#include "destination/SendDecision.h"
#include "destination/SendState.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QList>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <set>

namespace lumivex::destination {

namespace {

// The property that carries our fingerprint of the card as we sent it.
constexpr char kSentProperty[] = "X-LUMIVEX-SENT";
// Contacts looked up, added and modified at once: fewer round trips to the server, and still a
// progress step and a chance to cancel every fraction of a second.
constexpr size_t kBatch = 50;

template <typename T>
struct Unref {
  void operator()(T* object) const {
    if (object != nullptr) g_object_unref(object);
  }
};
template <typename T>
using Ref = std::unique_ptr<T, Unref<T>>;

struct ErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};
using Error = std::unique_ptr<GError, ErrorFree>;

struct GFree {
  void operator()(void* p) const { g_free(p); }
};
using GText = std::unique_ptr<char, GFree>;

QString Utf8(const char* text) {
  return QString::fromUtf8(text != nullptr ? text : "");
}

QString Message(const GError* error) {
  return error != nullptr ? Utf8(error->message) : QStringLiteral("unknown error");
}

QString Quoted(const QString& text) {
  return QStringLiteral("\u201C%1\u201D").arg(text);
}

// The library's calls run on whichever thread sends (the desktop sends on a worker thread); each
// gets a main context of its own for the time of the call, so that nothing it starts is handed
// to another thread's loop. What was made under it is freed before it goes.
class ThreadContext {
 public:
  ThreadContext() : context_(g_main_context_new()) { g_main_context_push_thread_default(context_); }
  ~ThreadContext() {
    while (g_main_context_iteration(context_, FALSE)) {
    }
    g_main_context_pop_thread_default(context_);
    g_main_context_unref(context_);
  }
  ThreadContext(const ThreadContext&) = delete;
  ThreadContext& operator=(const ThreadContext&) = delete;

 private:
  GMainContext* context_;
};

Ref<ESourceRegistry> OpenRegistry() {
  GError* raw = nullptr;
  Ref<ESourceRegistry> registry(e_source_registry_new_sync(nullptr, &raw));
  const Error error(raw);
  if (!registry)
    throw DestinationError(
        QStringLiteral("Evolution's address books cannot be reached: %1. Evolution Data Server "
                       "must be installed (Debian: evolution-data-server) and this must run in "
                       "the desktop session of the user whose books they are")
            .arg(Message(error.get()))
            .toStdString());
  return registry;
}

std::vector<Ref<ESource>> Books(ESourceRegistry* registry) {
  std::vector<Ref<ESource>> books;
  GList* list = e_source_registry_list_sources(registry, E_SOURCE_EXTENSION_ADDRESS_BOOK);
  for (GList* l = list; l != nullptr; l = l->next)
    books.emplace_back(static_cast<ESource*>(g_object_ref(l->data)));
  g_list_free_full(list, g_object_unref);
  // The default book first, then by name.
  const Ref<ESource> fallback(e_source_registry_ref_default_address_book(registry));
  std::stable_sort(books.begin(), books.end(), [&](const Ref<ESource>& a, const Ref<ESource>& b) {
    const bool aDefault = fallback && e_source_equal(a.get(), fallback.get());
    const bool bDefault = fallback && e_source_equal(b.get(), fallback.get());
    if (aDefault != bDefault) return aDefault;
    return Utf8(e_source_get_display_name(a.get()))
               .compare(Utf8(e_source_get_display_name(b.get())), Qt::CaseInsensitive) < 0;
  });
  return books;
}

std::vector<EvolutionBookInfo> BookInfos(ESourceRegistry* registry) {
  const Ref<ESource> fallback(e_source_registry_ref_default_address_book(registry));
  std::vector<EvolutionBookInfo> out;
  for (const Ref<ESource>& book : Books(registry))
    out.push_back({Utf8(e_source_get_display_name(book.get())), Utf8(e_source_get_uid(book.get())),
                   fallback && e_source_equal(book.get(), fallback.get()),
                   e_source_get_enabled(book.get()) != FALSE});
  return out;
}

Ref<ESource> FindBook(ESourceRegistry* registry, const QString& name) {
  if (name.isEmpty()) {
    Ref<ESource> book(e_source_registry_ref_default_address_book(registry));
    if (!book)
      throw DestinationError(
          QStringLiteral("Evolution has no default address book: open Evolution or GNOME "
                         "Contacts once to make one"),
          Remedy::kChooseBook);
    return book;
  }
  std::vector<Ref<ESource>> books = Books(registry);
  for (Ref<ESource>& book : books) {
    if (Utf8(e_source_get_display_name(book.get())).compare(name, Qt::CaseInsensitive) == 0 ||
        Utf8(e_source_get_uid(book.get())) == name)
      return std::move(book);
  }
  QStringList names;
  for (const Ref<ESource>& book : books) names << Utf8(e_source_get_display_name(book.get()));
  throw DestinationError(
      QStringLiteral("Evolution has no address book named %1 (its books: %2)")
          .arg(Quoted(name), names.isEmpty() ? QStringLiteral("none") : names.join(u", ")),
      Remedy::kChooseBook);
}

// The bytes a PHOTO or LOGO stands for: inline data, or the file the book moved it to.
QByteArray PictureBytes(EVCardAttribute* attribute) {
  if (e_vcard_attribute_get_param(attribute, EVC_ENCODING) != nullptr) {
    GList* decoded = e_vcard_attribute_get_values_decoded(attribute);  // the attribute's own
    if (decoded != nullptr) {
      auto* s = static_cast<GString*>(decoded->data);
      return QByteArray(s->str, static_cast<qsizetype>(s->len));
    }
  }
  const GText value(e_vcard_attribute_get_value(attribute));
  const QByteArray uri(value ? value.get() : "");
  if (uri.startsWith("file://")) {
    const GText path(g_filename_from_uri(uri.constData(), nullptr, nullptr));
    QFile file(QString::fromLocal8Bit(path.get()));
    if (path && file.open(QIODevice::ReadOnly)) return file.readAll();
  }
  return uri;
}

QByteArray Escaped(const char* text) {
  QByteArray out(text != nullptr ? text : "");
  out.replace('\\', "\\\\").replace(';', "\\;").replace(',', "\\,").replace('\n', "\\n");
  return out;
}

// A fingerprint of what a card says, the same for our card and for the book's copy of it: the
// properties in any order, without REV and our own mark, pictures by their bytes (the book moves
// them into files), and without the phone-number parameter the book adds for its own searches.
QByteArray Fingerprint(EVCard* card) {
  QList<QByteArray> lines;
  for (GList* a = e_vcard_get_attributes(card); a != nullptr; a = a->next) {
    auto* attribute = static_cast<EVCardAttribute*>(a->data);
    const QByteArray name = QByteArray(e_vcard_attribute_get_name(attribute)).toUpper();
    if (name == "REV" || name == "VERSION" || name == kSentProperty) continue;
    const char* group = e_vcard_attribute_get_group(attribute);
    QByteArray line = QByteArray(group != nullptr ? group : "").toLower() + '.' + name;
    if (name == "PHOTO" || name == "LOGO") {
      line += ':' +
              QCryptographicHash::hash(PictureBytes(attribute), QCryptographicHash::Sha256).toHex();
      lines << line;
      continue;
    }
    QList<QByteArray> params;
    for (GList* p = e_vcard_attribute_get_params(attribute); p != nullptr; p = p->next) {
      auto* param = static_cast<EVCardAttributeParam*>(p->data);
      const QByteArray paramName = QByteArray(e_vcard_attribute_param_get_name(param)).toUpper();
      if (paramName == "X-EVOLUTION-E164") continue;
      QByteArray text = paramName + '=';
      for (GList* v = e_vcard_attribute_param_get_values(param); v != nullptr; v = v->next)
        text += Escaped(static_cast<const char*>(v->data)) + ',';
      params << text;
    }
    std::sort(params.begin(), params.end());
    for (const QByteArray& param : params) line += ';' + param;
    line += ':';
    for (GList* v = e_vcard_attribute_get_values(attribute); v != nullptr; v = v->next)
      line += Escaped(static_cast<const char*>(v->data)) + ';';
    lines << line;
  }
  std::sort(lines.begin(), lines.end());
  return QCryptographicHash::hash(lines.join('\n'), QCryptographicHash::Sha256).toHex();
}

// The contact of the book that has `address` among its e-mail addresses (a person, not a list;
// of several, the one whose card is `card`, as CardUuid gives it, else the one first by uid where
// all have one name, else none: a family's address on each one's contact names no one of them),
// and which of its addresses that is (0 for the first). Empty when the book holds none.
QString ContactWithAddress(EBookClient* client, const char* address, const QString& card,
                           int& number) {
  EBookQuery* query = e_book_query_field_test(E_CONTACT_EMAIL, E_BOOK_QUERY_IS, address);
  const GText sexp(e_book_query_to_string(query));
  e_book_query_unref(query);
  GSList* found = nullptr;
  if (!e_book_client_get_contacts_sync(client, sexp.get(), &found, nullptr, nullptr)) return {};
  QString uid, name;
  bool theCard = false;  // `uid` is `card`
  bool several = false;  // people of different names have the address
  for (GSList* l = found; l != nullptr && !theCard; l = l->next) {
    auto* person = static_cast<EContact*>(l->data);
    if (e_contact_get(person, E_CONTACT_IS_LIST) != nullptr) continue;
    auto* emails = static_cast<GList*>(e_contact_get(person, E_CONTACT_EMAIL));
    int n = 0, at = -1;
    for (GList* e = emails; e != nullptr && at < 0; e = e->next, ++n)
      if (g_ascii_strcasecmp(static_cast<const char*>(e->data), address) == 0) at = n;
    g_list_free_full(emails, g_free);
    if (at < 0) continue;
    const QString id = Utf8(static_cast<const char*>(e_contact_get_const(person, E_CONTACT_UID)));
    const QString full =
        Utf8(static_cast<const char*>(e_contact_get_const(person, E_CONTACT_FULL_NAME)));
    several = several || (!uid.isEmpty() && full != name);
    const bool isCard = !card.isEmpty() && contact::CardUuid(id) == card;
    if (!isCard && !uid.isEmpty() && uid < id) continue;
    uid = id;
    name = full;
    number = at;
    theCard = isCard;
  }
  g_slist_free_full(found, g_object_unref);
  return theCard || !several ? uid : QString();
}

// A distribution list comes as one of Evolution's own lists (its vCard 3.0 card says so, each
// member an EMAIL naming its address); each member is made the contact of the book that has its
// address, so that Evolution shows and mails it as that contact: the card this send gave the
// person with that address (`members`), where the book has it with the address, else any; but
// none where this send gave the address to people of different names (a family's address): the
// member then stays the address alone. Lists are sent after the other contacts, so that their
// members' contacts are in the book by then.
void ResolveMembers(EContact* card, EBookClient* client, const contact::MemberCards& members) {
  for (GList* a = e_vcard_get_attributes(E_VCARD(card)); a != nullptr; a = a->next) {
    auto* attribute = static_cast<EVCardAttribute*>(a->data);
    if (g_ascii_strcasecmp(e_vcard_attribute_get_name(attribute), EVC_EMAIL) != 0) continue;
    GList* email = e_vcard_attribute_get_param(attribute, EVC_X_DEST_EMAIL);
    if (email == nullptr || e_vcard_attribute_get_param(attribute, EVC_X_DEST_CONTACT_UID))
      continue;
    const auto* address = static_cast<const char*>(email->data);
    int number = 0;
    bool shared = false;
    const QString card = members.CardOf(QString::fromUtf8(address), &shared);
    if (shared) continue;
    const QString uid = ContactWithAddress(client, address, card, number);
    if (uid.isEmpty()) continue;
    e_vcard_attribute_add_param_with_value(
        attribute, e_vcard_attribute_param_new(EVC_X_DEST_CONTACT_UID), uid.toUtf8().constData());
    e_vcard_attribute_add_param_with_value(attribute,
                                           e_vcard_attribute_param_new(EVC_X_DEST_EMAIL_NUM),
                                           QByteArray::number(number).constData());
  }
}

// One contact on its way into the book.
struct Pending {
  QString uid;
  QString name;
  std::vector<contact::Origin> origins;
  Ref<EContact> card;
  QByteArray fingerprint;
  bool repeated = false;  // its uid came earlier in this send
  SendOutcome outcome = SendOutcome::kAdded;
  QString reason;
  Remedy remedy = Remedy::kNone;
};

// `uid`: the card's uid in the book. `client`: the book a list's members are looked up in;
// `members`: the cards given to the people of this send, which a list names its members by.
Pending Prepare(const contact::SourcedContact& in, const QString& uid, EBookClient* client,
                const contact::MemberCards& members) {
  Pending p;
  p.uid = uid;
  p.name = contact::ShownName(in.contact);
  p.origins = in.origins;
  QByteArray text;
  contact::AppendVCard(text, in.contact, contact::VCardVersion::k30, &members);
  p.card.reset(e_contact_new_from_vcard_with_uid(text.constData(), p.uid.toUtf8().constData()));
  if (in.contact.isGroup) ResolveMembers(p.card.get(), client, members);
  p.fingerprint = Fingerprint(E_VCARD(p.card.get()));
  e_vcard_util_set_x_attribute(E_VCARD(p.card.get()), kSentProperty, p.fingerprint.constData());
  return p;
}

// The book's contacts of `uids`, by uid.
std::map<QString, Ref<EContact>> Held(EBookClient* client, const std::vector<QString>& uids) {
  std::vector<EBookQuery*> tests;
  for (const QString& uid : uids)
    tests.push_back(
        e_book_query_field_test(E_CONTACT_UID, E_BOOK_QUERY_IS, uid.toUtf8().constData()));
  EBookQuery* query = e_book_query_or(static_cast<gint>(tests.size()), tests.data(), TRUE);
  const GText sexp(e_book_query_to_string(query));
  e_book_query_unref(query);
  GSList* found = nullptr;
  GError* raw = nullptr;
  const bool ok = e_book_client_get_contacts_sync(client, sexp.get(), &found, nullptr, &raw);
  const Error error(raw);
  if (!ok)
    throw DestinationError(QStringLiteral("The address book could not be read: %1")
                               .arg(Message(error.get()))
                               .toStdString());
  std::map<QString, Ref<EContact>> held;
  for (GSList* l = found; l != nullptr; l = l->next) {
    auto* card = static_cast<EContact*>(l->data);
    held[Utf8(static_cast<const char*>(e_contact_get_const(card, E_CONTACT_UID)))].reset(card);
  }
  g_slist_free(found);
  return held;
}

// The book's copies of the batch's contacts, by uid.
std::map<QString, Ref<EContact>> Held(EBookClient* client, const std::vector<Pending>& batch) {
  std::vector<QString> uids;
  for (const Pending& p : batch) uids.push_back(p.uid);
  return Held(client, uids);
}

// The uid of every contact of the book.
QSet<QString> BookUids(EBookClient* client) {
  GSList* uids = nullptr;
  GError* raw = nullptr;
  EBookQuery* all = e_book_query_any_field_contains("");
  const GText sexp(e_book_query_to_string(all));
  e_book_query_unref(all);
  const bool ok = e_book_client_get_contacts_uids_sync(client, sexp.get(), &uids, nullptr, &raw);
  const Error error(raw);
  if (!ok)
    throw DestinationError(QStringLiteral("The address book could not be read: %1")
                               .arg(Message(error.get()))
                               .toStdString());
  QSet<QString> inBook;
  for (GSList* l = uids; l != nullptr; l = l->next)
    inBook.insert(Utf8(static_cast<const char*>(l->data)));
  g_slist_free_full(uids, g_free);
  return inBook;
}

// The book's contacts of `uids` it holds, each given to `found` with its vCard 3.0.
void ReadCards(EBookClient* client, const std::vector<QString>& uids,
               const std::function<void(const QString&, const QByteArray&)>& found) {
  constexpr size_t kAtOnce = 200;
  for (size_t first = 0; first < uids.size(); first += kAtOnce) {
    const std::vector<QString> some(uids.begin() + first,
                                    uids.begin() + std::min(uids.size(), first + kAtOnce));
    for (const auto& [uid, card] : Held(client, some)) {
      const GText text(e_vcard_to_string(E_VCARD(card.get()), EVC_FORMAT_VCARD_30));
      found(uid, QByteArray(text.get()));
    }
  }
}

// The book's contacts (`inBook`) the record of sends does not know (it was lost, or they are the
// user's own), taken in to find the people they hold.
void TheirCards(EBookClient* client, const SendState& state, const QSet<QString>& inBook,
                HeldCards& theirs) {
  const QSet<QString> known = state.Resources();
  std::vector<QString> unknown;
  for (const QString& uid : inBook)
    if (!known.contains(uid)) unknown.push_back(uid);
  std::sort(unknown.begin(), unknown.end());
  ReadCards(client, unknown,
            [&](const QString& uid, const QByteArray& bytes) { theirs.Add(bytes, uid); });
}

// Decides what becomes of each contact of the batch, from the record of sends, the book's copy
// and the fingerprint that copy carries of the card as we sent it.
void Classify(std::vector<Pending>& batch, const std::map<QString, Ref<EContact>>& held,
              const SendState& state, const QString& book, bool overwrite) {
  for (Pending& p : batch) {
    const auto it = held.find(p.uid);
    SendFacts facts;
    facts.repeated = p.repeated;
    facts.recorded = state.Find(p.uid) != nullptr;
    facts.present = it != held.end();
    if (facts.present) {
      EVCard* copy = E_VCARD(it->second.get());
      const GText mark(e_vcard_util_dup_x_attribute(copy, kSentProperty));
      const QByteArray sent(mark ? mark.get() : "");
      const QByteArray now = Fingerprint(copy);
      facts.recorded = facts.recorded || !sent.isEmpty();
      facts.untouched = !sent.isEmpty() && now == sent;
      facts.same = now == p.fingerprint;
      facts.sentFromNewer = !state.NotSentOver(p.uid).isEmpty();
    }
    const SendDecision decision = DecideSend(facts, overwrite);
    p.outcome = OutcomeOf(decision);
    p.remedy = p.outcome == SendOutcome::kConflict ? Remedy::kOverwrite : Remedy::kNone;
    switch (decision) {
      case SendDecision::kAdd:
      case SendDecision::kUpdate:
      case SendDecision::kUnchanged:
      case SendDecision::kRepeated:
        break;
      case SendDecision::kDeletedThere:
        p.reason = DeletedReason(Quoted(book));
        break;
      case SendDecision::kChangedThere:
        p.reason =
            QStringLiteral("changed in the book since it was last sent; it was left as it is");
        break;
      case SendDecision::kNotOurs:
        p.reason = QStringLiteral(
            "the book already holds a contact with this UID that was not sent from here; it was "
            "left as it is");
        break;
      case SendDecision::kSentFromNewer:
        p.reason = state.NotSentOver(p.uid);
        break;
    }
  }
}

// Adds or modifies `cards` at once; when the book refuses the batch, one at a time, so that
// only the contacts it refuses fail, each with the book's own reason.
void Write(EBookClient* client, std::vector<Pending*> cards, bool add) {
  if (cards.empty()) return;
  auto write = [client, add](GSList* list, GError** error) {
    if (!add)
      return e_book_client_modify_contacts_sync(client, list, E_BOOK_OPERATION_FLAG_NONE, nullptr,
                                                error) != FALSE;
    GSList* uids = nullptr;
    const bool ok = e_book_client_add_contacts_sync(client, list, E_BOOK_OPERATION_FLAG_NONE, &uids,
                                                    nullptr, error) != FALSE;
    g_slist_free_full(uids, g_free);
    return ok;
  };
  GSList* list = nullptr;
  for (auto it = cards.rbegin(); it != cards.rend(); ++it)
    list = g_slist_prepend(list, (*it)->card.get());
  GError* raw = nullptr;
  const bool ok = write(list, &raw);
  g_slist_free(list);
  if (raw != nullptr) g_error_free(raw);
  if (ok) return;
  for (Pending* p : cards) {
    GSList one = {p->card.get(), nullptr};
    GError* single = nullptr;
    if (write(&one, &single)) continue;
    const Error error(single);
    p->outcome = SendOutcome::kFailed;
    p->reason = QStringLiteral("the book refused it: %1").arg(Message(error.get()));
  }
}

// Second cards of people joined since they were sent (SendState::TakeMergedAway): removed where
// the book holds them as they were sent (the fingerprint they carry is still theirs); changed in
// the book since, or refused by it, left as they are and told. `book`: its name, for the telling.
void RemoveMergedAway(EBookClient* client, SendState& state, const QString& book, bool dryRun,
                      SendResult& result) {
  std::vector<QString> uids;
  for (const SentRecord& r : state.TakeMergedAway()) uids.push_back(r.resource);
  constexpr size_t kAtOnce = 200;
  for (size_t first = 0; first < uids.size(); first += kAtOnce) {
    const std::vector<QString> some(uids.begin() + first,
                                    uids.begin() + std::min(uids.size(), first + kAtOnce));
    std::vector<std::pair<QByteArray, QString>> untouched;  // uid, name
    const auto left = [&](const QString& name) {
      result.mergedAway << QStringLiteral("the contact %1 in the Evolution address book %2")
                               .arg(Quoted(name), Quoted(book));
    };
    for (const auto& [uid, card] : Held(client, some)) {  // one deleted there since is gone
      EVCard* copy = E_VCARD(card.get());
      const GText mark(e_vcard_util_dup_x_attribute(copy, kSentProperty));
      const QString name =
          Utf8(static_cast<const char*>(e_contact_get_const(card.get(), E_CONTACT_FULL_NAME)));
      if (mark && Fingerprint(copy) == QByteArray(mark.get()))
        untouched.emplace_back(uid.toUtf8(), name);
      else
        left(name);
    }
    if (dryRun) {
      result.removed += static_cast<int>(untouched.size());
      continue;
    }
    for (const auto& [uid, name] : untouched) {
      GSList one = {const_cast<char*>(uid.constData()), nullptr};
      GError* raw = nullptr;
      const bool ok = e_book_client_remove_contacts_sync(client, &one, E_BOOK_OPERATION_FLAG_NONE,
                                                         nullptr, &raw) != FALSE;
      const Error error(raw);
      if (ok)
        ++result.removed;
      else
        left(name);
    }
  }
}

class EvolutionBook : public Destination {
 public:
  EvolutionBook(QString book, QString stateFolder)
      : book_(std::move(book)), stateFolder_(std::move(stateFolder)) {}

  QString Describe() const override {
    if (!shown_.isEmpty())
      return QStringLiteral("the Evolution address book %1").arg(Quoted(shown_));
    return book_.isEmpty() ? QStringLiteral("the default Evolution address book")
                           : QStringLiteral("the Evolution address book %1").arg(Quoted(book_));
  }

  SendResult Send(contact::ContactStream& contacts, const SendOptions& options,
                  SendObserver& observer) override {
    const ThreadContext context;
    const Ref<ESourceRegistry> registry = OpenRegistry();
    const Ref<ESource> source = FindBook(registry.get(), book_);
    const QString name = Utf8(e_source_get_display_name(source.get()));
    shown_ = name;
    if (!e_source_get_enabled(source.get()))
      throw DestinationError(QStringLiteral("The Evolution address book %1 is switched off: switch "
                                            "it on in Evolution's or GNOME's settings first")
                                 .arg(Quoted(name))
                                 .toStdString());
    GError* raw = nullptr;
    // Not waiting for the book to report itself connected (the -1): a local book never does,
    // and one backed by a server takes the changes offline and passes them on when it can.
    const Ref<EBookClient> client(E_BOOK_CLIENT(
        e_book_client_connect_sync(source.get(), static_cast<guint32>(-1), nullptr, &raw)));
    const Error error(raw);
    if (!client)
      throw DestinationError(QStringLiteral("The Evolution address book %1 could not be opened: "
                                            "%2")
                                 .arg(Quoted(name), Message(error.get()))
                                 .toStdString());
    if (!options.dryRun && e_client_is_readonly(E_CLIENT(client.get())))
      throw DestinationError(QStringLiteral("The Evolution address book %1 is read-only: choose "
                                            "another book")
                                 .arg(Quoted(name))
                                 .toStdString());

    const QSet<QString> inBook = BookUids(client.get());
    RefuseIfHoldsCards(options, Describe(), inBook.size());

    // What was sent to this book before, kept by the book's id, which stays when it is renamed.
    SendState state(stateFolder_,
                    QStringLiteral("evolution ") + Utf8(e_source_get_uid(source.get())));
    SendResult result;
    const int total = contacts.Total();
    int done = 0;
    std::vector<Pending> batch;
    std::set<QString> seen;  // uids met in this send
    auto flush = [&] {
      if (batch.empty()) return;
      Classify(batch, Held(client.get(), batch), state, name, options.overwrite);
      if (!options.dryRun) {
        std::vector<Pending*> added, modified;
        for (Pending& p : batch) {
          if (p.outcome == SendOutcome::kAdded) added.push_back(&p);
          if (p.outcome == SendOutcome::kUpdated) modified.push_back(&p);
        }
        Write(client.get(), added, true);
        Write(client.get(), modified, false);
      }
      for (Pending& p : batch) {
        // A dry run records too (the entries moved, for the cards they leave), saving nothing.
        if (p.outcome == SendOutcome::kAdded || p.outcome == SendOutcome::kUpdated ||
            p.outcome == SendOutcome::kUnchanged)
          state.Set(p.uid, {p.uid, QString::fromLatin1(p.fingerprint),
                            QString::fromLatin1(p.fingerprint)});
        switch (p.outcome) {
          case SendOutcome::kAdded:
            ++result.added;
            break;
          case SendOutcome::kUpdated:
            ++result.updated;
            break;
          case SendOutcome::kUnchanged:
            ++result.unchanged;
            break;
          case SendOutcome::kRepeated:
            ++result.repeated;
            break;
          case SendOutcome::kConflict:
          case SendOutcome::kFailed: {
            SendProblem problem{p.outcome, p.name, p.uid, std::move(p.origins), p.reason, p.remedy};
            observer.Problem(problem);
            result.problems.push_back(std::move(problem));
            break;
          }
        }
        observer.Progress(++done, total);
      }
      batch.clear();
    };
    // A person whose card the record does not know, but whom a contact of the book holds (the
    // record lost): that contact is updated rather than a second one added.
    HeldCards theirs;
    TheirCards(client.get(), state, inBook, theirs);
    const auto ownThere = [&](const contact::Contact& c) {
      return inBook.contains(contact::CardUuid(c.uid));
    };
    const auto held = [&](const contact::Contact& c) -> QString {
      if (theirs.IsEmpty() || ownThere(c)) return {};
      const HeldCards::Card* card = theirs.Match(c);
      return card ? card->uid : QString();
    };
    // The contacts the record knows, read only for a contact none of whose entries went into one.
    state.MatchKnownCards(
        [&](const QStringList& uids, const auto& found) {
          std::vector<QString> present;
          for (const QString& uid : uids)
            if (inBook.contains(uid)) present.push_back(uid);
          ReadCards(client.get(), present, found);
        },
        // Each card read: the book lists its contacts without their versions.
        ownThere, {});
    // A contact that would take a contact of the book's by its person alone after those whose own
    // card it may be; lists last, each member named by the card its person went into, which is
    // in the book by then: the people are written before the first list is made.
    ByPersonLast byPerson(contacts, theirs, state, ownThere);
    contact::GroupsLast ordered(byPerson);
    contact::SourcedContact in;
    bool listsBegun = false;
    while (true) {
      if (observer.Cancelled()) {
        // The contacts taken but not yet sent stay out; a re-run sends them.
        result.cancelled = true;
        break;
      }
      if (!ordered.Next(in)) break;
      if (in.contact.isGroup && !listsBegun) {
        listsBegun = true;
        flush();
      }
      QString card = contact::CardUuid(in.contact.uid);
      if (!in.contact.isGroup) {
        const QString was = in.contact.uid;
        card = state.CardFor(in, held);
        ordered.Renamed(was, in.contact);
      }
      batch.push_back(Prepare(in, card, client.get(), ordered.Members()));
      batch.back().repeated = !seen.insert(batch.back().uid).second;
      if (batch.size() >= kBatch) flush();
    }
    if (!result.cancelled) {
      flush();
      RemoveMergedAway(client.get(), state, name, options.dryRun, result);
    }
    QString unsaved;
    if (!options.dryRun && !state.Save(unsaved))
      throw SendBrokenOff(
          DestinationError(
              QStringLiteral("The contacts were sent, but the record of this send was not (%1); a "
                             "second send will compare with the book instead")
                  .arg(unsaved)
                  .toStdString()),
          result);
    return result;
  }

 private:
  QString book_;
  QString stateFolder_;
  QString shown_;  // the book's name as Evolution shows it, once found
};

}  // namespace

std::vector<EvolutionBookInfo> ListEvolutionBooks() {
  const ThreadContext context;
  const Ref<ESourceRegistry> registry = OpenRegistry();
  return BookInfos(registry.get());
}

bool IsEvolutionTarget(const QString& to, QString* book) {
  static const QString kScheme = QStringLiteral("evolution");
  if (to.compare(kScheme, Qt::CaseInsensitive) == 0) {
    if (book != nullptr) book->clear();
    return true;
  }
  if (to.size() > kScheme.size() && to.at(kScheme.size()) == u':' &&
      to.left(kScheme.size()).compare(kScheme, Qt::CaseInsensitive) == 0) {
    if (book != nullptr) *book = to.mid(kScheme.size() + 1);
    return true;
  }
  return false;
}

std::unique_ptr<Destination> MakeEvolutionBook(const QString& book, const QString& stateFolder) {
  return std::make_unique<EvolutionBook>(book, stateFolder);
}

}  // namespace lumivex::destination
