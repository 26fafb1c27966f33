#pragma once

#include <QString>

// Checks made at start, before any port opens, so that a log or report that could never be
// written is refused at once instead of found missing after a night's run. Each returns an
// empty text when all is well, otherwise what is wrong, for the person at the command line.

// The log directory: created (with its parents) if missing; a file is created in it and
// removed again to prove it can be written.
QString prepareLogDirectory(const QString& directory);

// The report file: not a directory, in an existing directory where its temporary file
// ("<file>.tmp") can be created.
QString checkReportPath(const QString& file);
