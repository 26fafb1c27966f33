#include "main_window/song_font.h"

#include <QStringList>

QFont songFont(double pointSize)
{
    QFont font;
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("NSimSun"),
                      QStringLiteral("AR PL UMing CN"), QStringLiteral("Noto Serif CJK SC"),
                      QStringLiteral("Source Han Serif SC")});
    font.setPointSizeF(pointSize);
    return font;
}
