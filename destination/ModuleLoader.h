// Our modules: shared objects in the install's module folder (ModuleDir), opened when first used
// so that the programs start without the libraries they need, which the package only recommends.
#pragma once

#include <QString>

namespace lumivex::destination {

// What opening a module found. Modules are never unloaded: what they start (threads, connections,
// the destinations they make) outlives the call that opened them.
struct OpenedModule {
  enum class Failure {
    kNone,
    kMissing,         // the module's file is not there
    kLibraryMissing,  // the module is there, a library it needs is not
    kUnloadable,      // the loader refused it for another reason (`reason`)
    kNotOfThisBuild,  // no entry function, or one of another build's layout
  };
  Failure failure = Failure::kNone;
  QString path;           // the module's file
  QString reason;         // the loader's own words, where it refused the module
  void* entry = nullptr;  // the entry function, when found
};

// Opens `file` of the module folder and finds its entry function `entryName`.
OpenedModule OpenModule(const char* file, const char* entryName);

// The module's table of functions, which its entry function returns; null, with the failure set,
// when the module did not open or its table is not of this build's `layout`.
template <typename Table>
const Table* TableOf(OpenedModule& module, int layout) {
  if (module.failure != OpenedModule::Failure::kNone) return nullptr;
  const auto enter = reinterpret_cast<const Table* (*)()>(module.entry);
  const Table* table = enter != nullptr ? enter() : nullptr;
  if (table == nullptr || table->layout != layout) {
    module.failure = OpenedModule::Failure::kNotOfThisBuild;
    return nullptr;
  }
  return table;
}

}  // namespace lumivex::destination
