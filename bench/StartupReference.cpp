// The yardstick of startup_bench: a program linking QtCore alone that starts as the command line
// does (its application object, its name, its arguments read) and prints a line.
#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("startup_reference"));
  const QStringList args = QCoreApplication::arguments();
  std::printf("startup_reference %s %lld\n", qVersion(), static_cast<long long>(args.size()));
  return 0;
}
