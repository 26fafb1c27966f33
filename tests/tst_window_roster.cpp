// The window as it comes up: every control of the roster at its design-time place and value,
// and the port rows as Form_Load stacks them.
#include "main_window/command_button.h"
#include "main_window/form1.h"
#include "main_window/label_control.h"
#include "main_window/multi_line_text_box.h"
#include "main_window/text_box.h"
#include "main_window/twips.h"
#include "main_window/window_timer.h"
#include "port_bank/explicit_port_directory.h"

#include <QFontInfo>
#include <QtTest>

class TestWindowRoster : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void controlsStartWithTheirDesignTimeValues();
    void controlsStandAtTheirDesignTimePlaces_data();
    void controlsStandAtTheirDesignTimePlaces();
    void portRowsAreSpacedByTheFirstLabelsHeight();
    void songStyleFontIsUsedWhereOneIsInstalled();
    void timersStartAsDesigned();
    void clientAreaMatchesTheRoster();
    void everyControlCarriesAnAccessibleName();

private:
    ExplicitPortDirectory* directory_ = nullptr;
    Form1* form_ = nullptr;
};

void TestWindowRoster::init()
{
    directory_ = new ExplicitPortDirectory({});
    form_ = new Form1(*directory_);
}

void TestWindowRoster::cleanup()
{
    delete form_;
    delete directory_;
}

void TestWindowRoster::controlsStartWithTheirDesignTimeValues()
{
    Form1& f = *form_;
    QVERIFY(f.isVisible());
    QCOMPARE(f.settingsBox()->text(), QStringLiteral("115200,n,8,1"));
    QCOMPARE(f.settingsCaption()->text(), QStringLiteral("串口设置"));
    QCOMPARE(f.hintLabel()->text(),
             QStringLiteral("同时打开所有端口了，那个好用，那个绿色，并且有回读数据"));
    QCOMPARE(f.hintLabel()->foreColor(), 0xC04000u);
    for (int i = 0; i < Roster::kPorts; ++i) {
        QCOMPARE(f.statusLabel(i)->text(), QStringLiteral("串口%1").arg(i + 1));
        QVERIFY(f.receiveBox(i)->text().isEmpty());
    }
    QCOMPARE(f.sweepIntervalBox()->text(), QStringLiteral("200"));
    QCOMPARE(f.totalChannelsBox()->text(), QStringLiteral("112"));
    QCOMPARE(f.startChannelBox()->text(), QStringLiteral("0"));
    QCOMPARE(f.endChannelBox()->text(), QStringLiteral("31"));
    QCOMPARE(f.prefixBox()->text(), QStringLiteral(":::::::::::ZAVB"));
    QCOMPARE(f.endCommandBox()->text(), QStringLiteral(":::ZAVB."));
    QCOMPARE(f.currentChannelBox()->text(), QStringLiteral("XXX"));
    QCOMPARE(f.logLengthLabel()->text(), QStringLiteral("Label7"));
    QVERIFY(f.receiveLog()->text().isEmpty());
    QCOMPARE(f.sweepButton()->text(), QStringLiteral("所有端口循环测试 ZAV指令"));
    QCOMPARE(f.fastSweepButton()->text(), QStringLiteral("快速"));
    QVERIFY(!f.fastSweepButton()->isVisible());
    QVERIFY(f.fastSweepButton()->tag().isEmpty());
    QCOMPARE(f.clearLogButton()->text(), QStringLiteral("清空"));
    QCOMPARE(f.exitButton()->text(), QStringLiteral("退出"));
    QCOMPARE(f.referenceBox()->text().count(QStringLiteral("\r\n")), 40);
    // Every preset's caption and default command, by index.
    const char16_t* const presets[9][2] = {
        {u"全部亮", u":::ZAVA."},
        {u"全部关", u":::ZAVB."},
        {u"全部闪", u":::ZAVC."},
        {u"单个亮", u":::ZAVZ0A."},
        {u"单个关", u":::ZAVZ0B."},
        {u"单个闪", u":::ZAVZ0C."},
        {u"读状态", u":::G"},
        {u"段操作", u":::ZAVB0-5,7-20A."},
        {u"块填充指令", u":::ZAVB0-9999(EFG)."},
    };
    for (int i = 0; i < 9; ++i) {
        QCOMPARE(f.presetButton(i)->text(), QString::fromUtf16(presets[i][0]));
        QCOMPARE(f.presetBox(i)->text(), QString::fromUtf16(presets[i][1]));
    }
    QVERIFY(f.windowTitle().startsWith(QStringLiteral("Lightbench ")));
    QVERIFY(!f.windowIcon().isNull());
}

void TestWindowRoster::controlsStandAtTheirDesignTimePlaces_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QRect>("twips"); // left, top, width, height
    QTest::newRow("settings box") << "settings box" << QRect(11880, 1080, 1695, 285);
    QTest::newRow("hint label") << "hint label" << QRect(11040, 240, 2580, 465);
    QTest::newRow("sweep button") << "sweep button" << QRect(720, 4440, 2535, 495);
    QTest::newRow("sweep interval box") << "sweep interval box" << QRect(1920, 5160, 735, 285);
    QTest::newRow("prefix box") << "prefix box" << QRect(1560, 6240, 1095, 270);
    QTest::newRow("current channel box") << "current channel box" << QRect(2640, 6240, 615, 285);
    QTest::newRow("end channel box") << "end channel box" << QRect(1560, 6600, 1695, 285);
    QTest::newRow("end command box") << "end command box" << QRect(1560, 6960, 1695, 285);
    QTest::newRow("fast-sweep button") << "fast-sweep button" << QRect(2160, 7200, 855, 375);
    QTest::newRow("clear-log button") << "clear-log button" << QRect(7440, 4440, 615, 375);
    QTest::newRow("receive log") << "receive log" << QRect(3960, 4920, 6495, 2535);
    QTest::newRow("reference box") << "reference box" << QRect(360, 7920, 10215, 1575);
    QTest::newRow("exit button") << "exit button" << QRect(12120, 8640, 1215, 855);
    QTest::newRow("preset button 6") << "preset button 6" << QRect(3960, 4440, 855, 375);
    QTest::newRow("preset box 6") << "preset box 6" << QRect(4920, 4440, 2415, 405);
    QTest::newRow("preset button 8") << "preset button 8" << QRect(240, 3855, 1095, 375);
    QTest::newRow("preset box 3") << "preset box 3" << QRect(1440, 2040, 2775, 405);
}

