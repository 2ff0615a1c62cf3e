#include <QCoreApplication>
#include <cstdio>

#include "cli/cliargs.h"
#include "cli/clifront.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("Vantrel"));
  QCoreApplication::setOrganizationName(QStringLiteral("Vantrel"));
  QCoreApplication::setApplicationVersion(QStringLiteral(VANTREL_VERSION));
  QString error;
  const auto request = parseCliArguments(QCoreApplication::arguments(), error);
  if (!request) {
    std::fprintf(stderr, "vantrel-cli: %s\nTry 'vantrel-cli --help'.\n", error.toUtf8().constData());
    return 2;
  }
  switch (request->action) {
    case CliRequest::Action::Help:
      std::fputs(request->helpText.toUtf8().constData(), stdout);
      return 0;
    case CliRequest::Action::Version:
      std::printf("vantrel-cli %s\n", VANTREL_VERSION);
      return 0;
    case CliRequest::Action::ListFormats:
      std::fputs(formatListText().toUtf8().constData(), stdout);
      return 0;
    case CliRequest::Action::Convert:
      break;
  }
  CliFront front(*request);
  return front.run();
}
