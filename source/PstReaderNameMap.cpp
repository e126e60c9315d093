// [MS-PST] 2.4.7 Named property lookup map: the store's name-to-id map (its GUID, entry and string
// streams) read into what each local id from 0x8000 up stands for.
#include "source/PstReader.h"
#include "source/PstReaderLayout.h"

#include <algorithm>

namespace lumivex::pst {

const std::unordered_map<uint16_t, NameEntry>& PstReader::NameMap() {
  if (names_) return *names_;
  std::unordered_map<uint16_t, NameEntry> map;
  const auto node = FindNode(kNidNameToIdMap);
  if (!node) Damaged("the store has no name-to-id map");
  const PropertySet properties = ReadProperties(*node);
  auto find = [&](uint16_t id) -> const PropertyRecord* {
    for (const auto& p : properties.records)
      if (p.id == id) return &p;
    return nullptr;
  };
  auto stream = [&](uint16_t id) -> std::span<const uint8_t> {
    const PropertyRecord* p = find(id);
    return p ? p->value : std::span<const uint8_t>{};
  };
  // A map always holds its bucket count and its entry stream; without them the node read as the
  // map is another node's data, and every named property of every entry would go unnamed.
  const PropertyRecord* bucketCount = find(kNameIdBucketCount);
  if (!bucketCount || bucketCount->value.size() != 4 || !find(kNameIdEntries))
    Damaged("the name-to-id map holds no bucket count or no entry stream");
  const auto guids = stream(kNameIdGuids);
  const auto entries = stream(kNameIdEntries);
  const auto strings = stream(kNameIdStrings);
  if (entries.size() % 8 != 0 || guids.size() % 16 != 0)
    Damaged("the name-to-id map's entry or GUID stream has a size no whole number of records");
  const size_t guidCount = guids.size() / 16;
  for (size_t at = 0; at < entries.size(); at += 8) {
    NameEntry entry;
    const uint32_t key = U32(entries, at);
    const uint16_t guidAndKind = U16(entries, at + 4);
    const uint16_t index = U16(entries, at + 6);
    const uint16_t guid = guidAndKind >> 1;
    if (guid >= 3 && guid - 3u >= guidCount)
      Damaged("a name-to-id map entry names a GUID its GUID stream does not hold");
    if (index >= 0x7FFF) Damaged("a name-to-id map entry has a property index out of range");
    if (guid == 1) {
      entry.guid = kGuidPsMapi;
    } else if (guid == 2) {
      entry.guid = kGuidPsPublicStrings;
    } else if (guid >= 3) {
      std::copy_n(guids.begin() + (guid - 3) * 16, 16, entry.guid.begin());
    } else {
      continue;  // no set: the property stays unnamed
    }
    if (guidAndKind & 1) {
      const size_t length = size_t{key} + 4 <= strings.size() ? U32(strings, key) : 0;
      if (size_t{key} + 4 + length > strings.size() || length % 2 != 0)
        Damaged("a name-to-id map entry's name lies outside its string stream");
      entry.byName = true;
      for (size_t i = 0; i < length; i += 2)
        entry.name.push_back(char16_t(U16(strings, key + 4 + i)));
    } else {
      entry.number = key;
    }
    map.emplace(static_cast<uint16_t>(0x8000 + index), std::move(entry));
  }
  // The hash buckets hold copies of the entry stream's records. They are not matched against it
  // record for record: stores that every other reader reads list an entry in a bucket that
  // their entry stream lacks (the map is still read from the entry stream alone).
  // Only where the entry stream names fewer than half the entries the buckets hold has it lost
  // them: a stream zeroed or cut short behind a valid checksum, which would leave every named
  // property of every entry unnamed.
  const uint32_t buckets = U32(bucketCount->value, 0);
  size_t bucketed = 0;
  for (const auto& p : properties.records)
    if (p.id >= 0x1000 && p.id - 0x1000u < buckets) {
      if (p.value.size() % 8 != 0)
        Damaged("a name-to-id map hash bucket has a size no whole number of records");
      bucketed += p.value.size() / 8;
    }
  if (2 * map.size() < bucketed)
    Damaged("the name-to-id map's entry stream names " + std::to_string(map.size()) +
            " properties where its hash buckets hold " + std::to_string(bucketed));
  names_ = std::move(map);
  return *names_;
}

}  // namespace lumivex::pst
