#include "destination/SendState.h"

#include "contact/CardUuid.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace lumivex::destination {

namespace {
// The first line of a record file; a file that does not start with one of these is not read. A
// record of the first form has no entries: each card was then named from the uid of one of its
// entries, which is taken as its entry. Those of the second form have no times their entries
// were changed, and those before the fourth do not say who each card holds.
constexpr char kHeader[] = "lumivex-send-state 4";
constexpr char kEarlierHeaders[][21] = {"lumivex-send-state 1", "lumivex-send-state 2",
                                        "lumivex-send-state 3"};
// Written for the entries of a card whose last entry went into another card, until a send that
// runs to its end removes or tells it: no entry uid (a UUID) reads so, and a line that ends
// without entries is one of the first form.
constexpr char kMovedAway[] = "-";

// An entry as the record keeps it: its uid, and where the store gives it the time it was made
// ("UUID@ms"): two copies of a store that each got a new contact after they parted give both one
// uid. An entry of a record written before holds its uid alone, which stands for any time made.
QString EntryToken(const contact::Origin& o) {
  const QString uid = contact::CardUuid(o.entry);
  return o.made.isValid() ? uid + u'@' + QString::number(o.made.toMSecsSinceEpoch()) : uid;
}
QString UidOf(const QString& token) {
  return token.section(u'@', 0, 0);
}
}  // namespace

QString SendState::CardOf(const QString& token) const {
  const auto it = cardOf_.constFind(token);
  if (it != cardOf_.constEnd()) return *it;
  return token.contains(u'@') ? cardOf_.value(UidOf(token)) : QString();
}

SendState::SendState(const QString& folder, const QString& identity) : identity_(identity) {
  const QByteArray name =
      QCryptographicHash::hash(identity.toUtf8(), QCryptographicHash::Sha256).toHex().left(24);
  path_ = QDir(folder).filePath(QString::fromLatin1(name) + QStringLiteral(".state"));
  QFile file(path_);
  if (!file.open(QIODevice::ReadOnly)) return;
  // Line 1 the header, line 2 the identity, then uid TAB resource TAB tag TAB hash TAB entries
  // (separated by spaces) TAB when each was changed (ms since 1970, 0 unknown; in the entries'
  // order) TAB who the card holds (its PersonLines in base64) per line.
  const QByteArray header = file.readLine().trimmed();
  if (header != kHeader && std::none_of(std::begin(kEarlierHeaders), std::end(kEarlierHeaders),
                                        [&](const char* earlier) { return header == earlier; }))
    return;
  if (QString::fromUtf8(file.readLine()).chopped(1) != identity) return;
  while (!file.atEnd()) {
    const QList<QByteArray> fields = file.readLine().trimmed().split('\t');
    if (fields.size() < 4 || fields.size() > 7) continue;
    const QString uid = QString::fromUtf8(fields[0]);
    SentRecord record{QString::fromUtf8(fields[1]), QString::fromUtf8(fields[2]),
                      QString::fromUtf8(fields[3])};
    if (fields.size() >= 5 && fields[4] == kMovedAway)
      emptied_.insert(uid);
    else if (fields.size() >= 5)
      record.entries = QString::fromUtf8(fields[4]).split(u' ', Qt::SkipEmptyParts);
    else
      record.entries = {uid};
    if (const QList<QByteArray> times =
            fields.size() >= 6 ? fields[5].split(' ') : QList<QByteArray>();
        times.size() == record.entries.size())
      for (qsizetype k = 0; k < times.size(); ++k)
        if (const qint64 ms = times[k].toLongLong(); ms != 0)
          sentChanged_.insert(record.entries[k], ms);
    // Lines that do not say who the card holds (a record damaged by hand) are as none: the
    // card is read.
    if (fields.size() == 7)
      if (QByteArray person = QByteArray::fromBase64(fields[6]); IsPersonLines(person))
        record.person = std::move(person);
    for (const QString& entry : record.entries) cardOf_.insert(entry, uid);
    records_.insert(uid, std::move(record));
  }
}

const SentRecord* SendState::Find(const QString& uid) const {
  const auto it = records_.constFind(uid);
  return it == records_.constEnd() ? nullptr : &it.value();
}

