// The vCard 2.1 record that both vCard forms write for each contact: always the same 22 lines,
// one property value or a fixed group of them per line, in the Windows code page of the user's
// locale, each line ended by CR LF.
#pragma once

#include "convert/AnsiTextFile.h"
#include "source/MailStore.h"

#include <QString>
#include <QStringView>

#include <array>

namespace lumivex {

// The contact properties a record reads, in the order the record first uses them.
enum class VCardField {
  LastName,
  FirstName,
  MiddleName,
  FullName,
  CompanyName,
  Department,
  JobTitle,
  Body,
  BusinessTelephoneNumber,
  HomeTelephoneNumber,
  MobileTelephoneNumber,
  PagerNumber,
  BusinessFaxNumber,
  HomeFaxNumber,
  OfficeLocation,
  BusinessAddressStreet,
  BusinessAddressCity,
  BusinessAddressState,
  BusinessAddressPostalCode,
  BusinessAddressCountry,
  HomeAddressStreet,
  HomeAddressCity,
  HomeAddressState,
  HomeAddressPostalCode,
  HomeAddressCountry,
  WebPage,
  Birthday,
  Email1Address,
  kCount
};

// The values of the record's fields, kept from one entry to the next of a run: a property that
// cannot be read leaves the value it had for the previous entry (empty before the first entry).
class VCardFields {
 public:
  // Reads every property of `entry`; a failing read keeps the field as it was.
  void Read(const ContactEntry& entry);
  const QString& operator[](VCardField field) const { return values_[static_cast<size_t>(field)]; }

 private:
  std::array<QString, static_cast<size_t>(VCardField::kCount)> values_;
};

// Writes the 22 lines of `entry`'s record to `output`, which stays open. `fields` carries the
// values of the run's previous entry for the properties that cannot be read.
void WriteVCardRecord(AnsiTextFile& output, const ContactEntry& entry, VCardFields& fields);

}  // namespace lumivex
