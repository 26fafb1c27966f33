// Paths that Windows would open as a device: a report or log given one of them must be refused,
// or it would be written into a controller. The rule is plain text, so it is checked here too.
#include "session_log/windows_device_path.h"

#include <QTest>

class TestDevicePath : public QObject {
    Q_OBJECT
private slots:
    void devices_data();
    void devices();
};

void TestDevicePath::devices_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("device"); // empty: a file

    QTest::newRow("COM port") << "COM3"
                              << "COM3";
    QTest::newRow("lower case, extension") << "reports\\com1.csv"
                                           << "com1.csv";
    QTest::newRow("forward slash, two extensions") << "C:/logs/Lpt9.tar.gz"
                                                   << "Lpt9.tar.gz";
    QTest::newRow("spaces before the extension") << "d:\\x\\nul  .txt"
                                                 << "nul  .txt";
    QTest::newRow("colon after the name") << "aux:"
                                          << "aux:";
    QTest::newRow("drive-relative") << "C:PRN"
                                    << "PRN";
    QTest::newRow("console") << "CONOUT$"
                             << "CONOUT$";
    QTest::newRow("superscript digit")
        << QStringLiteral(u"COM\u00B2.csv") << QStringLiteral(u"COM\u00B2.csv");
    QTest::newRow("con with a dot") << "con."
                                    << "con.";
    QTest::newRow("device namespace") << "\\\\.\\COM12"
                                      << "\\\\.\\";
    QTest::newRow("raw namespace, forward slashes") << "//?/C:/r.csv"
                                                    << "//?/";
    QTest::newRow("object manager namespace") << "\\??\\C:\\r.csv"
                                              << "\\??\\";

    QTest::newRow("COM10 is a file") << "COM10"
                                     << "";
    QTest::newRow("COM0 is a file") << "COM0.csv"
                                    << "";
    QTest::newRow("a longer name") << "console.csv"
                                   << "";
    QTest::newRow("device name in the folder") << "C:\\CON\\report.csv"
                                               << "";
    QTest::newRow("name after a prefix") << "com1-report.csv"
                                         << "";
    QTest::newRow("space inside the name") << "CO M1"
                                           << "";
    QTest::newRow("network share") << "\\\\bench\\logs\\run.csv"
                                   << "";
    QTest::newRow("Linux device stays a path") << "/dev/ttyS0"
                                               << "";
}

void TestDevicePath::devices()
{
    QFETCH(QString, path);
    QFETCH(QString, device);
    QCOMPARE(windowsDeviceIn(path), device);
}

QTEST_APPLESS_MAIN(TestDevicePath)
#include "tst_session_log_device_path.moc"
