#include "main_window/roster.h"

#include "commands/command_reference.h"
#include "commands/presets.h"
#include "main_window/command_button.h"
#include "main_window/frame_shape.h"
#include "main_window/label_control.h"
#include "main_window/multi_line_text_box.h"
#include "main_window/song_font.h"
#include "main_window/text_box.h"
#include "main_window/twips.h"
#include "main_window/window_timer.h"

namespace {

struct Box {
    double left, top, width, height;
};

template <typename Control> Control* placed(Control* control, Box box)
{
    Twips::place(control, box.left, box.top, box.width, box.height);
    return control;
}

LabelControl* autoSizeLabel(QWidget* form, const QString& caption, Box box)
{
    auto* label = placed(new LabelControl(caption, true, form), box);
    label->resize(label->sizeHint());
    return label;
}

TextBox* textBox(QWidget* form, const QString& text, Box box)
{
    return placed(new TextBox(text, form), box);
}

CommandButton* button(QWidget* form, const QString& caption, Box box)
{
    return placed(new CommandButton(caption, form), box);
}

// Preset geometry: button, then its command box.
constexpr std::array<std::pair<Box, Box>, Roster::kPresets> kPresetBoxes = {{
    {{240, 360, 1095, 375}, {1440, 360, 2775, 405}},
    {{240, 855, 1095, 375}, {1440, 840, 2775, 405}},
    {{240, 1350, 1095, 375}, {1440, 1320, 2775, 405}},
    {{240, 2085, 1095, 375}, {1440, 2040, 2775, 405}},
    {{240, 2520, 1095, 375}, {1440, 2520, 2775, 405}},
    {{240, 3000, 1095, 375}, {1440, 2985, 2775, 405}},
    {{3960, 4440, 855, 375}, {4920, 4440, 2415, 405}},
    {{240, 3480, 1095, 375}, {1440, 3465, 2775, 405}},
    {{240, 3855, 1095, 375}, {1440, 3840, 2775, 405}},
}};

} // namespace

// Names by role, so that screen readers and UI automation can find each control.
void Roster::nameForAccessibility()
{
    Label10->setAccessibleName(QStringLiteral("hint"));
    Label8->setAccessibleName(QStringLiteral("serial settings caption"));
    Text10->setAccessibleName(QStringLiteral("serial settings"));
    for (int i = 0; i < kPorts; ++i) {
        Label9[i]->setAccessibleName(QStringLiteral("port %1 status").arg(i + 1));
        Text11[i]->setAccessibleName(QStringLiteral("port %1 received").arg(i + 1));
    }
    for (int i = 0; i < kPresets; ++i) {
        Command1[i]->setAccessibleName(QStringLiteral("send preset %1").arg(i + 1));
        Text1[i]->setAccessibleName(QStringLiteral("preset %1 command").arg(i + 1));
    }
    Command4->setAccessibleName(QStringLiteral("start or stop the sweep"));
    Label5->setAccessibleName(QStringLiteral("sweep interval caption"));
    Text8->setAccessibleName(QStringLiteral("sweep interval (ms)"));
    Label2->setAccessibleName(QStringLiteral("total channels caption"));
    Text5->setAccessibleName(QStringLiteral("total channels"));
    Label3->setAccessibleName(QStringLiteral("start channel caption"));
    Text6->setAccessibleName(QStringLiteral("start channel"));
    Label6->setAccessibleName(QStringLiteral("current channel caption"));
    Text2->setAccessibleName(QStringLiteral("sweep command prefix"));
    Text9->setAccessibleName(QStringLiteral("current channel"));
    Label4->setAccessibleName(QStringLiteral("end channel caption"));
    Text7->setAccessibleName(QStringLiteral("end channel"));
    Label1->setAccessibleName(QStringLiteral("end command caption"));
    Text3->setAccessibleName(QStringLiteral("end command"));
    Command6->setAccessibleName(QStringLiteral("start or stop the fast sweep"));
    Command2->setAccessibleName(QStringLiteral("clear the receive log"));
    Label7->setAccessibleName(QStringLiteral("receive log length"));
    Text4->setAccessibleName(QStringLiteral("receive log"));
    Text12->setAccessibleName(QStringLiteral("command reference"));
    Command3->setAccessibleName(QStringLiteral("exit"));
}