void SendState::Set(const QString& uid, const SentRecord& record) {
  SentRecord& slot = records_[uid];
  const auto assigned = assigned_.constFind(uid);
  // The card's entries: those it held that no card of this send took (entries of stores this
  // send did not read stay with it, so that the next send of those stores finds it), then those
  // CardFor gave it. An entry held by its uid alone gives way to the same entry with its time.
  QStringList entries;
  if (assigned == assigned_.constEnd()) {
    entries = slot.entries;
  } else {
    for (const QString& entry : slot.entries) {
      const bool timed = std::any_of(assigned->begin(), assigned->end(), [&](const QString& e) {
        return e != entry && UidOf(e) == entry;
      });
      if (assigned->contains(entry) || (!timed && CardOf(entry) == uid)) entries << entry;
    }
    for (const QString& entry : *assigned)
      if (!entries.contains(entry)) entries << entry;
  }
  // The entries of this send go there as they are now.
  bool newer = false;
  if (assigned != assigned_.constEnd())
    for (const QString& entry : *assigned)
      if (const qint64 now = nowChanged_.value(entry);
          now != 0 && sentChanged_.value(entry) != now) {
        sentChanged_.insert(entry, now);
        newer = true;
      }
  const auto now = personNow_.constFind(uid);
  const QByteArray& person = now != personNow_.constEnd() ? *now : slot.person;
  if (slot.resource == record.resource && slot.tag == record.tag && slot.hash == record.hash &&
      slot.entries == entries && slot.person == person && !newer)
    return;
  slot.resource = record.resource;
  slot.tag = record.tag;
  slot.hash = record.hash;
  slot.person = person;
  if (assigned != assigned_.constEnd()) {
    // An entry now in this card is no longer in the one it went into before.
    for (const QString& entry : entries) {
      const QString before = CardOf(entry);
      if (const auto it = records_.find(before); it != records_.end() && before != uid) {
        it->entries.removeAll(entry);
        it->entries.removeAll(UidOf(entry));  // as a record written before holds it
        if (it->entries.isEmpty()) emptied_.insert(before);
      }
      if (cardOf_.value(UidOf(entry)) == before) cardOf_.remove(UidOf(entry));
      cardOf_.insert(entry, uid);
    }
    for (const QString& entry : slot.entries)
      if (!entries.contains(entry) && cardOf_.value(entry) == uid) cardOf_.remove(entry);
    slot.entries = entries;
    if (!entries.isEmpty()) emptied_.remove(uid);
  }
  dirty_ = true;
}

QString SendState::NotSentOver(const QString& uid) const {
  if (byPerson_.contains(uid))
    return QStringLiteral(
        "its person's card holds what earlier sends of other stores gave it, which this send does "
        "not hold: sent over, the card would lose it; it was left as it is (send those stores "
        "with this one to merge them into it)");
  const SentRecord* sent = Find(uid);
  const auto mine = assigned_.constFind(uid);
  if (!sent || mine == assigned_.constEnd()) return {};
  const auto when = [](qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC)
        .toString(QStringLiteral("yyyy-MM-dd hh:mm 'UTC'"));
  };
  // Each entry of the contact that went into this card before, as it was then and as it is now.
  QStringList older;
  for (const QString& entry : *mine) {
    if (!sent->entries.contains(entry)) continue;
    const qint64 then = sentChanged_.value(entry), now = nowChanged_.value(entry);
    if (then != 0 && now != 0 && now < then)
      older << QStringLiteral("%1 was changed %2, before the same entry sent there (%3)")
                   .arg(whereNow_.value(entry), when(now), when(then));
  }
  if (older.isEmpty()) return {};
  return QStringLiteral("its entry %1: an older copy of its store? It was left as it is")
      .arg(older.join(QStringLiteral("; its entry ")));
}

QSet<QString> SendState::Resources() const {
  QSet<QString> resources;
  for (const SentRecord& r : records_) resources.insert(r.resource);
  return resources;
}

bool SendState::Knows(const contact::SourcedContact& c) const {
  return std::any_of(c.origins.begin(), c.origins.end(), [&](const contact::Origin& o) {
    return !o.entry.isEmpty() && !CardOf(EntryToken(o)).isEmpty();
  });
}

