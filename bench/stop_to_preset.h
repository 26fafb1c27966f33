#pragma once

// d) From the stop of a long timed sweep at 1 ms to the arrival of a preset at the far line, a
// local port against a network one (ser2net, RFC 2217), both far lines draining at 11,520 B/s
// as a 115200-baud line does. The operator presses the preset every 200 ms until both far lines
// have it: a port whose output is full refuses it, as a local port does.

#include "bench_window.h"
#include "paced_reader.h"
#include "ser2net_server.h"

#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace bench {

inline void runEventLoop(int ms)
{
    QEventLoop pause;
    QTimer::singleShot(ms, &pause, &QEventLoop::quit);
    pause.exec();
}

inline void reportStopToPreset(double sweepSeconds)
{
    constexpr int kLineRate = 11520;
    const QByteArray marker("@PRESET@");
    PtySet ptys;
    Ser2netServer ser2net;
    if (!ptys.open(2))
        return;
    QMap<int, QString> devices{
        {1, ptys.devices.value(1)},
        {2, ser2net.serve(ptys.ptys[1]->slavePath, Ser2netServer::Protocol::Rfc2217)}};
    if (!ser2net.start()) {
        std::printf("d) ser2net did not start\n");
        return;
    }
    Window window(devices);
    Form1& form = window.form;
    for (int pass = 0;
         pass < 100 && !(form.portBank().port(0).isOpen() && form.portBank().port(1).isOpen());
         ++pass) {
        form.openingPass();
        runEventLoop(100);
    }
    if (!form.portBank().port(0).isOpen() || !form.portBank().port(1).isOpen()) {
        std::printf("d) the ports did not open\n");
        return;
    }
    PacedReader local(ptys.masters[0], kLineRate, marker);
    PacedReader network(ptys.masters[1], kLineRate, marker);
    form.presetBox(0)->setText(QString::fromLatin1(marker));
    form.sweepIntervalBox()->setText(QStringLiteral("1"));
    form.clickSweep();
    runEventLoop(int(sweepSeconds * 1000));
    form.clickSweep();
    const Clock::time_point stop = Clock::now();
    local.arm();
    network.arm();
    int presses = 0;
    while (!(local.found() && network.found()) && secondsSince(stop) < 600) {
        form.clickPreset(0);
        ++presses;
        runEventLoop(200);
    }
    const auto after = [stop](const PacedReader& reader) {
        return reader.found() ? std::chrono::duration<double>(reader.foundAt() - stop).count()
                              : -1.0;
    };
    std::printf("\nd) timed sweep at 1 ms for %.0f s, stopped; a preset pressed every 200 ms "
                "until both far lines have it (11,520 B/s each)\n",
                sweepSeconds);
    std::printf("  %-10s  %16s  %14s\n", "port", "stop to preset", "bytes taken");
    std::printf("  %-10s  %14.2f s  %14lld\n", "local", after(local),
                static_cast<long long>(local.bytes()));
    std::printf("  %-10s  %14.2f s  %14lld\n", "ser2net", after(network),
                static_cast<long long>(network.bytes()));
    std::printf("  difference %.2f s (target: within 2 s); %d presses\n",
                after(network) - after(local), presses);
}

} // namespace bench
