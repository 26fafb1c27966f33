#pragma once

#include <QString>

// Checks made at start, before any port opens, so that a log or report that could never be
// written is refused at once instead of found missing after a night's run. Each returns an
// empty text when all is well, otherwise what is wrong, for the person at the command line.
// The checks create nothing that stays: a refused command line leaves no trace.

// The log directory: an existing directory that can be written, or a missing one whose nearest
// existing parent is a directory it can be created in.
QString checkLogDirectory(const QString& directory);
// Creates the log directory (with its parents) once every check has passed.
QString createLogDirectory(const QString& directory);
// Both, for a caller with nothing else to check.
QString prepareLogDirectory(const QString& directory);

// The report file: a regular file or a new name (never a device, a pipe, a directory or a
// symbolic link, which the report's replacement would replace), in an existing directory where
// its temporary file ("<file>.tmp") can be created.
QString checkReportPath(const QString& file);

// A name for this run's log files that no other run uses in directory: base, or base with a
// letter added ("2026-12-07T09-30-00b") when a run started in the same second already has files
// or a claim there. The name is claimed with a hidden file (claimFile) for as long as the run
// lasts, so that two runs started together never share a file; remove it at the end.
QString claimRunName(const QString& directory, const QString& base, QString& claimFile);
