#pragma once

#include <QByteArray>
#include <QString>

// Text from outside (answers, device names, the command line) made safe for an XML or XHTML
// file, as UTF-8: the five markup characters become entities, and characters XML 1.0 does not
// allow (controls other than tab and line ends, lone surrogates, U+FFFE, U+FFFF) are dropped.
// Good for element text and for attribute values in either kind of quotes.
void appendMarkup(QByteArray& out, const QString& text);
QByteArray markup(const QString& text);