void TestWindowRoster::controlsStandAtTheirDesignTimePlaces()
{
    QFETCH(QString, control);
    QFETCH(QRect, twips);
    Form1& f = *form_;
    const QMap<QString, QWidget*> byName = {
        {"settings box", f.settingsBox()},
        {"hint label", f.hintLabel()},
        {"sweep button", f.sweepButton()},
        {"sweep interval box", f.sweepIntervalBox()},
        {"prefix box", f.prefixBox()},
        {"current channel box", f.currentChannelBox()},
        {"end channel box", f.endChannelBox()},
        {"end command box", f.endCommandBox()},
        {"fast-sweep button", f.fastSweepButton()},
        {"clear-log button", f.clearLogButton()},
        {"receive log", f.receiveLog()},
        {"reference box", f.referenceBox()},
        {"exit button", f.exitButton()},
        {"preset button 6", f.presetButton(6)},
        {"preset box 6", f.presetBox(6)},
        {"preset button 8", f.presetButton(8)},
        {"preset box 3", f.presetBox(3)},
    };
    QWidget* widget = byName.value(control);
    QVERIFY(widget);
    const QRect expected(Twips::toPixels(twips.left()), Twips::toPixels(twips.top()),
                         Twips::toPixels(twips.width()), Twips::toPixels(twips.height()));
    QCOMPARE(widget->geometry(), expected);
}

void TestWindowRoster::portRowsAreSpacedByTheFirstLabelsHeight()
{
    Form1& f = *form_;
    const int step = f.statusLabel(0)->height();
    QVERIFY(step > 0);
    QCOMPARE(f.statusLabel(0)->y(), Twips::toPixels(1560));
    for (int i = 0; i < Roster::kPorts; ++i) {
        QCOMPARE(f.statusLabel(i)->x(), Twips::toPixels(11040));
        QCOMPARE(f.statusLabel(i)->y(), f.statusLabel(0)->y() + i * step);
        QCOMPARE(f.receiveBox(i)->y(), f.statusLabel(i)->y());
        QCOMPARE(f.receiveBox(i)->x(), Twips::toPixels(12000));
        QCOMPARE(f.receiveBox(i)->size(), QSize(Twips::toPixels(1455), Twips::toPixels(270)));
    }
    // Two-digit rows are wider, yet spaced the same: the spacing follows the first status label
    // alone.
    QVERIFY(f.statusLabel(9)->width() > f.statusLabel(8)->width());
    // Labels are auto-sized to their caption in the Song font.
    QCOMPARE(f.statusLabel(0)->height(), f.statusLabel(0)->sizeHint().height());
}

void TestWindowRoster::songStyleFontIsUsedWhereOneIsInstalled()
{
    const QFontInfo used(form_->statusLabel(0)->font());
    const QStringList songFaces = {"SimSun",
                                   "NSimSun",
                                   "AR PL UMing CN",
                                   "Noto Serif CJK SC",
                                   "Source Han Serif SC",
                                   QStringLiteral("宋体")};
    if (!QFontDatabase::families().contains("AR PL UMing CN"))
        QSKIP("no Song-style face installed (fonts-arphic-uming)");
    QVERIFY2(songFaces.contains(used.family()), qPrintable(used.family()));
    QCOMPARE(form_->statusLabel(0)->font().pointSizeF(), 14.25);
    QCOMPARE(form_->receiveLog()->font().pointSizeF(), 12.0);
}

void TestWindowRoster::timersStartAsDesigned()
{
    Form1& f = *form_;
    QCOMPARE(f.sweepTimer()->interval(), 200);
    QVERIFY(!f.sweepTimer()->isEnabled());
    QCOMPARE(f.receivePollTimer()->interval(), 200);
    QVERIFY(f.receivePollTimer()->isEnabled());
    QCOMPARE(f.openingPassTimer()->interval(), 1000);
    QVERIFY(f.openingPassTimer()->isEnabled());
}

void TestWindowRoster::clientAreaMatchesTheRoster()
{
    QCOMPARE(form_->size(), QSize(Twips::toPixels(13785), Twips::toPixels(9660)));
}

void TestWindowRoster::everyControlCarriesAnAccessibleName()
{
    QSet<QString> names;
    const auto controls = form_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    int named = 0;
    for (QWidget* control : controls) {
        if (control->inherits("FrameShape"))
            continue; // decoration
        QVERIFY2(!control->accessibleName().isEmpty(), control->metaObject()->className());
        names.insert(control->accessibleName());
        ++named;
    }
    QCOMPARE(names.size(), named); // each name says which control it is
    QCOMPARE(form_->statusLabel(2)->accessibleName(), QStringLiteral("port 3 status"));
    QCOMPARE(form_->sweepIntervalBox()->accessibleName(), QStringLiteral("sweep interval (ms)"));
}

QTEST_MAIN(TestWindowRoster)
#include "tst_window_roster.moc"
