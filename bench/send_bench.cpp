// send_bench: the time to send N contacts (10,000 by default) into a fresh address book of a
// Radicale server on 127.0.0.1 with `lumivex-cli send`, against `vdirsyncer sync` uploading the
// same contacts' vCard 3.0 files from a vdir into another fresh book of the same server, in one
// run; then the re-send of the unchanged store, which should take under a tenth of the first.
//
//   send_bench [--contacts N]
//
// Needs radicale and vdirsyncer (Debian packages). The server runs with a user and password
// (htpasswd, plain), as both clients log in.
#include "bench/Figures.h"
#include "bench/RunProgram.h"
#include "destination/CardDav.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

using namespace lumivex;

namespace {

bool Write(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

int Fail(const char* what) {
  std::fprintf(stderr, "send_bench: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  int contacts = 10000;
  const QStringList args = app.arguments();
  const qsizetype at = args.indexOf(QStringLiteral("--contacts"));
  if (at > 0 && at + 1 < args.size()) contacts = args[at + 1].toInt();
  if (contacts <= 0) return Fail("--contacts needs a positive number");
  const QString bin = app.applicationDirPath();
  QTemporaryDir work;
  const QString dir = work.path();
  const std::string d = dir.toStdString();

  // The store and the vdir of its cards.
  const std::string store = d + "/bench.pst";
  if (bench::RunProgram({(bin + "/lumivex-pstgen").toStdString(), "--contacts",
                         std::to_string(contacts), "--seed", "1", "--out", store})
          .status != 0)
    return Fail("lumivex-pstgen failed");
  if (bench::RunProgram({(bin + "/lumivex-cli").toStdString(), "export", "--format", "vcard3",
                         "--per-contact", "--out", d + "/vdir", store})
          .status != 0)
    return Fail("the vdir export failed");

  // The server.
  int port = 0;
  {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    port = probe.serverPort();
  }
  Write(dir + "/users", "ann:s3cret\n");
  Write(dir + "/password", "s3cret\n");
  Write(dir + "/config", QStringLiteral("[server]\nhosts = 127.0.0.1:%1\n[auth]\ntype = htpasswd\n"
                                        "htpasswd_filename = %2/users\nhtpasswd_encryption = "
                                        "plain\n[storage]\nfilesystem_folder = %2/data\n"
                                        "[logging]\nlevel = warning\n")
                             .arg(port)
                             .arg(dir)
                             .toUtf8());
  QProcess radicale;
  radicale.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  radicale.start(QStringLiteral("/usr/bin/python3"),
                 {"-m", "radicale", "--config", dir + "/config"});
  bool up = false;
  for (int i = 0; i < 100 && !up; ++i) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
    up = socket.waitForConnected(100);
    if (!up) QThread::msleep(100);
  }
  if (!up) return Fail("radicale did not start");
  const QString url = QStringLiteral("http://127.0.0.1:%1/").arg(port);

  // vdirsyncer's book, made beforehand as a user would, and its discovery (not timed).
  destination::CardDavAccount account{url, "ann", "s3cret", {}, 6};
  destination::CardDavAccountSession session(account);
  const QString vdirsyncerBook = session.CreateBook(QStringLiteral("vdirsyncer")).url.toString();
  Write(dir + "/vdirsyncer.conf",
        QStringLiteral("[general]\nstatus_path = \"%1/status/\"\n\n[pair bench]\na = \"local\"\n"
                       "b = \"remote\"\ncollections = null\n\n[storage local]\ntype = "
                       "\"filesystem\"\npath = \"%1/vdir/\"\nfileext = \".vcf\"\n\n"
                       "[storage remote]\ntype = \"carddav\"\nurl = \"%2\"\nusername = \"ann\"\n"
                       "password = \"s3cret\"\n")
            .arg(dir, vdirsyncerBook)
            .toUtf8());
  const std::vector<std::string> vdirsyncer = {"vdirsyncer", "-c", d + "/vdirsyncer.conf"};
  auto with = [](std::vector<std::string> a, std::initializer_list<std::string> more) {
    a.insert(a.end(), more);
    return a;
  };
  if (bench::RunProgram(with(vdirsyncer, {"discover"})).status != 0)
    return Fail("vdirsyncer discover failed");

  const std::vector<std::string> send = {(bin + "/lumivex-cli").toStdString(),
                                         "send",
                                         "--to",
                                         url.toStdString(),
                                         "--user",
                                         "ann",
                                         "--password-file",
                                         d + "/password",
                                         "--no-merge",
                                         "--book",
                                         "lumivex",
                                         store};
  std::vector<std::string> first = send;
  first[9] = "--new-book";
  const std::string state = "XDG_STATE_HOME=" + d + "/state";
  putenv(const_cast<char*>(state.c_str()));

  std::printf("send_bench: %d contacts to Radicale on 127.0.0.1 (%s)\n", contacts,
              bench::LoadText().c_str());
  const bench::Measured ours = bench::RunProgram(first);
  const bench::Measured theirs = bench::RunProgram(with(vdirsyncer, {"sync"}));
  const bench::Measured again = bench::RunProgram(send);
  const bench::Measured theirsAgain = bench::RunProgram(with(vdirsyncer, {"sync"}));
  radicale.terminate();
  radicale.waitForFinished(10000);
  if (ours.status != 0 || again.status != 0) return Fail("lumivex-cli send failed");
  if (theirs.status != 0) return Fail("vdirsyncer sync failed");
  const int held = static_cast<int>(
      QDir(dir + "/data/collection-root/ann/lumivex").entryList({"*.vcf"}, QDir::Files).size());
  const int theirsHeld = static_cast<int>(
      QDir(dir + "/data/collection-root/ann/vdirsyncer").entryList({"*.vcf"}, QDir::Files).size());
  std::printf("  lumivex-cli send        %8.2f s wall %7.2f s cpu  (%d cards on the server)\n",
              ours.seconds, ours.cpuSeconds, held);
  std::printf("  vdirsyncer sync         %8.2f s wall %7.2f s cpu  (%d cards on the server)\n",
              theirs.seconds, theirs.cpuSeconds, theirsHeld);
  std::printf("  send / vdirsyncer       %8.2f  (target at most 1)\n",
              ours.seconds / theirs.seconds);
  std::printf("  re-send, unchanged      %8.2f s wall %7.2f s cpu\n", again.seconds,
              again.cpuSeconds);
  std::printf("  re-send / first send    %8.3f  (target under 0.1)\n",
              again.seconds / ours.seconds);
  std::printf("  vdirsyncer sync again   %8.2f s wall\n", theirsAgain.seconds);
  return ours.seconds <= theirs.seconds && again.seconds < ours.seconds / 10 ? 0 : 3;
}
