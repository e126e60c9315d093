#include "merge/MergeScratch.h"

#include "source/MailStore.h"

#include <QDir>

namespace lumivex::merge {

void MergeScratch::Open() {
  if (!file_.Open())
    throw StoreError(QStringLiteral("Cannot create a temporary file in %1 to merge in: %2. Set "
                                    "TMPDIR to a folder you may write in")
                         .arg(QDir::tempPath(), file_.Error())
                         .toStdString());
}

void MergeScratch::Append(const char* data, int64_t n) {
  if (!file_.Append(data, n))
    throw StoreError(QStringLiteral("Cannot write the temporary file in %1 to merge in: %2. "
                                    "Free some disk space there or set TMPDIR to another folder")
                         .arg(file_.Folder(), file_.Error())
                         .toStdString());
}

bool MergeScratch::Read(QByteArray& into, int64_t from, int64_t length) {
  into.resize(length);
  into.resize(file_.ReadUpTo(into.data(), from, length));
  return !into.isEmpty();
}

void MergeScratch::ReadAll(char* into, int64_t from, int64_t length) {
  if (file_.ReadUpTo(into, from, length) != length) ReadFailed();
}

void MergeScratch::ReadFailed() const {
  throw StoreError(QStringLiteral("Cannot read back the temporary file in %1 the merge uses: %2")
                       .arg(file_.Folder(), file_.Error().isEmpty()
                                                ? QStringLiteral("it is shorter than written")
                                                : file_.Error())
                       .toStdString());
}

}  // namespace lumivex::merge
