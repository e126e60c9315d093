// The contact properties the writers read, by the names the mail client gives them, and where
// each lives in a personal-folder file: a tagged property with a fixed id, or a named property
// found through the store's name-to-id map by its property set and number (or name).
#pragma once

#include "source/StoreFile.h"

#include <cstdint>
#include <string_view>

namespace lumivex {

// Every property an entry is indexed for: the readable ones first, then helpers used to decode
// them (address types, code pages, the local-time dates).
enum ContactSlot : int {
  kFirstName,
  kLastName,
  kMiddleName,
  kFullName,
  kCompanyName,
  kDepartment,
  kJobTitle,
  kTitle,
  kSuffix,
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
  kAnniversary,
  kEmail1Address,
  kEmail2Address,
  kEmail3Address,
  kManagerName,
  kAssistantName,
  kSpouse,
  kChildren,
  kCategories,
  kMessageClass,
  kReadableSlots,  // the slots above can be read by name

  kBusinessHomePage = kReadableSlots,  // where WebPage is often kept as well
  kEmail1AddressType,
  kEmail2AddressType,
  kEmail3AddressType,
  kEmail1OriginalDisplayName,
  kEmail2OriginalDisplayName,
  kEmail3OriginalDisplayName,
  kBirthdayLocal,
  kAnniversaryLocal,
  kMessageCodepage,
  kInternetCodepage,

  // The rest of the full contact record (ContactEntry::ReadContact).
  kRtfCompressed,
  kMessageFlags,
  kLastModificationTime,
  kCreationTime,
  kFileUnder,
  kNickname,
  kInitials,
  kProfession,
  kGender,
  kPersonalHomePage,
  kInstantMessagingAddress,
  kFreeBusyLocation,
  kPostalAddressId,
  kBusiness2TelephoneNumber,
  kHome2TelephoneNumber,
  kCarTelephoneNumber,
  kOtherFaxNumber,
  kAssistantTelephoneNumber,
  kCallbackTelephoneNumber,
  kCompanyMainTelephoneNumber,
  kIsdnNumber,
  kOtherTelephoneNumber,
  kPrimaryTelephoneNumber,
  kRadioTelephoneNumber,
  kTelexNumber,
  kTtyTddPhoneNumber,
  kBusinessAddressPostOfficeBox,
  kHomeAddressPostOfficeBox,
  kOtherAddressStreet,
  kOtherAddressCity,
  kOtherAddressState,
  kOtherAddressPostalCode,
  kOtherAddressCountry,
  kOtherAddressPostOfficeBox,
  kHomeAddressFormatted,
  kBusinessAddressFormatted,
  kOtherAddressFormatted,
  kEmail1DisplayName,
  kEmail2DisplayName,
  kEmail3DisplayName,
  kEmail1OriginalEntryId,
  kEmail2OriginalEntryId,
  kEmail3OriginalEntryId,
  kDistributionListName,
  kDistributionListMembers,
  kDistributionListOneOffMembers,
  kSlotCount,
};

// The slot a readable property name stands for, -1 for a name no entry has.
int SlotForName(std::string_view name);
// The name of a readable slot.
std::string_view SlotName(int slot);

// The slot of a tagged property id (< 0x8000), -1 when no slot wants it.
int SlotForTag(uint32_t id);
// The slot of a named property, -1 when no slot wants it. The property set is part of the
// match: the same number in another set is another property.
int SlotForNamed(const storefile::NamedKey& key);
// Whether a slot's property is a named one, found only through the store's name-to-id map.
bool SlotIsNamed(int slot);

// The property sets of contact properties.
extern const storefile::Guid kPsetidAddress;    // {00062004-0000-0000-C000-000000000046}
extern const storefile::Guid kPsPublicStrings;  // {00020329-0000-0000-C000-000000000046}

}  // namespace lumivex
