#pragma once
#include <QString>

// `folder` and `name` with exactly one native separator between them: the
// folder's trailing separators (native or '/') and the name's leading ones
// give way to one. An empty folder gives the name alone; an empty name the
// folder with its one trailing separator.
QString JoinPath(const QString& folder, const QString& name);
