// Placeholder until the writer lands.
#include "convert/ConversionRun.h"

namespace lumivex {
void ExportWorksheet(RunContext&) { throw ExportError("worksheet export not built yet"); }
}  // namespace lumivex