QString SendState::CardFor(contact::SourcedContact& c,
                           const std::function<QString(const contact::Contact&)>& held) {
  QStringList entries;
  for (const contact::Origin& o : c.origins)
    if (!o.entry.isEmpty()) entries << EntryToken(o);
  // A card given out already that holds one of these entries: the same entry twice (a store and
  // its copy sent unmerged), which the destination tells as such.
  const auto twice = [&](const QString& card) {
    const auto it = assigned_.constFind(card);
    return it != assigned_.constEnd() &&
           std::any_of(entries.begin(), entries.end(),
                       [&](const QString& e) { return it->contains(e); });
  };
  QString card;
  for (const QString& entry : entries) {
    const QString before = CardOf(entry);
    if (before.isEmpty()) continue;
    if (!given_.contains(before) || twice(before)) {
      card = before;
      break;
    }
  }
  if (card.isEmpty() && held) {
    const QString there = held(c.contact);
    if (!there.isEmpty() && !given_.contains(there)) card = there;
  }
  // A card the record knows holding its person, which no contact took by its entries: the one
  // whose entries may still come waited (ByPersonLast), so that it took the card first.
  if (card.isEmpty() && MayTakeKnown(c))
    if (const HeldCards::Card* known = known_.Match(c.contact)) {
      card = known->uid;
      byPerson_.insert(card);
    }
  if (card.isEmpty()) {
    const QString own = contact::CardUuid(c.contact.uid);
    card = own;
    // Its own card went to another contact of this send already (a merge since split, whose
    // card was named from this contact's entry): a card named from its own and a number. A
    // contact that names no entry (sent unmerged) under a uid given already is the same entry
    // again, which the destination tells as sent twice.
    // Nor is a card the record holds for other entries taken: one named from the same uid for an
    // entry made at another time (two copies of a store, a new contact in each).
    QSet<QString> mine;  // the entries, also as a record written before holds them
    for (const QString& entry : entries) mine << entry << UidOf(entry);
    const auto taken = [&](const QString& name) {
      if (given_.contains(name)) return !twice(name);
      const auto it = records_.constFind(name);
      return it != records_.constEnd() && !it->entries.isEmpty() &&
             std::none_of(it->entries.begin(), it->entries.end(),
                          [&](const QString& held) { return mine.contains(held); });
    };
    for (int n = 1; !entries.isEmpty() && taken(card); ++n)
      // The number goes first: a text that starts with a UUID would be read as that UUID.
      card = contact::CardUuid(QStringLiteral("%1 %2").arg(n).arg(own));
  }
  if (!given_.contains(card)) {
    given_.insert(card);
    known_.Give(card);
    if (!entries.isEmpty()) assigned_.insert(card, entries);
    // When each entry was last changed, and where it is, to be compared with the record. A store
    // and its copy merged give the same entry twice: it is as its newest copy gives it, which the
    // merged contact's values follow, so that the record does not take an older copy's time.
    const auto changed = [](const contact::Origin& o) {
      return o.lastModified.isValid() ? o.lastModified.toMSecsSinceEpoch() : 0;
    };
    QHash<QString, const contact::Origin*> newest;
    for (const contact::Origin& o : c.origins) {
      if (o.entry.isEmpty()) continue;
      const contact::Origin*& kept = newest[EntryToken(o)];
      if (!kept || changed(o) > changed(*kept)) kept = &o;
    }
    for (auto it = newest.cbegin(); it != newest.cend(); ++it) {
      const contact::Origin& o = **it;
      if (const qint64 ms = changed(o); ms != 0) nowChanged_.insert(it.key(), ms);
      whereNow_.insert(it.key(),
                       QStringLiteral("in %1 (%2 #%3)").arg(o.store, o.folder).arg(o.position));
    }
  }
  c.contact.uid = card;
  personNow_.insert(card, PersonLines(c.contact));
  return card;
}

void SendState::MatchKnownCards(
    CardReader read, std::function<bool(const contact::Contact&)> ownThere,
    std::function<bool(const QString& resource, const QString& tag)> asLeft) {
  readKnown_ = std::move(read);
  ownThere_ = std::move(ownThere);
  asLeft_ = std::move(asLeft);
}

bool SendState::TakesKnownByPerson(const contact::SourcedContact& c) {
  return MayTakeKnown(c) && known_.Holds(c.contact);
}

