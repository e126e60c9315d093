// lumivex: the desktop program. Sets up the store backend with the folder picker dialog, the
// desktop's web browser and folder dialog, and shows the main window until it is closed.
#include "app/Artwork.h"
#include "app/DesktopOpen.h"
#include "app/Dialogs.h"
#include "app/FolderPickerDialog.h"
#include "app/FrmMain.h"
#include "app/HelpViewer.h"
#include "common/Installation.h"
#include "common/Module1.h"
#include "common/TemporaryFiles.h"
#include "source/StoreBackend.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QUrl>

#include <cstdio>
#include <string_view>

namespace {

bool AsksForHelp(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg(argv[i]);
    if (arg == "--help" || arg == "-h" || arg == "-?" || arg == "--help-all" ||
        arg == "--version" || arg == "-v")
      return true;
  }
  return false;
}

int UsageError(const QString& message) {
  std::fprintf(stderr, "lumivex: %s\nRun 'lumivex --help' for the options.\n", qPrintable(message));
  return 2;
}

// The parser's help, its usage line naming the program rather than the path it was started by.
QString HelpText(const QCommandLineParser& options) {
  QString text = options.helpText();
  const qsizetype lineEnd = text.indexOf(u'\n');
  QString usage = text.left(lineEnd);
  usage.replace(QApplication::arguments().constFirst(), QStringLiteral("lumivex"));
  return usage + text.mid(lineEnd);
}

// A file manager may hand over a file:// address instead of a path.
QString LocalPath(const QString& argument) {
  return argument.startsWith(QStringLiteral("file:")) ? QUrl(argument).toLocalFile() : argument;
}

}  // namespace

int main(int argc, char** argv) {
  // Without a desktop session the window system cannot be reached: say so plainly, and still
  // answer --help and --version on a terminal.
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
      qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    if (!AsksForHelp(argc, argv)) {
      std::fputs(
          "lumivex: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set). Start it from "
          "a desktop session, or use lumivex-cli on a terminal (lumivex-cli --help).\n",
          stderr);
      return 1;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  lumivex::TemporaryFiles::RemoveOnSignals();
  QApplication::setApplicationName(QStringLiteral("Lumivex"));
  QApplication::setApplicationVersion(lumivex::VersionText());
  QApplication::setOrganizationName(QStringLiteral("Quorvane Software"));
  QApplication::setDesktopFileName(QStringLiteral("app.lumivex.Lumivex"));
  QApplication::setWindowIcon(lumivex::WindowIcon());

  QCommandLineParser options;
  options.setApplicationDescription(QStringLiteral(
      "Exports the contacts of an Outlook personal-folder file (.pst, .ost) to one vCard file,\n"
      "one vCard file per contact, an Excel worksheet (.xls) or a Windows Address Book (.wab).\n"
      "\n"
      "Choose \"Default Outlook Contacts\" to read the default store, or \"Select Other Outlook\n"
      "File\" to pick a folder in another file; scan, then save. Help > Contents explains each\n"
      "step. Given a FILE, Lumivex starts with \"Select Other Outlook File\" chosen and FILE in\n"
      "its path box, ready to scan.\n"
      "\n"
      "The default store is the file named by the environment variable LUMIVEX_DEFAULT_STORE;\n"
      "else the store of the default Outlook profile of a Wine prefix; else, of the .pst/.ost\n"
      "files in \"Documents/Outlook Files\" and \"AppData/Local/Microsoft/Outlook\" (in your\n"
      "home and in Wine prefixes), the one whose contacts folder holds the most entries.\n"
      "\n"
      "For scripts, use lumivex-cli (run 'lumivex-cli --help')."));
  const QCommandLineOption help = options.addHelpOption();
  const QCommandLineOption version = options.addVersionOption();
  options.addPositionalArgument(QStringLiteral("FILE"),
                                QStringLiteral("the .pst or .ost file to open"),
                                QStringLiteral("[FILE]"));
  if (!options.parse(QApplication::arguments())) return UsageError(options.errorText());
  if (options.isSet(help)) {
    std::fputs(qPrintable(HelpText(options)), stdout);
    return 0;
  }
  if (options.isSet(version)) {
    std::printf("lumivex %s\n", qPrintable(lumivex::VersionText()));
    return 0;
  }
  const QStringList files = options.positionalArguments();
  if (files.size() > 1)
    return UsageError(
        QStringLiteral("one FILE only ('%1' and '%2' were given)").arg(files.at(0), files.at(1)));

  lumivex::SetMailProvider(
      lumivex::MakeStoreMailProvider(std::make_shared<lumivex::DialogFolderPicker>()));
  // Help pages are read inside the program when no browser takes them.
  lumivex::Module1::SetUrlOpener([](const QString& address) {
    if (QUrl(address).isLocalFile() && address.endsWith(QLatin1String(".html")))
      lumivex::OpenHelpPage(address);
    else
      lumivex::OpenWithDesktop(address);
  });
  lumivex::Module1::SetFolderBrowser([](int32_t, const QString& title) {
    return lumivex::CurrentDialogs().BrowseFolder(QApplication::activeWindow(), title);
  });

  lumivex::FrmMain window;
  if (!files.isEmpty()) window.OpenStoreFile(LocalPath(files.first()));
  window.show();
  return app.exec();
}
