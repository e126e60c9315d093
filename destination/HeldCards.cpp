#include "destination/HeldCards.h"

#include "contact/VCardWriter.h"

#include <QStringList>

namespace lumivex::destination {

namespace {

QString EmailKey(const QString& address) {
  QString a = address.trimmed();
  if (a.startsWith(u"mailto:", Qt::CaseInsensitive)) a.remove(0, 7);
  return a.isEmpty() ? QString() : QStringLiteral("e:") + a.toCaseFolded();
}

// The digits of a number without the extension, and with "00" taken as "+": how two numbers
// written apart ("+46 8 123 456", "0046-8-123456") are compared. Empty below five digits.
QString PhoneDigits(const QString& number) {
  QString digits;
  for (const QChar c : number) {
    if (c.isDigit())
      digits += QChar(u'0' + c.digitValue());
    else if (c.isLetter())
      break;  // "ext. 12": the extension
  }
  if (digits.startsWith(u"00")) digits.remove(0, 2);
  return digits.size() >= 5 ? digits : QString();
}

QString NameKey(const QString& name, const QString& number) {
  const QString n = name.simplified().toCaseFolded();
  const QString digits = PhoneDigits(number);
  return n.isEmpty() || digits.isEmpty() ? QString() : QStringLiteral("n:%1|%2").arg(n, digits);
}

// A vCard's unfolded lines, each as NAME (upper case, without group and parameters) and value.
std::vector<std::pair<QByteArray, QString>> Lines(const QByteArray& card) {
  QByteArray unfolded = card;
  unfolded.replace("\r\n ", "").replace("\r\n\t", "").replace("\n ", "");
  std::vector<std::pair<QByteArray, QString>> out;
  for (const QByteArray& raw : unfolded.split('\n')) {
    const QByteArray line = raw.trimmed();
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0) continue;
    QByteArray name = line.left(colon).split(';').front().toUpper();
    if (const qsizetype dot = name.lastIndexOf('.'); dot >= 0) name = name.mid(dot + 1);
    QString value = QString::fromUtf8(line.mid(colon + 1));
    value.replace(QStringLiteral("\\,"), QStringLiteral(",")).replace(QStringLiteral("\\;"), ";");
    out.emplace_back(std::move(name), std::move(value));
  }
  return out;
}

}  // namespace

void HeldCards::Add(const QByteArray& bytes, const QString& resource) {
  QString uid, name;
  QStringList emails, phones;
  for (const auto& [key, value] : Lines(bytes)) {
    if (key == "UID")
      uid = value.startsWith(u"urn:uuid:") ? value.mid(9) : value;
    else if (key == "FN")
      name = value;
    else if (key == "EMAIL")
      emails << value;
    else if (key == "TEL")
      phones << (value.startsWith(u"tel:") ? value.mid(4) : value);
  }
  // Only a card whose UID is a UUID, as the cards this program sends: a contact sent over
  // another card keeps the UUID it is sent with.
  if (uid.isEmpty() || contact::CardUuid(uid) != uid) return;
  const int index = int(cards_.size());
  cards_.push_back({uid, resource});
  for (const QString& e : emails)
    if (const QString k = EmailKey(e); !k.isEmpty()) byKey_.insert(k, index);
  for (const QString& p : phones)
    if (const QString k = NameKey(name, p); !k.isEmpty()) byKey_.insert(k, index);
}

const HeldCards::Card* HeldCards::Match(const contact::Contact& c) {
  QStringList keys;
  for (const contact::Email& e : c.emails) keys << EmailKey(e.address);
  const QString name = contact::ShownName(c);
  for (const contact::Phone& p : c.phones) keys << NameKey(name, p.number);
  for (const QString& k : keys) {
    if (k.isEmpty()) continue;
    const auto it = byKey_.constFind(k);
    if (it == byKey_.constEnd() || given_.contains(*it)) continue;
    given_.insert(*it);
    return &cards_[size_t(*it)];
  }
  return nullptr;
}

}  // namespace lumivex::destination
