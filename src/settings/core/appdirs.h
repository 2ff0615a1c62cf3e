#pragma once
#include <QString>

// Where Vantrel keeps its files. The program folder holds the encoders (data/),
// the help page, sound.wav and, while it is writable, the settings files and
// the default output folder; an installed (read-only) copy keeps those in the
// user's folders instead.
namespace AppDirs {

// Folder of the program file, without trailing separator.
QString programFolder();
// Tests and tools may point the program at another folder.
void setProgramFolder(const QString& folder);

// Folder that holds setup.ini and options.ini.
QString settingsFolder();
// program folder + "/output", or the user's Videos folder + "/Vantrel".
QString defaultOutputFolder();
// Private per-user work folder (mode 0700) holding tmp.mp4 and the other
// temporary files; created on demand.
QString workFolder();
// Path of the encoder `tool` ("conv", "coder", "coder2") in data/.
QString toolPath(const QString& tool);

bool programFolderWritable();

// Joins a folder and a name with exactly one native separator between them.
QString join(const QString& folder, const QString& name);

}  // namespace AppDirs
