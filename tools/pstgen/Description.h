// A store description: the JSON format that lumivex-pstgen reads (documented in main.cpp and in
// `lumivex-pstgen --help`), and the writing of a store from it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/pstgen/Contact.h"
#include "tools/pstwriter/Messaging.h"

namespace lumivex::pstgen {

struct FolderPlan {
  std::vector<std::string> path;  // names below "Top of Personal Folders"
  std::string container_class;    // for folders that do not exist yet
  std::vector<Item> items;
  uint64_t generate = 0;  // synthetic contacts added after the items
  uint64_t seed = 1;
  // Instead of `generate`: the people of these numbers (first, last; both included), each the
  // same contact in every store made with the same seed (SyntheticContacts::Person).
  std::vector<std::pair<uint64_t, uint64_t>> people;
  // Which copy of the people this store holds: 0 as drawn; another number changes each person
  // as another address book of theirs would hold them (SyntheticContacts::Person).
  uint64_t variant = 0;
};

struct StorePlan {
  pst::StoreSettings store;
  ContactOptions contacts;
  std::optional<std::vector<std::string>> default_contacts;
  std::vector<FolderPlan> folders;
};

// Reads a description; throws pst::PstError saying where it is wrong. Files it names (pictures,
// attachments) are read relative to `base_dir`, the description's folder (default: the
// current one).
StorePlan ParseDescription(const std::string& json_utf8, const std::string& base_dir = {});
// Reads one property given by tag or by name (the "properties" entries of an item).
pst::MessageProperty ParseProperty(const std::string& json_utf8);

struct BuildReport {
  uint64_t items = 0;
  uint64_t folders = 0;
  uint64_t bytes = 0;
};

// Writes the store the plan describes. `progress` (may be empty) is called now and then with the
// number of items written and the total.
BuildReport BuildStore(const StorePlan& plan, const std::string& out_path,
                       const std::function<void(uint64_t, uint64_t)>& progress = {});

}  // namespace lumivex::pstgen
