// A store that uses every feature of the writer, and what it holds, for the reader tests: both
// encodings, both layouts, bodies large enough for data trees of one and two levels, a message
// with more subnodes than one subnode block holds, enough items for B-trees and heaps of several
// levels, tagged, numbered and string-named properties of every type, multi-valued ones, nested
// folders. In the ANSI layout the expected strings are the 8-bit ones of code page 1252.
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
  size_t long_note_chars = 0;  // the body that takes a data tree of two levels
  // Writes the store; `bulk` is the number of small contacts added to make the B-trees deep.
  static FeatureStore Write(const std::string& path, pst::Encoding encoding, int bulk = 1500,
                            pst::FileLayout layout = pst::FileLayout::Unicode);
};

// The key pst-dump.js gives a property: "0x3A06", "lid:0x8083" or "name:Keywords".
std::string JsonKey(const pst::PropertyKey& key);

}  // namespace lumivex::testing