bool SendState::MayTakeKnown(const contact::SourcedContact& c) {
  if (!readKnown_ || c.contact.isGroup || (knownRead_ && known_.IsEmpty()) || Knows(c) ||
      (ownThere_ && ownThere_(c.contact)))
    return false;
  if (!knownRead_) {
    knownRead_ = true;
    // The cards of earlier sends that still hold entries (one whose entries all went into
    // another card is a second card of a person, to be taken away) and that no contact of this
    // send took yet.
    // Those taken already are read too: a value they hold is no evidence of the person of
    // another card (a family address on the wife's card and the husband's).
    // Who each holds is the record's own, where the card is as the record left it; the others
    // are read.
    QHash<QString, QString> cardAt;  // resource: the card's uid
    for (auto it = records_.cbegin(); it != records_.cend(); ++it)
      if (!it->entries.isEmpty()) cardAt.insert(it->resource, it.key());
    QStringList resources = cardAt.keys();
    std::sort(resources.begin(), resources.end());
    resources.removeIf([&](const QString& resource) {
      const SentRecord& record = records_[cardAt.value(resource)];
      if (record.person.isEmpty() || !asLeft_ || !asLeft_(resource, record.tag)) return false;
      known_.Add(record.person, resource, cardAt.value(resource));
      return true;
    });
    if (!resources.isEmpty())
      readKnown_(resources, [&](const QString& resource, const QByteArray& bytes) {
        if (const auto it = cardAt.constFind(resource); it != cardAt.constEnd())
          known_.Add(bytes, resource, *it);
      });
    for (const QString& card : given_) known_.Give(card);
  }
  return !known_.IsEmpty();
}

std::vector<SentRecord> SendState::TakeMergedAway() {
  // Only records emptied by a move, in this send or in one stopped before it got here: a list's
  // card, named from its own uid rather than given by CardFor, holds no entries and is no second
  // card of anyone. One given a contact in this send but not written stays marked.
  std::vector<SentRecord> away;
  for (auto mark = emptied_.begin(); mark != emptied_.end();) {
    const auto it = records_.find(*mark);
    const bool empty = it != records_.end() && it->entries.isEmpty();
    if (empty && given_.contains(*mark)) {
      ++mark;
      continue;
    }
    if (empty) {
      away.push_back(*it);
      taken_.insert(it->resource, it.key());
      records_.erase(it);
      dirty_ = true;
    }
    mark = emptied_.erase(mark);
  }
  std::sort(away.begin(), away.end(),
            [](const SentRecord& a, const SentRecord& b) { return a.resource < b.resource; });
  return away;
}

void SendState::KeepMergedAway(const SentRecord& record) {
  const QString uid = taken_.take(record.resource);
  if (uid.isEmpty() || records_.contains(uid)) return;
  SentRecord kept = record;
  kept.entries.clear();
  records_.insert(uid, std::move(kept));
  emptied_.insert(uid);
  dirty_ = true;
}

bool SendState::Save(QString& error) {
  if (!dirty_) return true;
  // The records name the user's books and accounts: the folder and its files are the user's
  // alone, whatever the umask.
  const QString folder = QFileInfo(path_).absolutePath();
  if (!QDir().mkpath(folder) ||
      !QFile::setPermissions(
          folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner)) {
    error = QStringLiteral("cannot create the folder %1").arg(folder);
    return false;
  }
  QByteArray out;
  out.reserve(64 + records_.size() * 400);
  out.append(kHeader).append('\n').append(identity_.toUtf8()).append('\n');
  for (auto it = records_.cbegin(); it != records_.cend(); ++it) {
    // Tabs and line breaks cannot occur in uids, hrefs, tags or hashes we keep.
    out.append(it.key().toUtf8()).append('\t').append(it->resource.toUtf8()).append('\t');
    out.append(it->tag.toUtf8()).append('\t').append(it->hash.toUtf8()).append('\t');
    if (it->entries.isEmpty() && emptied_.contains(it.key()))
      out.append(kMovedAway);
    else
      out.append(it->entries.join(u' ').toUtf8());
    out.append('\t');
    for (qsizetype k = 0; k < it->entries.size(); ++k)
      out.append(k ? " " : "").append(QByteArray::number(sentChanged_.value(it->entries[k])));
    out.append('\t').append(it->person.toBase64()).append('\n');
  }
  QSaveFile file(path_);
  if (!file.open(QIODevice::WriteOnly) ||
      !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
      file.write(out) != out.size() || !file.commit()) {
    error = QStringLiteral("cannot write %1: %2").arg(path_, file.errorString());
    return false;
  }
  dirty_ = false;
  return true;
}

QString SendState::HashOf(const QByteArray& bytes) {
  return QString::fromLatin1(
      QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().left(32));
}

QString DeletedReason(const QString& where) {
  return QStringLiteral(
             "deleted in the address book since the last send (%1); it was not sent "
             "again")
      .arg(where);
}

}  // namespace lumivex::destination
