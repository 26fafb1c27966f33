// lightbench-sim: simulated controllers on pseudo-terminals, with a lamp window unless
// --headless.
#include "simulator/lamp_panel.h"
#include "simulator/simulated_port.h"
#include "simulator/simulator_options.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

int quitPipe[2] = {-1, -1};

void requestQuit(int)
{
    const char byte = 'q';
    [[maybe_unused]] const ssize_t ignored = ::write(quitPipe[1], &byte, 1);
}

// SIGINT, SIGTERM and SIGHUP end the event loop, so that the links are removed on the way out.
bool quitOnSignals(QCoreApplication& application, std::unique_ptr<QSocketNotifier>& notifier)
{
    if (::pipe2(quitPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("lightbench-sim: pipe");
        return false;
    }
    notifier = std::make_unique<QSocketNotifier>(quitPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, &application,
                     &QCoreApplication::quit);
    struct sigaction action {};
    action.sa_handler = requestQuit;
    ::sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        if (::sigaction(signal, &action, nullptr) != 0) {
            std::perror("lightbench-sim: sigaction");
            return false;
        }
    }
    return true;
}

int run(QCoreApplication& application, const SimulatorOptions& options)
{
    if (!options.linkFolder.isEmpty() && !QDir().mkpath(options.linkFolder)) {
        std::fprintf(stderr, "lightbench-sim: cannot make the folder %s\n",
                     qPrintable(options.linkFolder));
        return 1;
    }
    std::unique_ptr<QSocketNotifier> quitNotifier;
    if (!quitOnSignals(application, quitNotifier))
        return 1;

    std::vector<std::unique_ptr<SimulatedPort>> ports;
    std::vector<SimulatedPort*> shown;
    for (int number = 1; number <= options.controllers; ++number) {
        SimulatedController::Options controller;
        controller.channels = options.channels;
        controller.relays = options.relays;
        controller.acknowledge = options.acknowledge;
        const bool faulty = options.isFaulty(number);
        controller.dropPercent = faulty ? options.dropPercent : 0;
        controller.seed = std::uint32_t(number);
        const QString link =
            options.linkFolder.isEmpty()
                ? QString()
                : QDir(options.linkFolder).absoluteFilePath(QStringLiteral("port%1").arg(number));
        ports.push_back(std::make_unique<SimulatedPort>(number, controller, link,
                                                        faulty ? options.replyDelayMs : 0));
        if (!ports.back()->open()) {
            std::fprintf(stderr, "lightbench-sim: controller %d: %s\n", number,
                         qPrintable(ports.back()->error()));
            return 1;
        }
        shown.push_back(ports.back().get());
        std::printf("--port %d=%s\n", number, qPrintable(ports.back()->bindingPath()));
    }
    std::fflush(stdout);

    // Present for the given time, gone for as long, and so on (the faulty controllers only).
    QTimer vanishTimer;
    bool present = true;
    QObject::connect(&vanishTimer, &QTimer::timeout, [&] {
        present = !present;
        for (const auto& port : ports) {
            if (!options.isFaulty(port->number()))
                continue;
            if (!present) {
                port->vanish();
                std::fprintf(stderr, "lightbench-sim: port %d gone\n", port->number());
            } else if (port->open()) {
                std::fprintf(stderr, "lightbench-sim: port %d back on %s\n", port->number(),
                             qPrintable(port->devicePath()));
            } else {
                std::fprintf(stderr, "lightbench-sim: port %d cannot come back: %s\n",
                             port->number(), qPrintable(port->error()));
            }
        }
    });
    if (options.vanishSeconds > 0)
        vanishTimer.start(int(options.vanishSeconds * 1000));

    std::unique_ptr<LampPanel> panel;
    if (!options.headless) {
        panel = std::make_unique<LampPanel>(shown);
        panel->show();
        QObject::connect(qApp, &QGuiApplication::lastWindowClosed, qApp, &QCoreApplication::quit);
    }
    return application.exec();
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const SimulatorOptions options = SimulatorOptions::parse(arguments);
    switch (options.action) {
    case SimulatorOptions::Action::ShowHelp:
        std::fputs(SimulatorOptions::helpText().toLocal8Bit().constData(), stdout);
        return 0;
    case SimulatorOptions::Action::Refuse:
        std::fprintf(stderr, "lightbench-sim: %s\nTry 'lightbench-sim --help'.\n",
                     options.error.toLocal8Bit().constData());
        return 2;
    case SimulatorOptions::Action::Run:
        break;
    }

    int qtArgc = 1;
    if (options.headless) {
        QCoreApplication application(qtArgc, argv);
        return run(application, options);
    }
    QApplication application(qtArgc, argv);
    return run(application, options);
}
