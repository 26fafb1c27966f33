#pragma once

#include <QByteArray>
#include <QString>

// Replaces the file at path with contents so that a reader, a crash or a power cut finds
// either the old file or the new one, whole: the contents go to "<path>.tmp", are forced to
// the disk, and the temporary file is renamed over path (and the directory synced). Returns
// an empty text on success, otherwise what failed, with the system's reason.
QString writeFileAtomically(const QString& path, const QByteArray& contents);
