#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The bytes a port received since the last read, up to a fixed capacity. Past it the oldest
// bytes go, always whole GB18030 characters, so that what is kept decodes as it arrived. Every
// operation costs in proportion to the bytes it moves, never to the capacity.
//
// Characters are found by following the byte stream from where it began: the ring remembers
// where in a character its oldest byte stands, so a character begun before the last take (and
// held by the decoder) is still cut cleanly.
class ReceiveRing {
public:
    explicit ReceiveRing(qsizetype capacity);

    // Adds bytes at the newest end. Returns how many bytes were dropped at the oldest end to
    // make room (a few more than the overflow when it ends inside a character).
    qsizetype append(QByteArrayView bytes);

    // Everything held, oldest first; the ring is empty afterwards.
    QByteArray takeAll();

    // Forgets everything, and starts the character stream afresh (a port that opens again).
    void clear();

    qsizetype size() const { return size_; }
    qsizetype capacity() const { return capacity_; }

private:
    uchar at(qsizetype logical, QByteArrayView incoming) const;
    void store(QByteArrayView bytes);

    QByteArray storage_; // allocated at the first append
    qsizetype capacity_;
    qsizetype head_ = 0; // index of the oldest byte in storage_
    qsizetype size_ = 0;
    int headState_ = 0; // where in a character the oldest byte stands (0: at its start)
    int tailState_ = 0; // the same after the newest byte
};
