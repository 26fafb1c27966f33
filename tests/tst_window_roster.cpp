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
#include <QProcess>
#include <QRegularExpression>
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
    QCOMPARE(f.Text10->text(), QStringLiteral("115200,n,8,1"));
    QCOMPARE(f.Label8->text(), QStringLiteral("串口设置"));
    QCOMPARE(f.Label10->text(),
             QStringLiteral("同时打开所有端口了，那个好用，那个绿色，并且有回读数据"));
    QCOMPARE(f.Label10->foreColor(), 0xC04000u);
    for (int i = 0; i < Roster::kPorts; ++i) {
        QCOMPARE(f.Label9[i]->text(), QStringLiteral("串口%1").arg(i + 1));
        QVERIFY(f.Text11[i]->text().isEmpty());
    }
    QCOMPARE(f.Text8->text(), QStringLiteral("200"));
    QCOMPARE(f.Text5->text(), QStringLiteral("112"));
    QCOMPARE(f.Text6->text(), QStringLiteral("0"));
    QCOMPARE(f.Text7->text(), QStringLiteral("31"));
    QCOMPARE(f.Text2->text(), QStringLiteral(":::::::::::ZAVB"));
    QCOMPARE(f.Text3->text(), QStringLiteral(":::ZAVB."));
    QCOMPARE(f.Text9->text(), QStringLiteral("XXX"));
    QCOMPARE(f.Label7->text(), QStringLiteral("Label7"));
    QVERIFY(f.Text4->text().isEmpty());
    QCOMPARE(f.Command4->text(), QStringLiteral("所有端口循环测试 ZAV指令"));
    QCOMPARE(f.Command6->text(), QStringLiteral("快速"));
    QVERIFY(!f.Command6->isVisible());
    QVERIFY(f.Command6->tag().isEmpty());
    QCOMPARE(f.Command2->text(), QStringLiteral("清空"));
    QCOMPARE(f.Command3->text(), QStringLiteral("退出"));
    QCOMPARE(f.Text12->text().count(QStringLiteral("\r\n")), 40);
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
        QCOMPARE(f.Command1[i]->text(), QString::fromUtf16(presets[i][0]));
        QCOMPARE(f.Text1[i]->text(), QString::fromUtf16(presets[i][1]));
    }
    // The title, the kind of controllers served and the build tag: the version, and the commit
    // when built from a git checkout (as this test's sources are, when git can say so).
    const QString title = f.windowTitle();
    const QRegularExpression caption(QStringLiteral(
        "^Lightbench 灯光和继电器控制器 [0-9]+\\.[0-9]+\\.[0-9]+(-g([0-9a-f]{12}))?(-dirty)?$"));
    const QRegularExpressionMatch parts = caption.match(title);
    QVERIFY2(parts.hasMatch(), qPrintable(title));
    QProcess git;
    git.start(QStringLiteral("git"),
              {QStringLiteral("-C"), qEnvironmentVariable("LIGHTBENCH_TEST_DATA"),
               QStringLiteral("rev-parse"), QStringLiteral("--short=12"), QStringLiteral("HEAD")});
    if (git.waitForFinished(10000) && git.exitCode() == 0)
        QCOMPARE(parts.captured(2), QString::fromLatin1(git.readAllStandardOutput().trimmed()));
    QVERIFY(!f.windowIcon().isNull());
}

void TestWindowRoster::controlsStandAtTheirDesignTimePlaces_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QRect>("twips"); // left, top, width, height
    QTest::newRow("Text10") << "Text10" << QRect(11880, 1080, 1695, 285);
    QTest::newRow("Label10") << "Label10" << QRect(11040, 240, 2580, 465);
    QTest::newRow("Command4") << "Command4" << QRect(720, 4440, 2535, 495);
    QTest::newRow("Text8") << "Text8" << QRect(1920, 5160, 735, 285);
    QTest::newRow("Text2") << "Text2" << QRect(1560, 6240, 1095, 270);
    QTest::newRow("Text9") << "Text9" << QRect(2640, 6240, 615, 285);
    QTest::newRow("Text7") << "Text7" << QRect(1560, 6600, 1695, 285);
    QTest::newRow("Text3") << "Text3" << QRect(1560, 6960, 1695, 285);
    QTest::newRow("Command6") << "Command6" << QRect(2160, 7200, 855, 375);
    QTest::newRow("Command2") << "Command2" << QRect(7440, 4440, 615, 375);
    QTest::newRow("Text4") << "Text4" << QRect(3960, 4920, 6495, 2535);
    QTest::newRow("Text12") << "Text12" << QRect(360, 7920, 10215, 1575);
    QTest::newRow("Command3") << "Command3" << QRect(12120, 8640, 1215, 855);
    QTest::newRow("Command1(6)") << "Command1(6)" << QRect(3960, 4440, 855, 375);
    QTest::newRow("Text1(6)") << "Text1(6)" << QRect(4920, 4440, 2415, 405);
    QTest::newRow("Command1(8)") << "Command1(8)" << QRect(240, 3855, 1095, 375);
    QTest::newRow("Text1(3)") << "Text1(3)" << QRect(1440, 2040, 2775, 405);
}

