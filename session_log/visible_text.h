#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Bytes of GB18030 text as a person reads them in a log, in UTF-8, with nothing lost and
// nothing ambiguous: every character that decodes passes as itself, control characters become
// escapes ("\r", "\n", "\t", "\x1b"; "\u0085" beyond ASCII), a byte that starts no valid
// character becomes "\xNN" and the next byte is read afresh, and the backslash itself is "\\".
//
// Bytes come in pieces cut anywhere: an unfinished character at the end of a piece is held and
// finished by the next piece. Characters are told apart as the decoder does (gb18030.h); Qt
// decodes only whole ones, and a sequence it has no character for is escaped byte by byte.
class VisibleText {
public:
    // Appends the visible form of bytes to out, holding back an unfinished character.
    void append(QByteArrayView bytes, QByteArray& out);
    // No more bytes follow: the held bytes, if any, are appended as escapes.
    void finish(QByteArray& out);
    bool holdsBytes() const { return !held_.isEmpty(); }
    qsizetype heldCount() const { return held_.size(); }

    // The visible form of bytes that are complete in themselves (a command as sent).
    static QByteArray of(QByteArrayView bytes);
    static void appendOf(QByteArrayView bytes, QByteArray& out);
    // Whether bytes are their own visible form (printable ASCII, no backslash).
    static bool isPlain(QByteArrayView bytes);
    // The visible form of a text (an event's detail): controls and the backslash escaped.
    static QByteArray ofText(const QString& text);

private:
    void appendSequence(QByteArrayView sequence, QByteArray& out);

    QByteArray held_;
};
