#include "run_page/markup_text.h"

namespace {

bool allowedInXml(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

} // namespace

void appendMarkup(QByteArray& out, const QString& text)
{
    // A surrogate pair passes whole; a lone half is dropped like any character XML refuses.
    QString kept;
    kept.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            kept.append(c);
            kept.append(text[++i]);
            continue;
        }
        if (c.isSurrogate() || !allowedInXml(c.unicode()))
            continue;
        switch (c.unicode()) {
        case '&':
            kept.append(QLatin1String("&amp;"));
            break;
        case '<':
            kept.append(QLatin1String("&lt;"));
            break;
        case '>':
            kept.append(QLatin1String("&gt;"));
            break;
        case '"':
            kept.append(QLatin1String("&quot;"));
            break;
        case '\'':
            kept.append(QLatin1String("&#39;"));
            break;
        default:
            kept.append(c);
        }
    }
    out.append(kept.toUtf8());
}

QByteArray markup(const QString& text)
{
    QByteArray out;
    appendMarkup(out, text);
    return out;
}