void Roster::createControls(QWidget* form)
{
    // The frames first, so that they stay behind the controls they surround.
    Shape1 = placed(new FrameShape(form), {120, 4320, 3495, 3255});
    Shape4 = placed(new FrameShape(form), {3840, 4320, 6735, 3255});

    Label10 = placed(new LabelControl(QStringLiteral("同时打开所有端口了，那个好用，那个绿色，"
                                                     "并且有回读数据"),
                                      false, form),
                     {11040, 240, 2580, 465});
    Label10->setForeColor(0xC04000);
    Label8 = autoSizeLabel(form, QStringLiteral("串口设置"), {11040, 1080, 720, 180});
    Text10 = textBox(form, QStringLiteral("115200,n,8,1"), {11880, 1080, 1695, 285});

    for (int i = 0; i < kPorts; ++i) {
        const Box labelBox = i == 0 ? Box{11040, 1560, 720, 285} : Box{11040, 2040, 720, 285};
        auto* label = placed(new LabelControl(QStringLiteral("串口1"), true, form), labelBox);
        label->setFont(songFont(14.25));
        label->resize(label->sizeHint());
        Label9[i] = label;
        const Box receiveBox = i == 0 ? Box{12000, 1560, 1455, 270} : Box{12480, 2400, 1455, 270};
        Text11[i] = textBox(form, i == 0 ? QString() : QStringLiteral("Text11"), receiveBox);
        // A chunk can be tens of kilobytes; the box shows a dozen characters of its end.
        Text11[i]->setShownLimit(kReceiveBoxShown);
    }

    const QList<Preset> defaults = presets();
    for (int i = 0; i < kPresets; ++i) {
        Command1[i] = button(form, defaults[i].caption, kPresetBoxes[i].first);
        Text1[i] = textBox(form, defaults[i].defaultCommand, kPresetBoxes[i].second);
        Text1[i]->setFont(songFont(14.25));
    }

    Command4 = button(form, QStringLiteral("所有端口循环测试 ZAV指令"), {720, 4440, 2535, 495});
    Label5 = autoSizeLabel(form, QStringLiteral("间隔时间（ms）"), {600, 5160, 1275, 195});
    Text8 = textBox(form, QStringLiteral("200"), {1920, 5160, 735, 285});
    Label2 = autoSizeLabel(form, QStringLiteral("端口总数"), {720, 5520, 720, 195});
    Text5 = textBox(form, QStringLiteral("112"), {1560, 5520, 1695, 285});
    Label3 = autoSizeLabel(form, QStringLiteral("起始端口"), {720, 5880, 720, 195});
    Text6 = textBox(form, QStringLiteral("0"), {1560, 5880, 1695, 285});
    Label6 = autoSizeLabel(form, QStringLiteral("当前端口"), {720, 6240, 720, 195});
    Text2 = textBox(form, QStringLiteral(":::::::::::ZAVB"), {1560, 6240, 1095, 270});
    Text9 = textBox(form, QStringLiteral("XXX"), {2640, 6240, 615, 285});
    // The sweeps rewrite these at every step, up to tens of thousands of times a second.
    Text2->setFrameLimited(true);
    Text9->setFrameLimited(true);
    Label4 = autoSizeLabel(form, QStringLiteral("结束端口"), {720, 6720, 720, 195});
    Text7 = textBox(form, QStringLiteral("31"), {1560, 6600, 1695, 285});
    Label1 = autoSizeLabel(form, QStringLiteral("结束指令"), {720, 7080, 720, 180});
    Text3 = textBox(form, QStringLiteral(":::ZAVB."), {1560, 6960, 1695, 285});
    Command6 = button(form, QStringLiteral("快速"), {2160, 7200, 855, 375});
    Command6->setVisible(false);

    Command2 = button(form, QStringLiteral("清空"), {7440, 4440, 615, 375});
    Label7 = autoSizeLabel(form, QStringLiteral("Label7"), {8280, 4560, 540, 180});
    Text4 = placed(new MultiLineTextBox(QString(), form), {3960, 4920, 6495, 2535});
    Text4->setFont(songFont(12));

    Text12 = placed(new MultiLineTextBox(commandReferenceText(), form), {360, 7920, 10215, 1575});
    Command3 = button(form, QStringLiteral("退出"), {12120, 8640, 1215, 855});

    nameForAccessibility();

    Timer1 = new WindowTimer(200, false, form);
    Timer2 = new WindowTimer(200, true, form);
    Timer3 = new WindowTimer(1000, true, form);
}
