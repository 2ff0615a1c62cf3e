#pragma once
#include <QStringList>

#include "support/desktop.h"

// Makes the files (and their folders) named relative to `root`; a name
// ending in "/" is an empty folder. False when one could not be made.
bool makeFiles(const QString& root, const QStringList& names);
