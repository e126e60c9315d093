#include "destination/VdirDestination.h"

#include "contact/GroupMembers.h"

#include "contact/VCardWriter.h"
#include "destination/HeldCards.h"
#include "destination/SendDecision.h"
#include "destination/SendState.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <set>

namespace lumivex::destination {

namespace {

// What we know of a file without reading it: its size and modification time.
QString FileTag(const QFileInfo& info) {
  return QStringLiteral("%1:%2").arg(info.size()).arg(info.lastModified().toMSecsSinceEpoch());
}

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

VdirDestination::VdirDestination(QString folder, QString stateFolder)
    : folder_(QDir(folder).absolutePath()), stateFolder_(std::move(stateFolder)) {}

QString VdirDestination::Describe() const {
  return QStringLiteral("the vdir folder %1").arg(folder_);
}

SendResult VdirDestination::Send(contact::ContactStream& source, const SendOptions& options,
                                 SendObserver& observer) {
  if (!options.dryRun && !QDir().mkpath(folder_))
    throw DestinationError(
        QStringLiteral("Cannot create the folder %1: check that its parent is writable")
            .arg(folder_)
            .toStdString());
  if (QFileInfo::exists(folder_) && !QFileInfo(folder_).isDir())
    throw DestinationError(
        QStringLiteral("%1 is a file, not a folder: name a folder for the vCards")
            .arg(folder_)
            .toStdString());
  const QDir dir(folder_);
  const QStringList files = dir.exists()
                                ? dir.entryList({QStringLiteral("*.vcf")}, QDir::Files, QDir::Name)
                                : QStringList();
  RefuseIfHoldsCards(options, Describe(), files.size());
  SendState state(stateFolder_, QStringLiteral("vdir ") + folder_);
  SendResult result;
  contact::SourcedContact item;
  QByteArray bytes;
  std::set<QString> seen;  // uids met in this send
  int done = 0;
  // The folder's cards the record does not know (it was lost, or they are another program's):
  // read to find the people they hold, so that a person's card there is updated rather than a
  // second one added.
  HeldCards theirs;
  QHash<QString, QString> theirFile;  // the uid of a card of theirs given to a contact: its file
  const QSet<QString> known = state.Resources();
  for (const QString& name : files)
    if (!known.contains(name)) theirs.Add(ReadAll(dir.filePath(name)), name);
  const auto ownThere = [&](const contact::Contact& c) {
    return QFileInfo::exists(dir.filePath(contact::CardUuid(c.uid) + ".vcf"));
  };
  // The cards the record knows, read only for a contact none of whose entries went into one.
  state.MatchKnownCards(
      [&](const QStringList& names, const auto& found) {
        for (const QString& name : names)
          if (QFileInfo::exists(dir.filePath(name))) found(name, ReadAll(dir.filePath(name)));
      },
      ownThere,
      [&](const QString& name, const QString& tag) {
        const QFileInfo file(dir.filePath(name));
        return file.exists() && FileTag(file) == tag;
      });
  const auto held = [&](const contact::Contact& c) -> QString {
    if (theirs.IsEmpty() || ownThere(c)) return {};
    const HeldCards::Card* card = theirs.Match(c);
    if (!card) return {};
    theirFile.insert(card->uid, card->resource);
    return card->uid;
  };
  // A contact that would take a card of theirs by its person alone after those whose own card it
  // may be; lists last, their members named by the cards written before them.
  ByPersonLast byPerson(source, theirs, state, ownThere);
  contact::GroupsLast contacts(byPerson);
  const auto problem = [&](SendOutcome outcome, const QString& uid, const QString& reason,
                           Remedy remedy = Remedy::kNone) {
    SendProblem p{outcome, contact::ShownName(item.contact), uid, item.origins, reason, remedy};
    observer.Problem(p);
    result.problems.push_back(std::move(p));
  };
  while (true) {
    if (observer.Cancelled()) {
      result.cancelled = true;
      break;
    }
    if (!contacts.Next(item)) break;
    const QString was = item.contact.uid;
    const QString uid = state.CardFor(item, held);
    contacts.Renamed(was, item.contact);
    bytes.clear();
    contact::AppendVCard(bytes, item.contact, contact::VCardVersion::k30, &contacts.Members());
    const SentRecord* sent = state.Find(uid);
    // Where the card is: a file of theirs given to it, else the file the record names (which
    // another client may have named), else one named from its uid.
    const QString name = theirFile.value(uid, sent ? sent->resource : uid + QStringLiteral(".vcf"));
    const QString path = dir.filePath(name);
    const QString hash = SendState::HashOf(bytes);
    const QFileInfo info(path);
    SendFacts facts;
    facts.repeated = !seen.insert(uid).second;
    facts.recorded = sent && sent->resource == name;
    facts.present = info.exists();
    QString tag;
    if (facts.present && !facts.repeated) {
      tag = FileTag(info);
      if (facts.recorded && sent->tag == tag) {  // as we left it, known without reading it
        facts.untouched = true;
        facts.same = sent->hash == hash;
      } else {
        const QByteArray there = ReadAll(path);
        facts.same = there == bytes;
        facts.untouched = facts.recorded && SendState::HashOf(there) == sent->hash;
      }
    }
    const QString newer = facts.recorded ? state.NotSentOver(uid) : QString();
    facts.sentFromNewer = !newer.isEmpty();
    const SendDecision decision = DecideSend(facts, options.overwrite);
    switch (decision) {
      case SendDecision::kAdd:
      case SendDecision::kUpdate:
        break;
      case SendDecision::kUnchanged:  // only the record to mend when it did not know the file
        state.Set(uid, {name, tag, hash});
        ++result.unchanged;
        break;
      case SendDecision::kRepeated:
        ++result.repeated;
        break;
      case SendDecision::kDeletedThere:
        problem(SendOutcome::kConflict, uid, DeletedReason(path), Remedy::kOverwrite);
        break;
      case SendDecision::kChangedThere:
        problem(SendOutcome::kConflict, uid,
                QStringLiteral("the file %1 was changed since the last send").arg(path),
                Remedy::kOverwrite);
        break;
      case SendDecision::kNotOurs:
        problem(
            SendOutcome::kConflict, uid,
            QStringLiteral("the file %1 is there already and differs from this contact").arg(path),
            Remedy::kOverwrite);
        break;
      case SendDecision::kSentFromNewer:
        problem(SendOutcome::kConflict, uid, newer, Remedy::kOverwrite);
        break;
    }
    if (decision != SendDecision::kAdd && decision != SendDecision::kUpdate) {
      observer.Progress(++done, contacts.Total());
      continue;
    }
    if (!options.dryRun) {
      QSaveFile file(path);
      if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        problem(SendOutcome::kFailed, uid,
                QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
        observer.Progress(++done, contacts.Total());
        continue;
      }
      state.Set(uid, {name, FileTag(QFileInfo(path)), hash});
    } else {  // recorded as a send would (its entries moved), never saved
      state.Set(uid, {name, tag, hash});
    }
    ++(decision == SendDecision::kUpdate ? result.updated : result.added);
    observer.Progress(++done, contacts.Total());
  }
  // Second cards of people joined since they were sent: removed where they are as written.
  if (!result.cancelled)
    for (const SentRecord& r : state.TakeMergedAway()) {
      const QString path = QDir(folder_).filePath(r.resource);
      const QFileInfo info(path);
      if (!info.exists()) continue;  // gone already
      if (FileTag(info) != r.tag)
        result.mergedAway << path;
      else if (options.dryRun || QFile::remove(path))
        ++result.removed;
      else
        result.mergedAway << path;
    }
  QString error;
  if (!options.dryRun && !state.Save(error))
    throw SendBrokenOff(
        DestinationError(
            QStringLiteral("The contacts were written, but the record of this send was not (%1); "
                           "a second send will compare the files instead")
                .arg(error)
                .toStdString()),
        result);
  return result;
}

}  // namespace lumivex::destination
