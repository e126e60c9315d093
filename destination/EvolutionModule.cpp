#include "destination/EvolutionModule.h"

#include "destination/Destinations.h"
#include "destination/ModuleLoader.h"

namespace lumivex::destination {

namespace {

// The module's functions, or why it could not be loaded. Loaded once, and never unloaded: the
// destinations it makes run its code for as long as they live.
struct Module {
  const EvolutionModuleEntry* entry = nullptr;
  QString error;
};

Module Load() {
  OpenedModule opened = OpenModule(kEvolutionModuleFile, kEvolutionModuleEntryName);
  Module module;
  module.entry = TableOf<EvolutionModuleEntry>(opened, kEvolutionModuleLayout);
  const auto fail = [&module](const QString& what) {
    module.error = QStringLiteral(
                       "Evolution's address books cannot be used: %1. Reinstall "
                       "Lumivex, or send to a vdir folder (vdir:DIR) or a CardDAV "
                       "server instead")
                       .arg(what);
  };
  switch (opened.failure) {
    case OpenedModule::Failure::kNone:
      break;
    case OpenedModule::Failure::kMissing:
      fail(QStringLiteral("%1 is missing").arg(opened.path));
      break;
    case OpenedModule::Failure::kUnloadable:
      fail(opened.reason);
      break;
    case OpenedModule::Failure::kLibraryMissing:
      // Evolution Data Server's client library, which the package recommends, not requires.
      module.error = QStringLiteral(
                         "Evolution's address books cannot be used: Evolution Data Server is not "
                         "installed (%1). Install the package evolution-data-server, or send to "
                         "a vdir folder (vdir:DIR) or a CardDAV server instead")
                         .arg(opened.reason);
      break;
    case OpenedModule::Failure::kNotOfThisBuild:
      fail(QStringLiteral("%1 is not the Evolution module of this build").arg(opened.path));
      break;
  }
  return module;
}

const EvolutionModuleEntry& Entry() {
  static const Module module = Load();
  if (module.entry == nullptr) throw DestinationError(module.error.toStdString());
  return *module.entry;
}

}  // namespace

void LoadEvolution() {
  const auto make = Entry().make;
  SetEvolutionMaker([make](const QString& book, const DestinationSettings& settings) {
    return make(book.isEmpty() ? settings.book : book, StateFolder(settings));
  });
}

std::vector<EvolutionBookInfo> EvolutionBooks() {
  return Entry().list();
}

}  // namespace lumivex::destination
