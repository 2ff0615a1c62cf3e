#pragma once
#include <QString>

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
