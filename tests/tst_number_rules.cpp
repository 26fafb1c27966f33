#include "commands/decimal_text.h"
#include "commands/integer_rounding.h"
#include "commands/lenient_number.h"

#include <QRandomGenerator>
#include <QTest>
#include <cmath>
#include <limits>

// Exact, unlike QCOMPARE on doubles, which would let a wrongly rounded last bit pass.
static QString exactly(double value)
{
    return QString::number(value, 'g', 17);
}

// How the boxes' texts become numbers and numbers become command text.
class TestNumberRules : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void lenientNumber_data();
    void lenientNumber();
    void lenientNumberOfLongTexts_data();
    void lenientNumberOfLongTexts();
    void lenientNumberOfArbitraryText();

    void clampedIntegers_data();
    void clampedIntegers();

    void decimalText_data();
    void decimalText();
};

void TestNumberRules::initTestCase()
{
    // A desktop language with other digits, separators or decimal point must change neither
    // how boxes are read nor what is sent.
    QLocale::setDefault(QLocale(QLocale::Arabic, QLocale::Egypt));
}

void TestNumberRules::lenientNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");

    const double infinity = std::numeric_limits<double>::infinity();

    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("letters") << "abc" << 0.0;
    QTest::newRow("trailing letters") << "12abc" << 12.0;
    QTest::newRow("thousands comma") << "1,000" << 1.0;
    QTest::newRow("fraction") << "2.5" << 2.5;
    QTest::newRow("negative fraction") << "-1.5" << -1.5;
    QTest::newRow("plus sign") << "+3" << 3.0;
    QTest::newRow("sign alone") << "-" << 0.0;
    QTest::newRow("leading point") << ".5" << 0.5;
    QTest::newRow("signed leading point") << "-.5" << -0.5;
    QTest::newRow("second point ends it") << "1.2.3" << 1.2;

    QTest::newRow("blanks around and inside") << " 1 2 " << 12.0;
    QTest::newRow("tab CR LF") << "\t1\r\n2" << 12.0;
    QTest::newRow("blank after sign") << "- 5" << -5.0;
    QTest::newRow("blanks in exponent") << "1 e 3" << 1000.0;
    QTest::newRow("other white space ends it") << "1\u00a02" << 1.0;
    QTest::newRow("full-width digits") << QStringLiteral(u"１２") << 0.0;

    QTest::newRow("exponent") << "1e3" << 1000.0;
    QTest::newRow("d exponent") << "1d3" << 1000.0;
    QTest::newRow("negative D exponent") << "1D-2" << 0.01;
    QTest::newRow("e without digits") << "1e" << 1.0;
    QTest::newRow("exponent then letters") << "1e3x" << 1000.0;
    QTest::newRow("overflow") << "1e400" << infinity;
    QTest::newRow("negative overflow") << "-1e400" << -infinity;
    QTest::newRow("just above the largest double") << "1.8e308" << infinity;
    QTest::newRow("underflow") << "1e-400" << 0.0;
    QTest::newRow("huge exponent digits") << "1e99999999999999999999" << infinity;

    QTest::newRow("hex") << "&HFF" << 255.0;
    QTest::newRow("lower-case hex") << "&hff" << 255.0;
    QTest::newRow("hex blanks") << "& H 1 0" << 16.0;
    QTest::newRow("hex without digits") << "&H" << 0.0;
    QTest::newRow("hex 16-bit top") << "&H7FFF" << 32767.0;
    QTest::newRow("hex 16-bit pattern") << "&H8000" << -32768.0;
    QTest::newRow("hex 16-bit all ones") << "&HFFFF" << -1.0;
    QTest::newRow("hex 32-bit pattern") << "&H80000000" << -2147483648.0;
    QTest::newRow("hex 32-bit all ones") << "&HFFFFFFFF" << -1.0;
    QTest::newRow("hex leading zeros") << "&H0000FFFF" << -1.0;
    QTest::newRow("hex beyond 32 bits") << "&H100000000" << 4294967296.0;
    QTest::newRow("octal") << "&O17" << 15.0;
    QTest::newRow("octal all ones") << "&O177777" << -1.0;
    QTest::newRow("ampersand alone") << "&" << 0.0;
    QTest::newRow("signed hex") << "-&H10" << 0.0;
}

void TestNumberRules::lenientNumber()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    QCOMPARE(exactly(::lenientNumber(text)), exactly(expected));
}

