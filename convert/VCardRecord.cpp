#include "convert/VCardRecord.h"

#include "source/ContactProperties.h"

#include <iterator>
#include <string_view>

namespace lumivex {

namespace {

// The properties the record reads, in VCardField's order; the store layer keeps their names.
constexpr int kFieldSlots[] = {
    kLastName,
    kFirstName,
    kMiddleName,
    kFullName,
    kCompanyName,
    kDepartment,
    kJobTitle,
    kBody,
    kBusinessTelephoneNumber,
    kHomeTelephoneNumber,
    kMobileTelephoneNumber,
    kPagerNumber,
    kBusinessFaxNumber,
    kHomeFaxNumber,
    kOfficeLocation,
    kBusinessAddressStreet,
    kBusinessAddressCity,
    kBusinessAddressState,
    kBusinessAddressPostalCode,
    kBusinessAddressCountry,
    kHomeAddressStreet,
    kHomeAddressCity,
    kHomeAddressState,
    kHomeAddressPostalCode,
    kHomeAddressCountry,
    kWebPage,
    kBirthday,
    kEmail1Address,
};
static_assert(std::size(kFieldSlots) == static_cast<size_t>(VCardField::kCount));

}  // namespace

void VCardFields::Read(const ContactEntry& entry) {
  QString why;  // a field that cannot be read keeps its value: the reason is not needed here
  entry.ReadFields(kFieldSlots, values_.data(), why);
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
