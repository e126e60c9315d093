#include "source/ContactProperties.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace lumivex {

// GUIDs as they lie in the file: the first three fields little-endian.
const storefile::Guid kPsetidAddress = {0x04, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00,
                                        0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
const storefile::Guid kPsPublicStrings = {0x29, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                          0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

namespace {

struct Tagged {
  uint32_t id;
  int slot;
};

constexpr std::array<Tagged, 61> kTagged = {{
    {0x001A, kMessageClass},
    {0x0E07, kMessageFlags},
    {0x1000, kBody},
    {0x1009, kRtfCompressed},
    {0x3001, kFullName},
    {0x3007, kCreationTime},
    {0x3008, kLastModificationTime},
    {0x3A02, kCallbackTelephoneNumber},
    {0x3A05, kSuffix},
    {0x3A06, kFirstName},
    {0x3A08, kBusinessTelephoneNumber},
    {0x3A09, kHomeTelephoneNumber},
    {0x3A0A, kInitials},
    {0x3A11, kLastName},
    {0x3A16, kCompanyName},
    {0x3A17, kJobTitle},
    {0x3A18, kDepartment},
    {0x3A19, kOfficeLocation},
    {0x3A1A, kPrimaryTelephoneNumber},
    {0x3A1B, kBusiness2TelephoneNumber},
    {0x3A1C, kMobileTelephoneNumber},
    {0x3A1D, kRadioTelephoneNumber},
    {0x3A1E, kCarTelephoneNumber},
    {0x3A1F, kOtherTelephoneNumber},
    {0x3A21, kPagerNumber},
    {0x3A23, kOtherFaxNumber},  // PidTagPrimaryFaxNumber: the form's "Other Fax"
    {0x3A24, kBusinessFaxNumber},
    {0x3A25, kHomeFaxNumber},
    {0x3A2C, kTelexNumber},
    {0x3A2D, kIsdnNumber},
    {0x3A2E, kAssistantTelephoneNumber},
    {0x3A2F, kHome2TelephoneNumber},
    {0x3A30, kAssistantName},
    {0x3A41, kAnniversary},
    {0x3A42, kBirthday},
    {0x3A44, kMiddleName},
    {0x3A45, kTitle},
    {0x3A46, kProfession},
    {0x3A48, kSpouse},
    {0x3A4B, kTtyTddPhoneNumber},
    {0x3A4D, kGender},
    {0x3A4E, kManagerName},
    {0x3A4F, kNickname},
    {0x3A50, kPersonalHomePage},
    {0x3A51, kBusinessHomePage},
    {0x3A57, kCompanyMainTelephoneNumber},
    {0x3A58, kChildren},
    {0x3A59, kHomeAddressCity},
    {0x3A5A, kHomeAddressCountry},
    {0x3A5B, kHomeAddressPostalCode},
    {0x3A5C, kHomeAddressState},
    {0x3A5D, kHomeAddressStreet},
    {0x3A5E, kHomeAddressPostOfficeBox},
    {0x3A5F, kOtherAddressCity},
    {0x3A60, kOtherAddressCountry},
    {0x3A61, kOtherAddressPostalCode},
    {0x3A62, kOtherAddressState},
    {0x3A63, kOtherAddressStreet},
    {0x3A64, kOtherAddressPostOfficeBox},
    {0x3FDE, kInternetCodepage},
    {0x3FFD, kMessageCodepage},
}};

// Named properties of PSETID_Address, by number.
constexpr std::array<Tagged, 34> kAddressSet = {{
    {0x8005, kFileUnder},
    {0x801A, kHomeAddressFormatted},
    {0x801B, kBusinessAddressFormatted},
    {0x801C, kOtherAddressFormatted},
    {0x8022, kPostalAddressId},
    {0x802B, kWebPage},
    {0x8045, kBusinessAddressStreet},
    {0x8046, kBusinessAddressCity},
    {0x8047, kBusinessAddressState},
    {0x8048, kBusinessAddressPostalCode},
    {0x8049, kBusinessAddressCountry},
    {0x804A, kBusinessAddressPostOfficeBox},
    {0x8053, kDistributionListName},
    {0x8054, kDistributionListOneOffMembers},
    {0x8055, kDistributionListMembers},
    {0x8062, kInstantMessagingAddress},
    {0x8080, kEmail1DisplayName},
    {0x8082, kEmail1AddressType},
    {0x8083, kEmail1Address},
    {0x8084, kEmail1OriginalDisplayName},
    {0x8085, kEmail1OriginalEntryId},
    {0x8090, kEmail2DisplayName},
    {0x8092, kEmail2AddressType},
    {0x8093, kEmail2Address},
    {0x8094, kEmail2OriginalDisplayName},
    {0x8095, kEmail2OriginalEntryId},
    {0x80A0, kEmail3DisplayName},
    {0x80A2, kEmail3AddressType},
    {0x80A3, kEmail3Address},
    {0x80A4, kEmail3OriginalDisplayName},
    {0x80A5, kEmail3OriginalEntryId},
    {0x80D8, kFreeBusyLocation},
    {0x80DE, kBirthdayLocal},
    {0x80DF, kAnniversaryLocal},
}};

constexpr std::array<std::string_view, kReadableSlots> kNames = {
    "FirstName",
    "LastName",
    "MiddleName",
    "FullName",
    "CompanyName",
    "Department",
    "JobTitle",
    "Title",
    "Suffix",
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
    "Anniversary",
    "Email1Address",
    "Email2Address",
    "Email3Address",
    "ManagerName",
    "AssistantName",
    "Spouse",
    "Children",
    "Categories",
    "MessageClass",
};

}  // namespace

namespace {

int SlotByLength(std::string_view name);

}  // namespace

int SlotForName(std::string_view name) {
  // Asked for every field of every entry, and nearly always with a name the caller keeps as a
  // constant (most often the slot's own name, from SlotName): the last slot found for a name's
  // place in memory is tried first, and taken when it is that slot's own name or the name there
  // still reads the same. The places are told apart by four bytes, so that the names of one
  // list of constants do not take each other's place.
  struct Known {
    const char* data = nullptr;
    size_t size = 0;
    int slot = -1;
  };
  thread_local std::array<Known, 256> known;
  Known& k = known[(reinterpret_cast<uintptr_t>(name.data()) >> 2) & 255];
  if (k.slot >= 0 && k.data == name.data() && k.size == name.size()) {
    const std::string_view own = kNames[size_t(k.slot)];
    if (own.data() == name.data() || own == name) return k.slot;
  }
  const int slot = SlotByLength(name);
  if (slot >= 0) k = {name.data(), name.size(), slot};
  return slot;
}

namespace {

int SlotByLength(std::string_view name) {
  // The names are grouped by length, and only the few of the asked length are compared, which
  // is cheaper than hashing the name.
  constexpr size_t kLongest = 64;
  struct ByLength {
    std::array<std::vector<int>, kLongest + 1> lists;
  };
  static const ByLength byLength = [] {
    ByLength table;
    for (int slot = 0; slot < kReadableSlots; ++slot)
      if (kNames[size_t(slot)].size() <= kLongest)
        table.lists[kNames[size_t(slot)].size()].push_back(slot);
    return table;
  }();
  if (name.size() > kLongest) return -1;
  for (int slot : byLength.lists[name.size()])
    if (kNames[size_t(slot)] == name) return slot;
  return -1;
}

}  // namespace

std::string_view SlotName(int slot) {
  return slot >= 0 && slot < kReadableSlots ? kNames[static_cast<size_t>(slot)]
                                            : std::string_view();
}

int SlotForTag(uint32_t id) {
  // Asked for every property of every entry: one look-up in a table by id, made once.
  struct BySlot {
    std::array<int8_t, 0x10000> byId;
  };
  static const std::unique_ptr<BySlot> table = [] {
    auto made = std::make_unique<BySlot>();
    made->byId.fill(-1);
    static_assert(kSlotCount <= 127, "a slot must fit the table's bytes");
    for (const Tagged& t : kTagged)
      if (t.id < 0x10000) made->byId[t.id] = static_cast<int8_t>(t.slot);
    return made;
  }();
  return id < 0x10000 ? table->byId[id] : -1;
}

int SlotForNamed(const storefile::NamedKey& key) {
  if (key.byName) return key.guid == kPsPublicStrings && key.name == u"Keywords" ? kCategories : -1;
  if (key.guid != kPsetidAddress) return -1;
  for (const Tagged& named : kAddressSet)
    if (named.id == key.number) return named.slot;
  return -1;
}

bool SlotIsNamed(int slot) {
  if (slot == kCategories) return true;
  return std::any_of(kAddressSet.begin(), kAddressSet.end(),
                     [slot](const Tagged& named) { return named.slot == slot; });
}

}  // namespace lumivex
