// The warnings of a run over a damaged store, kept to a number a reader takes in: the first
// twenty are printed as they come, the rest counted by kind and summed up, one line per kind, at
// the end. --verbose prints every one; --damage-report FILE writes every one into FILE as well.
#pragma once

#include <QString>

namespace lumivex::cli {

// How the warnings of this run are shown.
void SetDamageOutput(bool verbose, const QString& reportFile);

// One warning of `verb`: `message` says what and where ("entry 12 of \"Contacts\" cannot be
// read: ..."), `reason` the damage alone, from which its kind is told (the same reason with other
// numbers is the same kind).
void DamageWarning(const QString& verb, const QString& message, const QString& reason);

// The same for a line printed as it is, without the verb's prefix ("unreadable: ...").
void DamageLine(const QString& line, const QString& reason);

// Damage of a store as a whole, of a folder (entries missing, a folder that cannot be read) or a
// store left out: printed as a warning of `verb` whatever the count (it is never more than a
// few lines, and what follows it is read in its light), and written into the report as well.
void DamageNotice(const QString& verb, const QString& message);

// The same for a line printed as it is.
void DamageNoticeLine(const QString& line);

// A line for the report alone, told on stderr by the caller.
void DamageReported(const QString& line);

// The kinds held back, one line each with their count, and the report written. False, with a
// line on stderr, when the report cannot be written.
bool FinishDamage(const QString& verb);

}  // namespace lumivex::cli
