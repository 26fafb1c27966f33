#include "port_bank/receive_ring.h"

#include <algorithm>
#include <cstring>

namespace {

// GB18030 character structure, byte by byte. States: 0 at a character start; 1 after a lead byte
// (81-FE); 2 after lead and digit; 3 after lead, digit and second lead. A byte that cannot follow
// starts a character of its own, as the decoder takes it.
int nextState(int state, uchar byte)
{
    switch (state) {
    case 1:
        if (byte >= 0x30 && byte <= 0x39)
            return 2;
        if ((byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFE))
            return 0;
        break;
    case 2:
        if (byte >= 0x81 && byte <= 0xFE)
            return 3;
        break;
    case 3:
        if (byte >= 0x30 && byte <= 0x39)
            return 0;
        break;
    default:
        break;
    }
    return byte >= 0x81 && byte <= 0xFE ? 1 : 0;
}

} // namespace

ReceiveRing::ReceiveRing(qsizetype capacity) : capacity_(capacity) {}

uchar ReceiveRing::at(qsizetype logical, QByteArrayView incoming) const
{
    if (logical < size_)
        return uchar(storage_[(head_ + logical) % capacity_]);
    return uchar(incoming[logical - size_]);
}

qsizetype ReceiveRing::append(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return 0;
    if (storage_.isEmpty())
        storage_.resize(capacity_);

    const qsizetype overflow = size_ + bytes.size() - capacity_;
    qsizetype dropped = 0;
    if (overflow > 0) {
        // Walk whole characters from the oldest byte until at least the overflow is behind us.
        // Only the bytes dropped are looked at.
        qsizetype cut = 0;
        int state = headState_;
        const qsizetype total = size_ + bytes.size();
        while (cut < total && (cut < overflow || state != 0))
            state = nextState(state, at(cut++, bytes));
        dropped = cut;
        headState_ = state;
        if (cut >= size_) {
            bytes = bytes.sliced(cut - size_);
            head_ = 0;
            size_ = 0;
            tailState_ = state;
        } else {
            head_ = (head_ + cut) % capacity_;
            size_ -= cut;
        }
    }
    for (const char byte : bytes)
        tailState_ = nextState(tailState_, uchar(byte));
    store(bytes);
    return dropped;
}

void ReceiveRing::store(QByteArrayView bytes)
{
    qsizetype tail = (head_ + size_) % capacity_;
    const char* from = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const qsizetype piece = std::min(left, capacity_ - tail);
        std::memcpy(storage_.data() + tail, from, size_t(piece));
        from += piece;
        left -= piece;
        size_ += piece;
        tail = (tail + piece) % capacity_;
    }
}

QByteArray ReceiveRing::takeAll()
{
    QByteArray out(size_, Qt::Uninitialized);
    const qsizetype first = std::min(size_, capacity_ - head_);
    if (size_ > 0) {
        std::memcpy(out.data(), storage_.constData() + head_, size_t(first));
        std::memcpy(out.data() + first, storage_.constData(), size_t(size_ - first));
    }
    head_ = 0;
    size_ = 0;
    headState_ = tailState_;
    return out;
}

void ReceiveRing::clear()
{
    head_ = 0;
    size_ = 0;
    headState_ = 0;
    tailState_ = 0;
}
