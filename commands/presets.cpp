#include "commands/presets.h"

QList<Preset> presets()
{
    return {
        {0, QStringLiteral(u"全部亮"), QStringLiteral(":::ZAVA.")},
        {1, QStringLiteral(u"全部关"), QStringLiteral(":::ZAVB.")},
        {2, QStringLiteral(u"全部闪"), QStringLiteral(":::ZAVC.")},
        {3, QStringLiteral(u"单个亮"), QStringLiteral(":::ZAVZ0A.")},
        {4, QStringLiteral(u"单个关"), QStringLiteral(":::ZAVZ0B.")},
        {5, QStringLiteral(u"单个闪"), QStringLiteral(":::ZAVZ0C.")},
        // A status query: the one preset without the ZAV keyword.
        {6, QStringLiteral(u"读状态"), QStringLiteral(":::G")},
        {7, QStringLiteral(u"段操作"), QStringLiteral(":::ZAVB0-5,7-20A.")},
        {8, QStringLiteral(u"块填充指令"), QStringLiteral(":::ZAVB0-9999(EFG).")},
    };
}
