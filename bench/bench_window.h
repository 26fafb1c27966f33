#pragma once

// The benchmarks' hold on the window: a window over given devices, its opening pass, and its fast
// sweep run as the operator runs it, until every byte has reached the far ends.

#include "bench_support.h"

#include "main_window/command_button.h"
#include "main_window/form1.h"
#include "main_window/freed_memory.h"
#include "main_window/text_box.h"
#include "port_bank/explicit_port_directory.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace bench {

struct Window {
    explicit Window(const QMap<int, QString>& ports) : directory(ports), form(directory)
    {
        returnFreedMemory(); // as the program does when it starts
    }
    ExplicitPortDirectory directory;
    Form1 form;
};

// The commands the window's fast sweep sends, as its boxes stand.
inline SweepSequence fastSequence(Form1& form)
{
    return SweepSequence(fastRangeCommand, form.startChannelBox()->text().toInt(),
                         form.endChannelBox()->text().toInt(),
                         form.endCommandBox()->text().toLatin1());
}

// One opening pass by hand; its timer keeps running as in use. Then one turn of the event loop,
// as the program has before the operator's first click: a window that has never been through
// its event loop does not repaint while a sweep runs in there, so the sweep would be measured
// without its drawing. False, saying which, when one of the first `ports` ports did not open.
inline bool openPorts(Form1& form, int ports)
{
    form.openingPass();
    QEventLoop firstTurn;
    QTimer::singleShot(0, &firstTurn, &QEventLoop::quit);
    firstTurn.exec();
    for (int i = 0; i < ports; ++i) {
        if (!form.portBank().port(i).isOpen()) {
            std::printf("port %d did not open\n", i + 1);
            return false;
        }
    }
    return true;
}

// Waits until the window has handed every byte to its ports and the peers have read them all,
// that is nothing has moved for quietSeconds. False when that takes over 30 s.
inline bool settle(Form1& form, ReadingPeers& peers, double quietSeconds = 0.2)
{
    const Clock::time_point start = Clock::now();
    qint64 lastTotal = -1;
    Clock::time_point quietSince = Clock::now();
    while (secondsSince(start) < 30) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        ::usleep(5000);
        bool queued = false;
        for (int i = 0; i < peers.count(); ++i)
            queued = queued || form.portBank().port(i).pendingOutput() > 0;
        const qint64 total = peers.totalBytes();
        if (total != lastTotal || queued) {
            lastTotal = total;
            quietSince = Clock::now();
        } else if (secondsSince(quietSince) > quietSeconds) {
            return true;
        }
    }
    return false;
}

// The window's fast sweep, started and stopped by clicks on its button as the operator would:
// the stop click arrives through the sweep's own yield. atStart runs warmUpMs after the start
// click, atEnd `seconds` after that, just before the stop click. Returns once the click handler
// that ran the sweep has returned; the ports may still hold output (see settle()).
inline void driveFastSweep(Form1& form, int warmUpMs, double seconds,
                           const std::function<void()>& atStart, const std::function<void()>& atEnd)
{
    QEventLoop loop;
    QTimer::singleShot(warmUpMs, Qt::PreciseTimer, &form, atStart);
    QTimer::singleShot(warmUpMs + int(seconds * 1000), Qt::PreciseTimer, &form, [&] {
        atEnd();
        QMetaObject::invokeMethod(&form, &Form1::clickFastSweep, Qt::QueuedConnection);
        loop.quit(); // takes effect once the click handler that runs the sweep has returned
    });
    QMetaObject::invokeMethod(&form, &Form1::clickFastSweep, Qt::QueuedConnection);
    loop.exec();
    if (form.fastSweepButton()->tag() != QStringLiteral("0"))
        std::printf("  the fast sweep did not stop (run flag \"%s\")\n",
                    qPrintable(form.fastSweepButton()->tag()));
}

} // namespace bench
