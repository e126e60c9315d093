#include "destination/HeldCards.h"

#include "contact/VCardWriter.h"

#include <algorithm>

namespace lumivex::destination {

namespace {

using contact::PhoneKind;

// A value's parts between unescaped semicolons, each unescaped ("Berg;Anna;;;Jr.").
QStringList Parts(const QString& value) {
  QStringList parts(1);
  for (qsizetype i = 0; i < value.size(); ++i) {
    const QChar c = value[i];
    if (c == u';') {
      parts << QString();
    } else if (c == u'\\' && i + 1 < value.size()) {
      const QChar next = value[++i];
      parts.back() += next == u'n' || next == u'N' ? QChar(u'\n') : next;
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

// `text` split at each `separator` outside double quotes.
QList<QByteArray> SplitUnquoted(const QByteArray& text, char separator) {
  QList<QByteArray> parts(1);
  bool quoted = false;
  for (const char c : text) {
    if (c == separator && !quoted) {
      parts << QByteArray();
      continue;
    }
    if (c == '"') quoted = !quoted;
    parts.back() += c;
  }
  return parts;
}

// A value of one part, unescaped.
QString Text(const QString& value) {
  return Parts(value).join(u';');
}

// "1980-05-17", "19800517" (with a time after it or not); a date without its year ("--0517") is
// none: a birthday tells people apart only whole, as an entry's does.
contact::Date DateOf(const QString& value) {
  if (value.startsWith(u"--")) return {};
  QString digits;
  for (const QChar c : value.left(value.indexOf(u'T'))) {
    if (c.isDigit()) digits += c;
  }
  if (digits.size() != 8) return {};
  return {digits.left(4).toInt(), digits.mid(4, 2).toInt(), digits.mid(6, 2).toInt()};
}

// The kind of telephone a TEL line's types say, as far as the rules tell kinds apart: numbers a
// company or a household shares (faxes, the company's main number, an assistant's, telex) are
// no evidence of a person.
PhoneKind KindOf(const QByteArray& params) {
  if (params.contains("FAX")) return PhoneKind::kBusinessFax;
  if (params.contains("ASSISTANT")) return PhoneKind::kAssistant;
  if (params.contains("X-EVOLUTION-COMPANY")) return PhoneKind::kCompanyMain;
  if (params.contains("TELEX") || params.contains("TLX")) return PhoneKind::kTelex;
  return PhoneKind::kOther;
}

// Whether a card's line of property `name` says who the card holds (PersonLines).
bool SaysWho(const QByteArray& name) {
  return name == "N" || name == "FN" || name == "EMAIL" || name == "TEL" || name == "BDAY" ||
         name == "KIND";
}

// What a card says of its person: the values the rules compare.
contact::Contact PersonOf(const std::vector<CardLine>& lines) {
  contact::Contact c;
  for (const CardLine& line : lines) {
    if (line.name == "N") {
      const QStringList n = Parts(line.value);
      c.surname = n.value(0);
      c.givenName = n.value(1);
      c.middleName = n.value(2);
      c.prefix = n.value(3);
      c.suffix = n.value(4);
    } else if (line.name == "FN") {
      c.displayName = Text(line.value);
    } else if (line.name == "EMAIL") {
      c.emails.push_back({Text(line.value), {}, QStringLiteral("SMTP")});
    } else if (line.name == "TEL") {
      QString number = Text(line.value);
      if (number.startsWith(u"tel:", Qt::CaseInsensitive)) number.remove(0, 4);
      c.phones.push_back({KindOf(line.params), number});
    } else if (line.name == "BDAY") {
      c.birthday = DateOf(line.value);
    } else if ((line.name == "KIND" || line.name == "X-ADDRESSBOOKSERVER-KIND") &&
               line.value.trimmed().compare(u"group", Qt::CaseInsensitive) == 0) {
      c.isGroup = true;
    }
  }
  return c;
}

// How much of a name an identity holds, as the merge weighs it: the entries sharing a value are
// met fullest first, so that one that could be either of two people meets both before it joins.
int NameParts(const merge::Identity& id) {
  return (id.given != 0) + (id.givenInitial != 0) + (id.surname != 0) + (id.middle != 0) +
         (id.middleInitials[0] != 0) + (id.middleInitials[1] != 0) + (id.suffix != 0) +
         (id.birthday != 0);
}

}  // namespace

std::vector<CardLine> CardLines(const QByteArray& card) {
  QByteArray unfolded = card;
  unfolded.replace("\r\n ", "").replace("\r\n\t", "").replace("\n ", "").replace("\n\t", "");
  std::vector<CardLine> out;
  for (const QByteArray& raw : unfolded.split('\n')) {
    const QByteArray line = raw.trimmed();
    // The value begins after the first colon outside a quoted parameter value
    // (N;SORT-AS="Dupont: Acme, Jean":...).
    qsizetype colon = -1;
    for (qsizetype k = 0, quoted = 0; k < line.size() && colon < 0; ++k)
      if (line[k] == '"')
        quoted ^= 1;
      else if (line[k] == ':' && !quoted)
        colon = k;
    if (colon <= 0) continue;
    const QByteArray head = line.left(colon).toUpper();
    const qsizetype semicolon = head.indexOf(';');
    QByteArray name = semicolon < 0 ? head : head.left(semicolon);
    if (const qsizetype dot = name.lastIndexOf('.'); dot >= 0) name = name.mid(dot + 1);
    out.push_back({std::move(name), semicolon < 0 ? QByteArray() : head.mid(semicolon),
                   QString::fromUtf8(line.mid(colon + 1))});
  }
  return out;
}

QByteArray PersonLines(const contact::Contact& contact) {
  contact::Contact person = contact;  // its values shared, not copied
  person.photo = {};                  // much to write, nothing of who it is
  QByteArray card;
  contact::AppendVCard(card, person, contact::VCardVersion::k40);
  QByteArray out;
  for (const CardLine& line : CardLines(card))
    if (SaysWho(line.name))
      out.append(line.name + line.params + ':' + line.value.toUtf8() + "\r\n");
  return out;
}

bool IsPersonLines(const QByteArray& lines) {
  const std::vector<CardLine> parsed = CardLines(lines);
  return !parsed.empty() && std::all_of(parsed.begin(), parsed.end(), [](const CardLine& line) {
    return SaysWho(line.name);
  }) && std::any_of(parsed.begin(), parsed.end(), [](const CardLine& line) {
    return line.name == "N" || line.name == "FN";
  });
}

QByteArray CardFingerprint(const QByteArray& card) {
  QList<QByteArray> lines;
  for (const CardLine& line : CardLines(card)) {
    if (line.name == "PRODID" || line.name == "REV" || line.name == "VERSION") continue;
    // Each parameter's values one by one and unquoted: servers write ";TYPE=WORK;TYPE=PREF" back
    // as ";TYPE=WORK,PREF", and quote a value only where it must be.
    QList<QByteArray> params;
    for (const QByteArray& param : SplitUnquoted(line.params, ';')) {
      if (param.isEmpty()) continue;
      const qsizetype equals = param.indexOf('=');
      const QByteArray name = equals < 0 ? QByteArray("TYPE") : param.left(equals);  // "TEL;WORK"
      for (QByteArray value : SplitUnquoted(param.mid(equals + 1), ','))
        params << name + '=' + value.replace('"', "");
    }
    std::sort(params.begin(), params.end());
    lines << line.name + ';' + params.join(';') + ':' + line.value.toUtf8();
  }
  std::sort(lines.begin(), lines.end());
  return lines.join('\n');
}

void HeldCards::Add(const QByteArray& bytes, const QString& resource, const QString& named) {
  const std::vector<CardLine> lines = CardLines(bytes);
  QString uid = named;
  for (const CardLine& line : lines)
    if (line.name == "UID" && named.isEmpty())
      uid = line.value.startsWith(u"urn:uuid:") ? line.value.mid(9) : line.value;
  // Only a card whose UID is a UUID, as the cards this program sends: a contact sent over
  // another card keeps the UUID it is sent with.
  if (uid.isEmpty() || contact::CardUuid(uid) != uid) return;
  const contact::Contact person = PersonOf(lines);
  const merge::Identity identity = merge::IdentityOf(person);
  const int index = int(cards_.size());
  cards_.push_back({{uid, resource}, identity});
  byUid_.insert(uid, index);
  std::vector<merge::MatchKey> keys;
  merge::MatchKeys(person, identity, false, keys);
  for (const merge::MatchKey& k : keys)
    if (k.rule == merge::MatchRule::kEmail || k.rule == merge::MatchRule::kPhone)
      byKey_.emplace(k.hash, index);
}

std::vector<int> HeldCards::Through(uint64_t key, const merge::Identity& identity) const {
  // The cards holding the value, in the order they were found.
  std::vector<int> holders;
  const auto [from, to] = byKey_.equal_range(key);
  for (auto it = from; it != to; ++it) holders.push_back(it->second);
  std::sort(holders.begin(), holders.end());
  holders.erase(std::unique(holders.begin(), holders.end()), holders.end());
  // The named cards and the contact (-1), the fullest names first, the contact after the cards
  // of as full a name.
  constexpr int kContact = -1;
  const auto identityOf = [&](int e) -> const merge::Identity& {
    return e == kContact ? identity : cards_[size_t(e)].identity;
  };
  std::vector<int> named;
  for (const int card : holders)
    if (identityOf(card).Named()) named.push_back(card);
  if (identity.Named()) named.push_back(kContact);
  std::stable_sort(named.begin(), named.end(), [&](int a, int b) {
    return NameParts(identityOf(a)) > NameParts(identityOf(b));
  });
  struct Group {
    merge::Identity identity;
    std::vector<int> members;
  };
  std::vector<Group> groups;
  for (const int e : named) {
    // As in the merge, a few groups at most are tried: an address on many cards is a role's.
    int match = -1;
    bool ambiguous = false;
    for (size_t g = 0; g < groups.size() && g < 8; ++g) {
      if (!merge::Compatible(groups[g].identity, identityOf(e))) continue;
      ambiguous = match >= 0;
      if (ambiguous) break;
      match = int(g);
    }
    if (ambiguous) {
      if (e == kContact) return {};
      continue;
    }
    if (match < 0) {
      groups.push_back({identityOf(e), {e}});
    } else {
      merge::Absorb(groups[size_t(match)].identity, identityOf(e));
      groups[size_t(match)].members.push_back(e);
    }
  }
  std::vector<int> cards;
  if (identity.Named()) {
    for (const Group& g : groups)
      for (const int e : g.members)
        if (e == kContact) cards = g.members;
    cards.erase(std::find(cards.begin(), cards.end(), kContact));
  } else if (groups.size() == 1) {
    cards = groups.front().members;
  }
  // The value's cards without a name join its one named group; where there is none, each other
  // (and a contact without a name).
  if (groups.size() <= 1)
    for (const int card : holders)
      if (!identityOf(card).Named() && merge::Compatible(identity, identityOf(card)))
        cards.push_back(card);
  std::sort(cards.begin(), cards.end());
  return cards;
}

int HeldCards::Find(const contact::Contact& c) const {
  if (const auto own = byUid_.constFind(contact::CardUuid(c.uid));
      byOwnUid_ && own != byUid_.constEnd() && !given_.contains(*own))
    return *own;
  const merge::Identity identity = merge::IdentityOf(c);
  std::vector<merge::MatchKey> keys;
  merge::MatchKeys(c, identity, false, keys);
  // A contact without a name is the person of the cards its values point at where they point at
  // the same: the cards every value with cards of a person gives.
  std::vector<int> common;
  bool first = true;
  for (const merge::MatchKey& k : keys) {
    if (k.rule != merge::MatchRule::kEmail && k.rule != merge::MatchRule::kPhone) continue;
    const std::vector<int> cards = Through(k.hash, identity);
    if (cards.empty()) continue;
    if (identity.Named()) {
      // The strongest value that tells.
      for (const int card : cards)
        if (!given_.contains(card)) return card;
      continue;
    }
    if (first) {
      common = cards;
      first = false;
    } else {
      std::vector<int> both;
      std::set_intersection(common.begin(), common.end(), cards.begin(), cards.end(),
                            std::back_inserter(both));
      common = std::move(both);
    }
  }
  for (const int card : common)
    if (!given_.contains(card)) return card;
  return -1;
}

const HeldCards::Card* HeldCards::Match(const contact::Contact& c) {
  const int card = Find(c);
  if (card < 0) return nullptr;
  given_.insert(card);
  return &cards_[size_t(card)].card;
}

void HeldCards::Give(const QString& uid) {
  if (const auto card = byUid_.constFind(uid); card != byUid_.constEnd()) given_.insert(*card);
}

bool HeldCards::ByPersonAlone(const contact::SourcedContact& c) const {
  const int card = Find(c.contact);
  if (card < 0) return false;
  const QString& uid = cards_[size_t(card)].card.uid;
  if (uid == contact::CardUuid(c.contact.uid)) return false;
  return std::none_of(c.origins.begin(), c.origins.end(), [&](const contact::Origin& o) {
    return !o.entry.isEmpty() && contact::CardUuid(o.entry) == uid;
  });
}

}  // namespace lumivex::destination
