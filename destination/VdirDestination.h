// A vdir: a folder of one vCard 3.0 file per contact, named from the contact's uid (UID.vcf), as
// khard, vdirsyncer and KDE's "Personal Contacts" address book (`send --to kde`) read it.
// vCard 3.0 because its readers keep it whole where they lose parts of 4.0: KDE's KContacts
// takes 3.0's inline picture as an image (a 4.0 data: URI only as a link) and its preferred
// phones (TYPE=pref; 4.0's PREF=1 reads as a plain number), and reads the GENDER written
// beside Evolution's X-GENDER; a vdir synced by vdirsyncer to a CardDAV server keeps the inline
// pictures that such servers cut from data: URIs; khard reads both. KContacts' one slip on 3.0
// is a ";" in a text value, which it keeps with its escaping backslash.
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
