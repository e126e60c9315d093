// A store that uses every feature of the writer, and what it holds, for the reader tests: both
// encodings, bodies large enough for data trees of one and two levels, a message with more
// subnodes than one subnode block holds, enough items for B-trees and heaps of several levels,
// tagged, numbered and string-named properties of every type, multi-valued ones, nested folders.
#pragma once

#include <string>
#include <vector>

#include "tools/pstwriter/Messaging.h"

namespace lumivex::testing {

struct ExpectedItem {
  std::string message_class;
  std::vector<pst::MessageProperty> properties;  // each key once
};

struct ExpectedFolder {
  std::vector<std::string> path;  // below "Top of Personal Folders"
  std::string container_class;
  std::vector<ExpectedItem> items;
};

struct FeatureStore {
  std::vector<ExpectedFolder> folders;
  // Writes the store; `bulk` is the number of small contacts added to make the B-trees deep.
  static FeatureStore Write(const std::string& path, pst::Encoding encoding, int bulk = 1500);
};

// The key pst-dump.js gives a property: "0x3A06", "lid:0x8083" or "name:Keywords".
std::string JsonKey(const pst::PropertyKey& key);

}  // namespace lumivex::testing
