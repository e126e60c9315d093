// Placeholder until the writer lands.
#include "convert/ConversionRun.h"

namespace lumivex {
void ExportVCardSingleFile(RunContext&) { throw ExportError("vCard export not built yet"); }
void ExportVCardPerContact(RunContext&) { throw ExportError("vCard export not built yet"); }
}  // namespace lumivex
