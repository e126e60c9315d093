// What the programs know of their installation: the release they are, and where the files that
// come with them lie (the help pages help/, the address-book template xwab.def and the sample
// store sample.pst).
#pragma once

#include <QString>

namespace lumivex {

// The folder named by the environment variable LUMIVEX_TOOL_DIR when it is set; else the data
// folder of an installed tree, found relative to the program's own folder (bin/../share/lumivex),
// so a tree moved to another prefix keeps working; else the program's own folder, where the
// build puts everything side by side.
QString DataDir();

// The folder of the modules the programs load at run time (lumivex-evolution.so):
// lib/lumivex/modules of the installed tree, found relative to the program's own folder as
// DataDir's is. The build tree keeps them at the same place relative to its programs.
QString ModuleDir();

// "3.0 Build 1078": the release and the build number.
QString VersionText();

}  // namespace lumivex
