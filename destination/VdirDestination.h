// A vdir: a folder of one vCard 4.0 file per contact, named from the contact's uid (UID.vcf), as
// khard, vdirsyncer and KDE's "Personal Contacts" address book read it. vCard 4.0 because KDE's
// reader takes every field of it right (it keeps the backslashes of 3.0's escapes) and keeps a
// data: picture; khard reads both.
//
// Each file is written whole under a temporary name in the folder and renamed over its place. A
// file whose bytes would not change is not written at all, so it keeps its time. A file changed
// since we wrote it (its size or time differ from the record and so do its bytes) is a conflict,
// left as it is unless `overwrite`. Files that are not ours are never touched.
#pragma once

#include "destination/Destination.h"

namespace lumivex::destination {

class VdirDestination : public Destination {
 public:
  // `folder` is created when it is missing; `stateFolder` keeps the record of sends.
  VdirDestination(QString folder, QString stateFolder);
  QString Describe() const override;
  SendResult Send(contact::ContactStream& contacts, const SendOptions& options,
                  SendObserver& observer) override;

 private:
  QString folder_;
  QString stateFolder_;
};

}  // namespace lumivex::destination