void TestNumberRules::lenientNumberOfLongTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");

    const qsizetype million = 1'000'000;
    const double infinity = std::numeric_limits<double>::infinity();

    QTest::newRow("million nines") << QString(million, u'9') << infinity;
    QTest::newRow("million hex digits") << "&H" + QString(million, u'F') << infinity;
    QTest::newRow("million blanks, then a digit") << QString(million, u' ') + u'7' << 7.0;
    QTest::newRow("million digits scaled back")
        << u'1' + QString(million, u'0') + QStringLiteral("e-1000000") << 1.0;
    QTest::newRow("million fraction zeros scaled back")
        << "0." + QString(million - 1, u'0') + QStringLiteral("1e1000000") << 1.0;
    QTest::newRow("million-digit exponent") << "1e" + QString(million, u'9') << infinity;
    QTest::newRow("million-digit negative exponent") << "1e-" + QString(million, u'9') << 0.0;

    // 2^53 + 1 lies halfway between two doubles and rounds to the even one, 2^53; a non-zero
    // digit far beyond what is kept must still tip it upwards.
    const QString halfway = QStringLiteral("9007199254740993");
    QTest::newRow("halfway") << halfway + u'.' + QString(5000, u'0') << 9007199254740992.0;
    QTest::newRow("just above halfway")
        << halfway + u'.' + QString(5000, u'0') + u'1' << 9007199254740994.0;
    QTest::newRow("just above halfway, integer digits")
        << halfway + QString(5000, u'0') + QStringLiteral("1e-5001") << 9007199254740994.0;
}

void TestNumberRules::lenientNumberOfLongTexts()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    QCOMPARE(exactly(::lenientNumber(text)), exactly(expected));
}

void TestNumberRules::lenientNumberOfArbitraryText()
{
    // Whatever is pasted into a box, including lone surrogates and NULs, reads as some number.
    QRandomGenerator random(20240601);
    for (int round = 0; round < 20; ++round) {
        QByteArray bytes(100'000, Qt::Uninitialized);
        for (char& byte : bytes)
            byte = static_cast<char>(random.bounded(256));
        QString text = QString::fromUtf8(bytes);
        for (int i = 0; i < 2000; ++i)
            text[random.bounded(text.size())] = QChar(char16_t(random.bounded(0x10000)));
        QVERIFY(!std::isnan(::lenientNumber(text)));

        // Starting with a number: the rest must not change it.
        QCOMPARE(::lenientNumber(QStringLiteral("42x") + text), 42.0);
    }
}

void TestNumberRules::clampedIntegers_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("int16");
    QTest::addColumn<int>("int32");

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    const int int32Max = std::numeric_limits<std::int32_t>::max();
    const int int32Min = std::numeric_limits<std::int32_t>::min();

    QTest::newRow("2.5 to even") << 2.5 << 2 << 2;
    QTest::newRow("3.5 to even") << 3.5 << 4 << 4;
    QTest::newRow("-0.5 to even") << -0.5 << 0 << 0;
    QTest::newRow("-1.5 to even") << -1.5 << -2 << -2;
    QTest::newRow("-2.5 to even") << -2.5 << -2 << -2;
    QTest::newRow("below half") << 2.4999999 << 2 << 2;
    QTest::newRow("above half") << 2.5000001 << 3 << 3;
    QTest::newRow("16-bit top") << 32767.0 << 32767 << 32767;
    QTest::newRow("rounds past 16-bit top") << 32767.5 << 32767 << 32768;
    QTest::newRow("16-bit bottom") << -32768.0 << -32768 << -32768;
    QTest::newRow("rounds to 16-bit bottom") << -32768.5 << -32768 << -32768;
    QTest::newRow("rounds past 32-bit top") << 2147483647.5 << 32767 << int32Max;
    QTest::newRow("rounds to 32-bit bottom") << -2147483648.5 << -32768 << int32Min;
    QTest::newRow("far above") << 1e300 << 32767 << int32Max;
    QTest::newRow("infinity") << infinity << 32767 << int32Max;
    QTest::newRow("NaN") << nan << 0 << 0;
}

void TestNumberRules::clampedIntegers()
{
    QFETCH(double, value);
    QFETCH(int, int16);
    QFETCH(int, int32);
    QCOMPARE(int(toInt16Clamped(value)), int16);
    QCOMPARE(int(toInt32Clamped(value)), int32);
}

void TestNumberRules::decimalText_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("zero") << 0 << "0";
    QTest::newRow("negative") << -1 << "-1";
    QTest::newRow("16-bit bottom") << -32768 << "-32768";
    QTest::newRow("no separator") << 2147483647 << "2147483647";
    QTest::newRow("lowest int") << int(-2147483647 - 1) << "-2147483648";
}

void TestNumberRules::decimalText()
{
    QFETCH(int, value);
    QFETCH(QString, expected);
    QCOMPARE(::decimalText(value), expected);
}

QTEST_GUILESS_MAIN(TestNumberRules)
#include "tst_number_rules.moc"
