#include "convert/VCardRecord.h"

#include <iterator>
#include <string_view>

namespace lumivex {

namespace {

// The names the mail store knows the properties by, in VCardField's order.
constexpr std::string_view kPropertyNames[] = {
    "LastName",
    "FirstName",
    "MiddleName",
    "FullName",
    "CompanyName",
    "Department",
    "JobTitle",
    "Body",
    "BusinessTelephoneNumber",
    "HomeTelephoneNumber",
    "MobileTelephoneNumber",
    "PagerNumber",
    "BusinessFaxNumber",
    "HomeFaxNumber",
    "OfficeLocation",
    "BusinessAddressStreet",
    "BusinessAddressCity",
    "BusinessAddressState",
    "BusinessAddressPostalCode",
    "BusinessAddressCountry",
    "HomeAddressStreet",
    "HomeAddressCity",
    "HomeAddressState",
    "HomeAddressPostalCode",
    "HomeAddressCountry",
    "WebPage",
    "Birthday",
    "Email1Address",
};
static_assert(std::size(kPropertyNames) == static_cast<size_t>(VCardField::kCount));

}  // namespace

void VCardFields::Read(const ContactEntry& entry) {
  for (size_t i = 0; i < values_.size(); ++i) entry.Read(kPropertyNames[i], values_[i]);
}

void WriteVCardRecord(AnsiTextFile& output, const ContactEntry& entry, VCardFields& fields) {
  fields.Read(entry);
  using F = VCardField;
  const auto& v = fields;
  const QStringView semi = u";";
  const QStringView crlf = u"=0D=0A";

  output.WriteLine(u"BEGIN:VCARD");
  output.WriteLine(u"VERSION:2.1");
  output.WriteLine({u"N:", v[F::LastName], semi, v[F::FirstName], semi, v[F::MiddleName]});
  output.WriteLine({u"FN:", v[F::FullName]});
  output.WriteLine({u"ORG:", v[F::CompanyName], semi, v[F::Department]});
  output.WriteLine({u"TITLE:", v[F::JobTitle]});
  output.WriteLine({u"NOTE:", v[F::Body]});
  output.WriteLine({u"TEL;WORK;VOICE:", v[F::BusinessTelephoneNumber]});
  output.WriteLine({u"TEL;HOME;VOICE:", v[F::HomeTelephoneNumber]});
  output.WriteLine({u"TEL;CELL;VOICE:", v[F::MobileTelephoneNumber]});
  output.WriteLine({u"TEL;PAGER;VOICE:", v[F::PagerNumber]});
  output.WriteLine({u"TEL;WORK;FAX:", v[F::BusinessFaxNumber]});
  output.WriteLine({u"TEL;HOME;FAX:", v[F::HomeFaxNumber]});
  // The post-office box stays empty; the office location takes the extended-address field.
  output.WriteLine({u"ADR;WORK:;", v[F::OfficeLocation], semi, v[F::BusinessAddressStreet], semi,
                    v[F::BusinessAddressCity], semi, v[F::BusinessAddressState], semi,
                    v[F::BusinessAddressPostalCode], semi, v[F::BusinessAddressCountry]});
  // Postal labels: only the fixed text is quoted-printable, the values go in as they are.
  output.WriteLine({u"LABEL;WORK;ENCODING=QUOTED-PRINTABLE:BusinessOffice=0D=0A",
                    v[F::BusinessAddressStreet], crlf, v[F::BusinessAddressCity], u", ",
                    v[F::BusinessAddressState], u" ", v[F::BusinessAddressPostalCode], crlf,
                    v[F::BusinessAddressCountry]});
  output.WriteLine({u"ADR;HOME:;;", v[F::HomeAddressStreet], semi, v[F::HomeAddressCity], semi,
                    v[F::HomeAddressState], semi, v[F::HomeAddressPostalCode], semi,
                    v[F::HomeAddressCountry]});
  output.WriteLine({u"LABEL;HOME;ENCODING=QUOTED-PRINTABLE:", v[F::HomeAddressStreet], crlf,
                    v[F::HomeAddressCity], u", ", v[F::HomeAddressState], u" ",
                    v[F::HomeAddressPostalCode], crlf, v[F::HomeAddressCountry]});
  output.WriteLine({u"URL;HOME:", v[F::WebPage]});
  output.WriteLine({u"URL;WORK:", v[F::WebPage]});
  output.WriteLine({u"BDAY:", v[F::Birthday]});
  output.WriteLine({u"EMAIL;PREF;INTERNET:", v[F::Email1Address]});
  output.WriteLine(u"End:VCARD");
}

}  // namespace lumivex
