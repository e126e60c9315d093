// The Evolution module's entry point: what the programs call once they have loaded it
// (EvolutionModule.cpp).
#include "destination/EvolutionBook.h"
#include "destination/EvolutionModule.h"

extern "C" __attribute__((visibility("default"))) const lumivex::destination::EvolutionModuleEntry*
lumivex_evolution_module() {
  using namespace lumivex::destination;
  static const EvolutionModuleEntry entry{kEvolutionModuleLayout, &MakeEvolutionBook,
                                          &ListEvolutionBooks};
  return &entry;
}
