// The opening pass on its own: classification by the pass's own last-error code, which other
// handlers running in its yields must not disturb.
#include "port_bank/explicit_port_directory.h"
#include "port_bank/opening_pass.h"
#include "port_bank/port_bank.h"
#include "pty_peer.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

namespace {

struct RecordingView : OpeningPassView {
    QString settings = QStringLiteral("115200,n,8,1");
    std::array<PortStatus, 16> shown{};
    std::function<void(int)> duringYield = [](int) {};
    int yields = 0;

    QString settingsText() override { return settings; }
    void showCaption(int index, const QString& caption) override { shown[index].caption = caption; }
    void showColour(int index, std::uint32_t rgb) override { shown[index].rgb = rgb; }
    bool yieldAfterPort() override
    {
        duringYield(yields++);
        return true;
    }
};

} // namespace

class TestOpeningPass : public QObject {
    Q_OBJECT
private slots:
    void eachPortIsClassifiedByItsOwnOutcome();
    void whatOtherHandlersLeaveInTheLastErrorCodeDoesNotColourAPort();
};

void TestOpeningPass::eachPortIsClassifiedByItsOwnOutcome()
{
    PtyPeer three, five;
    ForeignHolder holder(five.slavePath(), ForeignHolder::Hold::Flock);
    QVERIFY(holder.isHolding());
    QTemporaryDir folder;
    const QString notATerminal = folder.filePath(QStringLiteral("ttyFILE"));
    QFile file(notATerminal);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    ExplicitPortDirectory directory({{3, three.linkPath()},
                                     {5, five.linkPath()},
                                     {7, "/nonexistent/ttyUSB7"},
                                     {9, notATerminal}});
    PortBank bank(directory);
    RecordingView view;
    runOpeningPass(bank, view);
    QCOMPARE(view.yields, 16);
    QCOMPARE(view.shown[2], (PortStatus{QStringLiteral("串口3"), 0x00FF00u}));
    QCOMPARE(view.shown[4], (PortStatus{QStringLiteral("占用5"), 0x0000FFu}));
    QCOMPARE(view.shown[6], (PortStatus{QStringLiteral("串口7"), 0xC0C0C0u}));
    QCOMPARE(view.shown[8], (PortStatus{QStringLiteral("串口9"), 0xFF0000u}));
    QCOMPARE(view.shown[3], (PortStatus{QStringLiteral("串口4"), 0xC0C0C0u}));
    QCOMPARE(view.shown[9], (PortStatus{QStringLiteral("串口10"), 0xC0C0C0u}));
    // The next pass finds port 3 open (its own steps fail with 8005) and keeps it green; the
    // port after it, which has no device, is gray, not blue.
    runOpeningPass(bank, view);
    QCOMPARE(view.shown[2].rgb, 0x00FF00u);
    QCOMPARE(view.shown[3].rgb, 0xC0C0C0u);
}

void TestOpeningPass::whatOtherHandlersLeaveInTheLastErrorCodeDoesNotColourAPort()
{
    PtyPeer sixteen;
    ExplicitPortDirectory directory({{15, "/nonexistent/ttyB"}, {16, sixteen.linkPath()}});
    PortBank bank(directory);
    RecordingView view;
    // A nested pass or a receive poll in the yield leaves 8005 or 8018 behind.
    view.duringYield = [&](int yield) {
        bank.lastError().code = yield % 2 == 0 ? PortError::AlreadyOpen : PortError::NotOpen;
    };
    runOpeningPass(bank, view);
    QCOMPARE(view.shown[14], (PortStatus{QStringLiteral("串口15"), 0xC0C0C0u}));
    QCOMPARE(view.shown[15], (PortStatus{QStringLiteral("串口16"), 0x00FF00u}));
    QCOMPARE(view.shown[0].rgb, 0xC0C0C0u);
}

QTEST_GUILESS_MAIN(TestOpeningPass)
#include "tst_opening_pass.moc"
