// Synthetic contacts for large stores: realistic names, addresses and phone numbers in several
// scripts (Latin with accents, Cyrillic, Greek, Chinese, Japanese, Korean, Arabic), drawn from a
// seeded generator so that the same seed always gives the same contacts.
#pragma once

#include <cstdint>

#include "tools/pstgen/Contact.h"

namespace lumivex::pstgen {

class SyntheticContacts {
 public:
  explicit SyntheticContacts(uint64_t seed) : state_(seed) {}
  // The next contact; `number` (from 1) goes into its e-mail address so every one differs.
  Item Next(uint64_t number);
  // Person `number` of the people drawn from `seed`: the same contact in every store made with the
  // same seed (for stores that share people), its own generator seeded from both. Two initials as
  // middle name keep people of the same name and company rare.
  // `variant` other than 0: the person as another of their address books holds them, drawn from
  // the variant: another job title; for one person in four the first e-mail address replaced by
  // one of this variant's own (the phones still tell who it is); for one in five the home phone
  // left out; the name typed in capitals for one in ten.
  static Item Person(uint64_t seed, uint64_t number, uint64_t variant = 0);

 private:
  uint64_t Random();
  size_t Pick(size_t count) { return static_cast<size_t>(Random() % count); }
  uint64_t state_;
};

}  // namespace lumivex::pstgen
