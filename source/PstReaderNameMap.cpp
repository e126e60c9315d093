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
  auto stream = [&](uint16_t id) -> std::span<const uint8_t> {
    for (const auto& p : properties.records)
      if (p.id == id) return p.value;
    return {};
  };
  const auto guids = stream(kNameIdGuids);
  const auto entries = stream(kNameIdEntries);
  const auto strings = stream(kNameIdStrings);
  for (size_t at = 0; at + 8 <= entries.size(); at += 8) {
    NameEntry entry;
    const uint32_t key = U32(entries, at);
    const uint16_t guidAndKind = U16(entries, at + 4);
    const uint16_t index = U16(entries, at + 6);
    const uint16_t guid = guidAndKind >> 1;
    if (guid == 1) {
      entry.guid = kGuidPsMapi;
    } else if (guid == 2) {
      entry.guid = kGuidPsPublicStrings;
    } else if (guid >= 3 && (guid - 3u + 1) * 16 <= guids.size()) {
      std::copy_n(guids.begin() + (guid - 3) * 16, 16, entry.guid.begin());
    } else {
      continue;  // a set the map does not hold: the property stays unnamed
    }
    if (guidAndKind & 1) {
      const size_t length = key + 4 <= strings.size() ? U32(strings, key) : 0;
      if (key + 4 + length > strings.size() || length % 2 != 0) continue;
      entry.byName = true;
      for (size_t i = 0; i < length; i += 2)
        entry.name.push_back(char16_t(U16(strings, key + 4 + i)));
    } else {
      entry.number = key;
    }
    map.emplace(static_cast<uint16_t>(0x8000 + index), std::move(entry));
  }
  names_ = std::move(map);
  return *names_;
}

}  // namespace lumivex::pst
