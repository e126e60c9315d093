// The address-book export's own routines, beside ExportAddressBook (ConversionRun.h).
#pragma once

#include <QString>

namespace lumivex {

// Copies the file `src` to `dest`; when `FailIfDestExists` is false an existing file at `dest`
// is replaced. True when the copy succeeded.
bool APIFileCopy(const QString& src, const QString& dest, bool FailIfDestExists = false);

// The folder the template comes from: DataDir(), the folder installed with the programs (or the
// one named by the environment variable LUMIVEX_TOOL_DIR).
QString ToolDir();

// The template "xwab.def" in ToolDir(), joined with "/" unless the folder already ends with one.
QString AddressBookTemplatePath();

}  // namespace lumivex
