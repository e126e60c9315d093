// One contact of the full model as a vCard 4.0 (RFC 6350) or vCard 3.0 (RFC 2426) card, in
// UTF-8 with CR LF line ends and lines folded at 75 octets. Text values are escaped as each
// version wants: \ , ; and line breaks (as \n) in 3.0 and in the components of N, ADR and ORG;
// in 4.0 text a ";" stands as it is.
//
// What each field becomes (4.0 / 3.0 where they differ):
//   name parts            N (family;given;middle;prefix;suffix), FN never empty (display name,
//                         else the name parts, file-as, nickname, company, first e-mail address)
//   nickname, job title   NICKNAME, TITLE; profession as ROLE
//   company, department,  ORG (company;department;office location): Evolution takes the third
//   office location       component for its office field. KDE's KContacts keeps the office in
//                         X-KADDRESSBOOK-X-Office (its Addressee::office), written beside it
//   file-as               X-EVOLUTION-FILE-AS (Evolution's "file under"), and the sort string
//                         KContacts reads: SORT-STRING in 3.0, SORT-AS on N in 4.0
//   initials              X-KADDRESSBOOK-X-Initials: neither reader has a field for initials;
//                         KContacts keeps it as a custom field and Evolution carries it along
//   e-mail 1..3           EMAIL, the first with PREF=1 / TYPE=INTERNET,PREF
//   telephones            TEL with TYPE work/home and voice, cell, fax, pager, car, isdn,
//                         textphone (TTY/TDD); primary with PREF; assistant, callback, company
//                         main, radio and telex with the x- types Evolution reads
//   addresses             ADR;TYPE=work|home|other (po box;;street;city;state;code;country),
//                         the mailing address with PREF
//   web pages             URL;TYPE=work (business) and URL;TYPE=home (personal); a merged
//                         contact's further pages as URL without a type
//   birthday, anniversary BDAY / ANNIVERSARY as YYYYMMDD; 3.0: BDAY, X-ANNIVERSARY and
//                         X-EVOLUTION-ANNIVERSARY as YYYY-MM-DD
//   gender                GENDER:F|M; 3.0 also X-GENDER:Female|Male (Evolution's)
//   spouse, children,     RELATED;VALUE=text with TYPE spouse, child, agent (assistant) and
//   assistant, manager    x-manager / X-EVOLUTION-SPOUSE, X-CHILD, X-EVOLUTION-ASSISTANT,
//                         X-EVOLUTION-MANAGER
//   categories, notes     CATEGORIES, NOTE; IM address as IMPP ("im:" put before an address
//                         without a scheme), free/busy URL as FBURL
//   IM address by scheme  also as the property Evolution files that service under (it reads no
//                         IMPP): xmpp: X-JABBER, skype: X-SKYPE, aim: X-AIM, ymsgr: X-YAHOO,
//                         msnim: X-MSN, icq: X-ICQ, gg: X-GADUGADU, gtalk: X-GOOGLE-TALK,
//                         groupwise: X-GROUPWISE, matrix: X-MATRIX, sip: X-SIP; the address
//                         without its scheme. KContacts reads both and lists the address twice
//   picture               PHOTO;VALUE=uri as a data: URI / PHOTO;ENCODING=b;TYPE=JPEG
//   last modified, id     REV (UTC), UID (urn:uuid: / the bare UUID)
//   distribution list     KIND:group with MEMBER per member / X-ADDRESSBOOKSERVER-KIND:group with
//                         X-ADDRESSBOOKSERVER-MEMBER: urn:uuid: of the member's card where the
//                         book has one (MemberCards), else mailto: the member's address, or
//                         urn:uuid: made from the name of a member without one. Both versions
//                         also list the members in the NOTE, one "Name <address>" a line, after
//                         the list's own note, so that their names are kept. 3.0 also makes it
//                         one of Evolution's lists: X-EVOLUTION-LIST and an EMAIL per member
//                         with an address, in the X-EVOLUTION-DEST-* parameters Evolution reads
#pragma once

#include "contact/CardUuid.h"
#include "contact/Contact.h"
#include "contact/GroupMembers.h"

#include <QByteArray>
#include <QString>

namespace lumivex::contact {

enum class VCardVersion { k30, k40 };

// Appends the card of `contact` to `out`; a list's members are named by the cards in `cards`
// where it has theirs.
void AppendVCard(QByteArray& out, const Contact& contact, VCardVersion version,
                 const MemberCards* cards = nullptr);

// The name a contact is shown under: the display name, else the name parts, file-as, nickname,
// company, first e-mail address; "Unnamed contact" when all of them are empty.
QString ShownName(const Contact& contact);

// The note as written: the contact's notes; for a list, its members after them, a blank line
// between, "Name <address>" a line (only what is known).
QString NoteWithMembers(const Contact& contact);

}  // namespace lumivex::contact
