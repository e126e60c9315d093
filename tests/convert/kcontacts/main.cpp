// lumivex-kcontacts-read [--code-page N] FILE...: reads every vCard of the files with KContacts
// and prints them as a JSON array, one object per card, with every field KContacts knows: all
// e-mail addresses, phones with their types, addresses, dates, nickname, role, categories, gender,
// the picture's bytes (base64), and the single fields of a vCard 2.1 card (workPhone ... url). The
// files are UTF-8 (vCard 3.0 and 4.0) or, with --code-page, in that Windows code page (2.1).
#include <KContacts/Addressee>
#include <KContacts/Gender>
#include <KContacts/VCardConverter>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextCodec>

#include <cstdio>

namespace {

QJsonArray Address(const KContacts::Address& a) {
  return {a.postOfficeBox(), a.extended(),   a.street(), a.locality(),
          a.region(),        a.postalCode(), a.country()};
}

QString Phone(const KContacts::Addressee& card, int wanted) {
  for (const KContacts::PhoneNumber& phone : card.phoneNumbers()) {
    const int type = phone.type();
    const int kind = type & (KContacts::PhoneNumber::Cell | KContacts::PhoneNumber::Pager |
                             KContacts::PhoneNumber::Fax | KContacts::PhoneNumber::Home |
                             KContacts::PhoneNumber::Work);
    if (kind == wanted) return phone.number();
  }
  return {};
}

QString Date(const QDate& d) {
  return d.isValid() ? d.toString(Qt::ISODate) : QString();
}

QJsonObject Full(const KContacts::Addressee& card) {
  using P = KContacts::PhoneNumber;
  QJsonObject o;
  o["family"] = card.familyName();
  o["given"] = card.givenName();
  o["additional"] = card.additionalName();
  o["prefixes"] = card.prefix();
  o["suffixes"] = card.suffix();
  o["fn"] = card.formattedName();
  o["nickname"] = card.nickName();
  o["org"] = card.organization();
  o["orgUnit"] = card.department();
  o["title"] = card.title();
  o["role"] = card.role();
  o["note"] = card.note();
  o["emails"] = QJsonArray::fromStringList(card.emails());
  QJsonArray phones;
  const std::pair<int, const char*> flags[] = {
      {P::Home, "HOME"}, {P::Work, "WORK"}, {P::Pref, "PREF"}, {P::Voice, "VOICE"}, {P::Fax, "FAX"},
      {P::Cell, "CELL"}, {P::Car, "CAR"},   {P::Isdn, "ISDN"}, {P::Pager, "PAGER"}};
  for (const P& phone : card.phoneNumbers()) {
    QJsonArray types;
    for (const auto& [flag, name] : flags)
      if (phone.type() & flag) types.append(QString::fromLatin1(name));
    phones.append(QJsonObject{{"number", phone.number()}, {"types", types}});
  }
  o["phones"] = phones;
  o["workAdr"] = Address(card.address(KContacts::Address::Work));
  o["homeAdr"] = Address(card.address(KContacts::Address::Home));
  QJsonArray addresses;
  for (const KContacts::Address& a : card.addresses()) addresses.append(Address(a));
  o["addresses"] = addresses;
  o["birthday"] = Date(card.birthday().date());
  o["anniversary"] = Date(card.anniversary());
  o["categories"] = card.categories().join(u',');
  // The picture as the card holds it: its bytes, or the URI it is given by.
  o["photo"] = card.photo().isIntern() ? QString::fromLatin1(card.photo().rawData().toBase64())
                                       : card.photo().url();
  o["photoImage"] =
      QStringLiteral("%1x%2").arg(card.photo().data().width()).arg(card.photo().data().height());
  o["uid"] = card.uid();
  o["gender"] = card.gender().gender();
  o["workPhone"] = Phone(card, P::Work);
  o["homePhone"] = Phone(card, P::Home);
  o["cellPhone"] = Phone(card, P::Cell);
  o["pager"] = Phone(card, P::Pager);
  o["workFax"] = Phone(card, P::Work | P::Fax);
  o["homeFax"] = Phone(card, P::Home | P::Fax);
  o["workLabel"] = card.address(KContacts::Address::Work).label();
  o["email"] = card.preferredEmail();
  o["url"] = card.url().url().toString();
  o["office"] = card.office();
  o["sortString"] = card.sortString();
  QJsonArray impps;
  for (const KContacts::Impp& impp : card.imppList()) impps.append(impp.address().toString());
  o["impps"] = impps;
  o["customs"] = QJsonArray::fromStringList(card.customs());
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  QTextCodec* codec = nullptr;
  if (argc >= 3 && QByteArray(argv[1]) == "--code-page") {
    const QByteArray codePage(argv[2]);
    codec = QTextCodec::codecForName("windows-" + codePage);
    if (codec == nullptr) codec = QTextCodec::codecForName("CP" + codePage);
    if (codec == nullptr) {
      std::fprintf(stderr, "unknown code page %s\n", argv[2]);
      return 1;
    }
    first = 3;
  }
  QJsonArray cards;
  for (int i = first; i < argc; ++i) {
    QFile file(QString::fromLocal8Bit(argv[i]));
    if (!file.open(QIODevice::ReadOnly)) {
      std::fprintf(stderr, "cannot open %s\n", argv[i]);
      return 1;
    }
    const QByteArray bytes = file.readAll();
    for (const KContacts::Addressee& card :
         KContacts::VCardConverter().parseVCards(codec ? codec->toUnicode(bytes).toUtf8() : bytes))
      cards.append(Full(card));
  }
  std::fputs(QJsonDocument(cards).toJson(QJsonDocument::Indented).constData(), stdout);
  return 0;
}
