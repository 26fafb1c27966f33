#include "main_window/exit_signals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// One pipe for the process: signal handlers are process-wide too.
int pipeEnds[2] = {-1, -1};
volatile std::sig_atomic_t signalsReceived = 0;
volatile std::sig_atomic_t lastSignal = 0;
volatile std::sig_atomic_t secondSignalHeld = 0;

// The default action of the signal: the program ends at once, as the signal says.
void dieOf(int signalNumber)
{
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

extern "C" void onExitSignal(int signalNumber)
{
    const int savedErrno = errno;
    signalsReceived = signalsReceived + 1;
    lastSignal = signalNumber;
    if (signalsReceived >= 3 || (signalsReceived == 2 && !secondSignalHeld))
        dieOf(signalNumber);
    const unsigned char number = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds a request to end; nothing is lost by dropping this byte.
    [[maybe_unused]] const ssize_t n = ::write(pipeEnds[1], &number, 1);
    errno = savedErrno;
}

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

void readPipe(ExitSignals& exitSignals)
{
    unsigned char numbers[16];
    ssize_t n;
    while ((n = ::read(pipeEnds[0], numbers, sizeof numbers)) > 0 || (n < 0 && errno == EINTR)) {
        for (ssize_t i = 0; i < n; ++i)
            emit exitSignals.received(numbers[i]);
    }
}

} // namespace

ExitSignals::ExitSignals(QObject* parent) : QObject(parent)
{
    if (pipeEnds[0] >= 0)
        return; // one instance per process
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::fprintf(stderr, "lightbench: cannot catch SIGTERM, SIGINT and SIGHUP: pipe: %s\n",
                     std::strerror(errno));
        return;
    }
    auto* notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] { readPipe(*this); });
    watcher_ = notifier;
    valid_ = true;

    struct sigaction action {};
    action.sa_handler = onExitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : kSignals) {
        if (::sigaction(signalNumber, &action, nullptr) != 0)
            std::fprintf(stderr, "lightbench: cannot catch signal %d: %s\n", signalNumber,
                         std::strerror(errno));
    }
}

ExitSignals::~ExitSignals()
{
    if (!valid_)
        return;
    for (int signalNumber : kSignals)
        ::signal(signalNumber, SIG_DFL);
    delete watcher_;
    watcher_ = nullptr;
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    pipeEnds[0] = pipeEnds[1] = -1;
}

void ExitSignals::holdSecondSignal()
{
    secondSignalHeld = 1;
}

void ExitSignals::reportWritten()
{
    secondSignalHeld = 0;
    if (signalsReceived >= 2)
        dieOf(lastSignal);
}