void TestWindowRoster::controlsStandAtTheirDesignTimePlaces()
{
    QFETCH(QString, control);
    QFETCH(QRect, twips);
    Form1& f = *form_;
    const QMap<QString, QWidget*> byName = {
        {"Text10", f.Text10},     {"Label10", f.Label10},
        {"Command4", f.Command4}, {"Text8", f.Text8},
        {"Text2", f.Text2},       {"Text9", f.Text9},
        {"Text7", f.Text7},       {"Text3", f.Text3},
        {"Command6", f.Command6}, {"Command2", f.Command2},
        {"Text4", f.Text4},       {"Text12", f.Text12},
        {"Command3", f.Command3}, {"Command1(6)", f.Command1[6]},
        {"Text1(6)", f.Text1[6]}, {"Command1(8)", f.Command1[8]},
        {"Text1(3)", f.Text1[3]},
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
    const int step = f.Label9[0]->height();
    QVERIFY(step > 0);
    QCOMPARE(f.Label9[0]->y(), Twips::toPixels(1560));
    for (int i = 0; i < Roster::kPorts; ++i) {
        QCOMPARE(f.Label9[i]->x(), Twips::toPixels(11040));
        QCOMPARE(f.Label9[i]->y(), f.Label9[0]->y() + i * step);
        QCOMPARE(f.Text11[i]->y(), f.Label9[i]->y());
        QCOMPARE(f.Text11[i]->x(), Twips::toPixels(12000));
        QCOMPARE(f.Text11[i]->size(), QSize(Twips::toPixels(1455), Twips::toPixels(270)));
    }
    // Two-digit rows are wider, yet spaced the same: the spacing follows Label9(0) alone.
    QVERIFY(f.Label9[9]->width() > f.Label9[8]->width());
    // Labels are auto-sized to their caption in the Song font.
    QCOMPARE(f.Label9[0]->height(), f.Label9[0]->sizeHint().height());
}

void TestWindowRoster::songStyleFontIsUsedWhereOneIsInstalled()
{
    const QFontInfo used(form_->Label9[0]->font());
    const QStringList songFaces = {"SimSun",
                                   "NSimSun",
                                   "AR PL UMing CN",
                                   "Noto Serif CJK SC",
                                   "Source Han Serif SC",
                                   QStringLiteral("宋体")};
    if (!QFontDatabase::families().contains("AR PL UMing CN"))
        QSKIP("no Song-style face installed (fonts-arphic-uming)");
    QVERIFY2(songFaces.contains(used.family()), qPrintable(used.family()));
    QCOMPARE(form_->Label9[0]->font().pointSizeF(), 14.25);
    QCOMPARE(form_->Text4->font().pointSizeF(), 12.0);
}

void TestWindowRoster::timersStartAsDesigned()
{
    Form1& f = *form_;
    QCOMPARE(f.Timer1->interval(), 200);
    QVERIFY(!f.Timer1->isEnabled());
    QCOMPARE(f.Timer2->interval(), 200);
    QVERIFY(f.Timer2->isEnabled());
    QCOMPARE(f.Timer3->interval(), 1000);
    QVERIFY(f.Timer3->isEnabled());
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
    QCOMPARE(form_->Label9[2]->accessibleName(), QStringLiteral("port 3 status"));
    QCOMPARE(form_->Text8->accessibleName(), QStringLiteral("sweep interval (ms)"));
}

QTEST_MAIN(TestWindowRoster)
#include "tst_window_roster.moc"
