#include "destination/EvolutionModule.h"

#include "common/Installation.h"
#include "destination/Destinations.h"

#include <QDir>
#include <QFile>

#include <dlfcn.h>

namespace lumivex::destination {

namespace {

// The module's functions, or why it could not be loaded. Loaded once, and never unloaded: the
// destinations it makes run its code for as long as they live.
struct Module {
  const EvolutionModuleEntry* entry = nullptr;
  QString error;
};

Module Load() {
  Module module;
  const QString path = QDir(ModuleDir()).filePath(QString::fromLatin1(kEvolutionModuleFile));
  const auto fail = [&module](const QString& what) {
    module.error = QStringLiteral(
                       "Evolution's address books cannot be used: %1. Reinstall "
                       "Lumivex, or send to a vdir folder (vdir:DIR) or a CardDAV "
                       "server instead")
                       .arg(what);
    return module;
  };
  void* library = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const QString reason = QString::fromLocal8Bit(dlerror());
    if (!QFile::exists(path)) return fail(QStringLiteral("%1 is missing").arg(path));
    // The module is there but a library under it is not (dlerror names that library first):
    // Evolution Data Server's client library, which the package recommends, not requires.
    if (reason.startsWith(path) || !reason.contains(u"cannot open shared object file"))
      return fail(reason);
    module.error = QStringLiteral(
                       "Evolution's address books cannot be used: Evolution Data Server is not "
                       "installed (%1). Install the package evolution-data-server, or send to "
                       "a vdir folder (vdir:DIR) or a CardDAV server instead")
                       .arg(reason);
    return module;
  }
  const auto enter = reinterpret_cast<decltype(&lumivex_evolution_module)>(
      dlsym(library, kEvolutionModuleEntryName));
  const EvolutionModuleEntry* entry = enter != nullptr ? enter() : nullptr;
  if (entry == nullptr || entry->layout != kEvolutionModuleLayout)
    return fail(QStringLiteral("%1 is not the Evolution module of this build").arg(path));
  module.entry = entry;
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
