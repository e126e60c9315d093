#include "destination/ModuleLoader.h"

#include "common/Installation.h"

#include <QDir>
#include <QFile>

#include <dlfcn.h>

namespace lumivex::destination {

OpenedModule OpenModule(const char* file, const char* entryName) {
  OpenedModule module;
  module.path = QDir(ModuleDir()).filePath(QString::fromLatin1(file));
  void* library = dlopen(QFile::encodeName(module.path).constData(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    module.reason = QString::fromLocal8Bit(dlerror());
    // Where the module is there but a library under it is not, the loader names that library
    // first, not the module.
    if (!QFile::exists(module.path))
      module.failure = OpenedModule::Failure::kMissing;
    else if (!module.reason.startsWith(module.path) &&
             module.reason.contains(u"cannot open shared object file"))
      module.failure = OpenedModule::Failure::kLibraryMissing;
    else
      module.failure = OpenedModule::Failure::kUnloadable;
    return module;
  }
  module.entry = dlsym(library, entryName);
  return module;
}

}  // namespace lumivex::destination
