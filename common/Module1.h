// Process-wide state and the small routines shared by the windows, the run and the command line.
#pragma once

#include <QDate>
#include <QLocale>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace lumivex {
class Folder;

namespace Module1 {

// The running number of the scan; 1 when the main window loads.
inline int16_t ContactCounter = 1;
// The folder picked by the last scan of another store file; dropped by the conversion run.
inline std::shared_ptr<Folder> PickedFolder;
// Where PickedFolder lies in its store ("Top of Personal Folders/Contacts"), kept after the
// conversion run drops PickedFolder so that a later run can open the same folder again.
inline QString PickedFolderPath;
// The store path handed to AddStore by the last scan of another store file.
inline QString FilePath;
// The path of the file being written by the conversion run.
inline QString OutputPath;

// Puts the process-wide state back as it is at start (used by tests).
void Reset();

// Adds one to a 16-bit counter. An increment past 32767 fails: the counter stays and false
// comes back, which is how every entry counter of the tool stops at 32767.
bool Increment(int16_t& counter);

// The part of `path` after its last path separator ("\" as on Windows, or "/"); the whole text
// when it holds none; empty when it ends with one.
QString ExtractFileName(const QString& path);

// `day` as the locale's short date with a four-digit year, as Windows writes the short date
// ("5/17/1975" in the United States, "17.05.1975" in Germany): the locale's order and
// separators, but never a two-digit year, which would read 1925 and 2025 alike.
QString ShortDate(const QDate& day, const QLocale& locale = QLocale::system());

// A whole number from low to high inclusive, from a generator that is never seeded: every start
// of the program draws the same sequence, and the sequence goes on from run to run.
int32_t RandomNumber(int32_t low, int32_t high);
// Starts the sequence again, as a new start of the program would (used by tests).
void ResetRandomNumber();

// Asks the user for a folder. Returns its path without a trailing separator (except for the
// root "/"), or empty text on cancel or error. The desktop installs a folder dialog, the command
// line its --out folder, tests a scripted answer.
using FolderBrowser = std::function<QString(int32_t owner, const QString& title)>;
QString BrowseForFolder(int32_t owner, const QString& title);
void SetFolderBrowser(FolderBrowser browser);

// Opens an address with the desktop's handler; nothing happens when it is empty.
using UrlOpener = std::function<void(const QString& address)>;
void OpenUrl(const QString& address);
void SetUrlOpener(UrlOpener opener);

// The product's web site.
inline constexpr const char* kWebsite = "https://www.lumivex.app";

}  // namespace Module1
}  // namespace lumivex
