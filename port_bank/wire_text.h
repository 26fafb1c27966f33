#pragma once

#include <QByteArray>
#include <QString>

// Text on the wire is GB18030: ASCII passes unchanged, and the controllers' own texts are code
// page 936, of which GB18030 is a superset.

// The bytes of a command, exactly as the text gives them, with nothing added.
QByteArray encodeForWire(const QString& text);

// Decodes the bytes of one port as they arrive, in pieces cut anywhere: a character split between
// two pieces comes out whole with the second. Bytes that are no GB18030 text come out as U+FFFD.
//
// The decoder keeps the unfinished end of a piece itself and hands Qt only whole units
// (gb18030.h): Qt
// 6.4's own carry-over between calls loses a character when it replays a held byte that turns out
// to be invalid (81 39 31 fed byte by byte came out without the "1").
class WireDecoder {
public:
    QString decode(QByteArrayView bytes);
    // The first bytes of a character that the next piece is to finish.
    qsizetype heldBytes() const { return unfinished_.size(); }

private:
    QByteArray unfinished_;
};
