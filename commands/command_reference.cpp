#include "commands/command_reference.h"

#include <QStringView>

QString commandReferenceText()
{
    // Each line as the operator sees it. Blanks before "|" line the sample commands up for a
    // font where a Chinese character is two columns wide; punctuation, full-width and ASCII
    // mixed, and the blank that ends one line are part of the text.
    static constexpr QStringView lines[] = {
        u"注意端口从0开始",
        u"设置启始端口地址后自动启动无线模式,指令(选配功能)  |:SET_BOARD_ADR=0123.",
        u"清除无线模式(选配功能)  |:SET_BOARD_ADR=FFFF.",
        u"",
        u"全开            |:::ZAVA.",
        u"全开            |:::ZAVB0-9999.",
        u"全关            |:::ZAVB.",
        u"",
        u"某路开其它不变  |:::ZAVZ1A.",
        u"某路关其它不变  |:::ZAVZ1B.",
        u"某路取反其它不变|:::ZAVZ1Y.",
        u"",
        u"打开某几路其它关  |:::ZAVB1,3,5,10-20.",
        u"打开某几路其它不变|:::ZAVZ1,3,5,10-20.",
        u"关某几路其它不变  |:::ZAVZ1B,3B,5B,10-20B.",
        u"",
        u"示例1             |:::ZAVB1C3D,5N,12-20.",
        u"示例2             |:::ZAVZ1E2F3G,30Y,12-20B.",
        u"示例3             |:::ZAVB10AABBAAAA20CD30EFG.",
        u"示例4             |:::ZAVB0-1999(EFG).”，",
        u"“()”为块填充指令，表示对前面的端口段范围循环填充括号内部的指令，",
        u"此指令产生流水效果。",
        u"AB：A打开，B关闭，A可以省略不写。",
        u"CD：两路交替闪烁",
        u"EFG三路流水,STB30.设置流水速度。",
        u"N闪烁三次后开， ",
        u"L闪烁两次后开，",
        u"J闪烁一次后开。通过“:::STA50.”指令设置闪烁速度。",
        u"OPQ两路亮流水",
        u"Y原状态取反，只能对AB取反，不能更改其它状态。",
        u"Z保持原状态。",
        u"",
        u"a~k渐变调光功能小写字母",
        u"a 100%，b 0%，c 20%，d 40%，e 60%，f 80%，g100%，",
        u"h从当前亮度渐亮到100%，",
        u"i从当前亮度渐暗到0%,",
        u"通过“::::STB100.”~“::::STB200.”设置渐变的速度",
        u"从全暗到全亮的时间从1秒~100秒，不同型号的控制器时间可能不一样。",
        u"调光的指令不可以应用到继电器端口上.",
        u"一条指令的最大长度是128字节",
    };

    QString text;
    for (QStringView line : lines) {
        text += line;
        text += u"\r\n";
    }
    return text;
}
