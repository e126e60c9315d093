#include "destination/SendState.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace lumivex::destination {

namespace {
// The first line of a record file; a file that does not start with it is not read.
constexpr char kHeader[] = "lumivex-send-state 1";
}  // namespace

SendState::SendState(const QString& folder, const QString& identity) : identity_(identity) {
  const QByteArray name =
      QCryptographicHash::hash(identity.toUtf8(), QCryptographicHash::Sha256).toHex().left(24);
  path_ = QDir(folder).filePath(QString::fromLatin1(name) + QStringLiteral(".state"));
  QFile file(path_);
  if (!file.open(QIODevice::ReadOnly)) return;
  // Line 1 the header, line 2 the identity, then uid TAB resource TAB tag TAB hash per line.
  if (file.readLine().trimmed() != kHeader) return;
  if (QString::fromUtf8(file.readLine()).chopped(1) != identity) return;
  while (!file.atEnd()) {
    const QList<QByteArray> fields = file.readLine().trimmed().split('\t');
    if (fields.size() != 4) continue;
    records_.insert(QString::fromUtf8(fields[0]),
                    SentRecord{QString::fromUtf8(fields[1]), QString::fromUtf8(fields[2]),
                               QString::fromUtf8(fields[3])});
  }
}

const SentRecord* SendState::Find(const QString& uid) const {
  const auto it = records_.constFind(uid);
  return it == records_.constEnd() ? nullptr : &it.value();
}

void SendState::Set(const QString& uid, const SentRecord& record) {
  SentRecord& slot = records_[uid];
  if (slot.resource == record.resource && slot.tag == record.tag && slot.hash == record.hash)
    return;
  slot = record;
  dirty_ = true;
}

bool SendState::Save(QString& error) {
  if (!dirty_) return true;
  // The records name the user's books and accounts: the folder and its files are the user's
  // alone, whatever the umask.
  const QString folder = QFileInfo(path_).absolutePath();
  if (!QDir().mkpath(folder) ||
      !QFile::setPermissions(
          folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner)) {
    error = QStringLiteral("cannot create the folder %1").arg(folder);
    return false;
  }
  QByteArray out;
  out.reserve(64 + records_.size() * 120);
  out.append(kHeader).append('\n').append(identity_.toUtf8()).append('\n');
  for (auto it = records_.cbegin(); it != records_.cend(); ++it) {
    // Tabs and line breaks cannot occur in uids, hrefs, tags or hashes we keep.
    out.append(it.key().toUtf8()).append('\t').append(it->resource.toUtf8()).append('\t');
    out.append(it->tag.toUtf8()).append('\t').append(it->hash.toUtf8()).append('\n');
  }
  QSaveFile file(path_);
  if (!file.open(QIODevice::WriteOnly) ||
      !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
      file.write(out) != out.size() || !file.commit()) {
    error = QStringLiteral("cannot write %1: %2").arg(path_, file.errorString());
    return false;
  }
  dirty_ = false;
  return true;
}

QString SendState::HashOf(const QByteArray& bytes) {
  return QString::fromLatin1(
      QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().left(32));
}

QString TwiceReason(const QString& uid) {
  return QStringLiteral(
             "the same contact (uid %1) came earlier in this send, from a copy of the "
             "same store or entry; it was sent once")
      .arg(uid);
}

QString DeletedReason(const QString& where) {
  return QStringLiteral(
             "deleted in the address book since the last send (%1); it was not sent "
             "again")
      .arg(where);
}

}  // namespace lumivex::destination
