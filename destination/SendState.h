// The record of what was last sent to one destination, so that a send can be run again: per
// contact uid, the resource it went to, the destination's version tag of it as we left it (a
// CardDAV ETag, a vdir file's size and time) and a hash of the bytes we sent. Kept in one file
// per destination under the state folder, named from the destination's identity, and written
// whole (a new file renamed over the old) so that a send stopped half-way leaves a usable record;
// the folder is the user's alone (0700), each file too (0600).
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

namespace lumivex::destination {

struct SentRecord {
  QString resource;  // the href or file name
  QString tag;       // the destination's version of what we left there
  QString hash;      // of the bytes we sent
};

class SendState {
 public:
  // The record for `identity` (the book's URL with the user, or the vdir's absolute path), read
  // from `folder` when there is one; an unreadable record counts as lost.
  SendState(const QString& folder, const QString& identity);

  const SentRecord* Find(const QString& uid) const;
  void Set(const QString& uid, const SentRecord& record);
  bool IsEmpty() const { return records_.isEmpty(); }
  // Writes the record when it changed. False, with `error` set, when it cannot be written.
  bool Save(QString& error);

  static QString HashOf(const QByteArray& bytes);

 private:
  QString path_;
  QString identity_;
  QHash<QString, SentRecord> records_;
  bool dirty_ = false;
};

// Why a contact whose uid already came in this send is not sent again: two stores with one
// identity (a store and its copy) sent with merging off give every contact twice.
QString TwiceReason(const QString& uid);
// Why a contact sent before is not sent again: the user deleted it from `where` since.
QString DeletedReason(const QString& where);

}  // namespace lumivex::destination
