// Placeholder until the writer lands.
#include "convert/ConversionRun.h"

namespace lumivex {
void ExportAddressBook(RunContext&) { throw ExportError("address-book export not built yet"); }
}  // namespace lumivex
