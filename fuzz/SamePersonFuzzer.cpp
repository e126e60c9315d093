// Fuzz target of who is the same person: the merge's rules on two contacts of arbitrary texts
// (names, e-mail addresses, telephone numbers, company, birthday; arbitrary UTF-16 units, lone
// surrogates included, or arbitrary bytes read as UTF-8), their keys, their comparison and their
// merging; and the cards a destination holds read from arbitrary bytes (what a server sends) and
// matched to both. Checks: the comparison of two identities is the same both ways, and a contact
// written as a card by our writer and read back is matched to that card where it holds an
// e-mail address (the cards a send finds without its record are mostly its own).
#include "contact/VCardWriter.h"
#include "destination/HeldCards.h"
#include "fuzz/FuzzInput.h"
#include "merge/MergeRules.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using namespace lumivex;

contact::Contact Person(FuzzedDataProvider& in) {
  contact::Contact c;
  for (QString* part :
       {&c.givenName, &c.surname, &c.middleName, &c.suffix, &c.displayName, &c.company})
    if (in.ConsumeBool()) *part = fuzz::ArbitraryText(in, 40);
  for (int n = in.ConsumeIntegralInRange(0, 3); n > 0; --n)
    c.emails.push_back({fuzz::ArbitraryText(in, 40), {}, QStringLiteral("SMTP")});
  for (int n = in.ConsumeIntegralInRange(0, 3); n > 0; --n)
    c.phones.push_back({static_cast<contact::PhoneKind>(in.ConsumeIntegralInRange(0, 18)),
                        fuzz::ArbitraryText(in, 40)});
  if (in.ConsumeBool())
    c.birthday = {in.ConsumeIntegralInRange(1, 2100), in.ConsumeIntegralInRange(1, 12),
                  in.ConsumeIntegralInRange(1, 31)};
  c.isGroup = in.ConsumeIntegralInRange(0, 15) == 0;
  c.uid = QStringLiteral("00000000-0000-4000-8000-%1")
              .arg(in.ConsumeIntegral<uint32_t>(), 12, 16, QLatin1Char('0'));
  return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const contact::Contact a = Person(in), b = Person(in);
  const merge::Identity ia = merge::IdentityOf(a), ib = merge::IdentityOf(b);
  if (merge::Compatible(ia, ib) != merge::Compatible(ib, ia)) {
    std::fprintf(stderr, "two identities compare otherwise one way than the other\n");
    std::abort();
  }
  (void)merge::OnlySurnameDiffers(ia, ib);
  std::vector<merge::MatchKey> keys;
  merge::MatchKeys(a, ia, true, keys);
  merge::MatchKeys(b, ib, true, keys);
  for (const contact::Contact* c : {&a, &b}) {
    (void)merge::ComparableName(*c);
    for (const contact::Phone& p : c->phones) (void)merge::ComparablePhone(p.number, 49);
  }
  contact::Contact merged = a;
  QStringList dropped;
  merge::Combiner(merged).Add(b, &dropped);

  // The rest of the input as a card a server holds, and `a` as our writer writes it.
  destination::HeldCards held;
  held.Add(QByteArray::fromStdString(in.ConsumeRemainingBytesAsString()), QStringLiteral("theirs"));
  (void)held.Match(b);
  destination::HeldCards own;
  QByteArray card;
  contact::AppendVCard(card, a, contact::VCardVersion::k40);
  own.Add(card, QStringLiteral("own"));
  // Where `a` holds an address, in texts a card can hold as they are: no lone surrogate (UTF-8
  // has no form for one) and no control character (the writer leaves them out).
  bool address = false, whole = true;
  for (const contact::Email& e : a.emails) address = address || merge::EmailKey(e.address) != 0;
  const auto keeps = [&](const QString& t) {
    whole = whole && QString::fromUtf8(t.toUtf8()) == t;
    for (const QChar c : t)
      whole = whole && !((c.unicode() < 0x20 && c != u'\t' && c != u'\r' && c != u'\n') ||
                         c.unicode() == 0x7F);
  };
  for (const QString* part : {&a.givenName, &a.surname, &a.middleName, &a.suffix, &a.displayName})
    keeps(*part);
  for (const contact::Email& e : a.emails) keeps(e.address);
  if (address && whole && !a.isGroup && !own.Match(a)) {
    std::fprintf(stderr, "a contact is not matched to its own card:\n%s\n", card.constData());
    std::abort();
  }
  return 0;
}
