#pragma once
#include <QString>

// Where Vantrel keeps its files. There are two layouts, told apart by the
// program folder alone:
// - the build tree (or an unpacked copy): the encoders in data/ beside the
//   program, the help page and sound.wav in the program folder, and, while it
//   is writable, the settings files and the default output folder there too;
// - an installed copy (bin/vantrel with the encoders in libexec/vantrel and the
//   help page in share/vantrel): settings in the user's config folder, default
//   output in the user's Videos folder.
// Everybody asks here; nobody else puts folder names together.
namespace AppDirs {

// Folder of the program file, without trailing separator.
QString programFolder();
// Tests and tools may point the program at another folder.
void setProgramFolder(const QString& folder);

// True when the program folder sits in the installed layout.
bool installedLayout();
// Folder of the encoders conv, coder and coder2.
QString toolFolder();
// Folder of help.html, sound.wav and the optional skin.qss.
QString dataFolder();

// Folder that holds setup.ini and options.ini.
QString settingsFolder();
// program folder + "/output", or the user's Videos folder + "/Vantrel".
QString defaultOutputFolder();
// This running copy's private work folder (mode 0700) below the user's cache,
// holding tmp.mp4 and the other temporary files. It belongs to this process
// alone: another copy of the program (another login sharing the home) gets a
// folder of its own, and the first call in a process removes the folders of
// copies that are no longer running. Created on demand.
QString workFolder();

bool programFolderWritable();

}  // namespace AppDirs
