#include "port_bank/lines/server_notice.h"

namespace {

const struct {
    QByteArray text;
    ServerNotice notice;
} kNotices[] = {
    {QByteArrayLiteral("Port already in use"), ServerNotice::InUse},
    {QByteArrayLiteral("Port's device already in use"), ServerNotice::InUse},
    {QByteArrayLiteral("Device open failure: "), ServerNotice::DeviceFailure},
};

} // namespace

ServerNotice serverNoticeIn(const QByteArray& said, bool complete)
{
    for (const auto& known : kNotices) {
        if (said.startsWith(known.text) || (!complete && (known.text + "\r\n").startsWith(said)))
            return known.notice;
    }
    return ServerNotice::None;
}

QString serverWords(const QByteArray& said)
{
    QByteArray line = said.left(said.indexOf('\n')).left(200).trimmed();
    for (char& c : line) {
        if (c < ' ' || c > '~')
            c = '?';
    }
    return QString::fromLatin1(line);
}
