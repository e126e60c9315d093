// Evolution's address books are sent to by a module of their own (lumivex-evolution.so, made
// from EvolutionBook.cpp), loaded only when they are used: linked into the programs, Evolution
// Data Server's client libraries and everything under them were loaded at every start, which
// cost every run, an export as much as a send, about 10 ms and 7 MB.
#pragma once

#include "destination/Destination.h"

#include <QString>

#include <memory>
#include <vector>

namespace lumivex::destination {

struct EvolutionBookInfo {
  QString name;  // the name Evolution shows ("Personal")
  QString uid;   // the book's source id ("system-address-book")
  bool isDefault = false;
  bool enabled = true;
};

// What the module hands the program that loads it: its own functions (EvolutionBook.h).
struct EvolutionModuleEntry {
  int layout;  // kEvolutionModuleLayout of the build that made the module
  std::unique_ptr<Destination> (*make)(const QString& book, const QString& stateFolder);
  std::vector<EvolutionBookInfo> (*list)();
};
// Raised whenever EvolutionModuleEntry or what its functions take or give changes, so that a
// module left from another build is refused rather than called wrongly.
inline constexpr int kEvolutionModuleLayout = 2;
// The module's file in ModuleDir() (common/Installation.h), and the function it is entered by.
inline constexpr char kEvolutionModuleFile[] = "lumivex-evolution.so";
inline constexpr char kEvolutionModuleEntryName[] = "lumivex_evolution_module";

// Loads the module (once) and makes `evolution[:BOOK]` a destination MakeDestination
// (Destinations.h) knows: evolution:BOOK sends into BOOK, else into the settings' book, else
// into the default book. Throws DestinationError, saying what could not be loaded, when the
// module cannot be used.
void LoadEvolution();

// The address books of the user's Evolution Data Server, the default one first, through the
// module (loaded first). Throws DestinationError when the module cannot be loaded or the server
// cannot be reached.
std::vector<EvolutionBookInfo> EvolutionBooks();

}  // namespace lumivex::destination

// The module's one entry point, defined in the module alone.
extern "C" const lumivex::destination::EvolutionModuleEntry* lumivex_evolution_module();
