#pragma once
#include <QString>
#include <QStringList>

#include "paths/joinpath.h"

// Splitting the paths of the file list. Only the native separator (and, where
// drives exist, the drive colon) separates; everything else is an ordinary
// file-name character.

// The folder part of a path, up to and including its last separator (or drive
// colon); empty when there is none.
QString ParsePath(const QString& sPathIn);
// Everything after the last separator; the whole input when it has none.
QString FileNameFromPath(const QString& path);
// The file name cut before its first dot.
QString BaseNameFromPath(const QString& path);

// The files named on the program's command line (the arguments after the
// program name, as a desktop's "Open with" hands them over): each existing
// file as a full native path, relative names taken from `workingFolder`,
// file:// addresses as their local file. Anything else (a folder, a missing
// name) is left out; the program has no options.
QStringList FilesFromArguments(const QStringList& arguments, const QString& workingFolder);
