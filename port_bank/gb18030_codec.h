#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// GB18030 text and bytes, whole characters only: callers hand over whole units (gb18030.h) and
// text without unpaired surrogates. Each platform builds its own definitions: Qt's converter,
// which needs ICU, on Unix; the system's code page 54936 on Windows, where this program's Qt has
// no ICU (and code page 936 where the system lacks 54936, as wine does).
QByteArray gb18030FromText(const QString& text);
// Bytes that are no GB18030 text come out as U+FFFD.
QString gb18030ToText(QByteArrayView bytes);
