#pragma once
#include <QString>
#include <QStringList>
#include <optional>

#include "engine/commandline.h"

// What a command line of vantrel-cli asks for.
struct CliRequest {
  enum class Action { Convert, ListFormats, Help, Version };
  Action action = Action::Convert;
  PanelValues panel;        // format and parameters, presets filled in
  QStringList sources;      // files, folders already scanned, in order
  QString outputFolder;     // never empty
  int jobs = 1;
  bool quiet = false;
  bool json = false;
  QString helpText;
};

// Reads the arguments (argv[0] first). On a bad command line returns nothing
// and sets `error` to a message naming what is wrong.
std::optional<CliRequest> parseCliArguments(const QStringList& arguments, QString& error);

// The formats with their names, indices and presets, one a line.
QString formatListText();
