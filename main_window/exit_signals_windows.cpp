#include "main_window/exit_signals.h"

#include <QMetaObject>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <windows.h>

// Windows calls a console's control handler on a thread of its own. For Ctrl+C and Ctrl+Break
// the handler returns at once; for the console window closing, a log-off or a shut-down the
// program ends when the handler returns (or when the system's own grace time is up), so the
// handler waits until the program has finished ending.

namespace {

std::mutex instanceMutex;
ExitSignals* instance = nullptr;
HANDLE ended = nullptr; // set once the program has finished ending
std::atomic<int> eventsReceived{0};
std::atomic<int> lastSignal{0};
std::atomic<bool> secondSignalHeld{false};

// What Windows' own handler does with Ctrl+C: the program ends at once.
void dieOf(int)
{
    ::TerminateProcess(::GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
}

BOOL WINAPI onConsoleEvent(DWORD event)
{
    const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    const int signalNumber = interrupt ? SIGINT : SIGTERM;
    const int count = ++eventsReceived;
    lastSignal = signalNumber;
    if (count >= 3 || (count == 2 && !secondSignalHeld))
        dieOf(signalNumber);
    {
        const std::lock_guard lock(instanceMutex);
        if (ExitSignals* target = instance) {
            QMetaObject::invokeMethod(
                target, [target, signalNumber] { emit target->received(signalNumber); },
                Qt::QueuedConnection);
        }
    }
    if (!interrupt && ended)
        ::WaitForSingleObject(ended, INFINITE);
    return TRUE;
}

} // namespace

ExitSignals::ExitSignals(QObject* parent) : QObject(parent)
{
    const std::lock_guard lock(instanceMutex);
    if (instance)
        return; // one instance per process
    ended = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!ended || !::SetConsoleCtrlHandler(onConsoleEvent, TRUE)) {
        std::fprintf(stderr, "lightbench: cannot catch Ctrl+C and the console closing: %s\n",
                     qPrintable(qt_error_string(int(::GetLastError()))));
        if (ended)
            ::CloseHandle(ended);
        ended = nullptr;
        return;
    }
    instance = this;
    valid_ = true;
}

ExitSignals::~ExitSignals()
{
    if (!valid_)
        return;
    if (!::SetConsoleCtrlHandler(onConsoleEvent, FALSE))
        std::fprintf(stderr, "lightbench: SetConsoleCtrlHandler: %s\n",
                     qPrintable(qt_error_string(int(::GetLastError()))));
    const std::lock_guard lock(instanceMutex);
    instance = nullptr;
    // A handler waiting for the end may return now; the handle stays for it.
    ::SetEvent(ended);
}

void ExitSignals::holdSecondSignal()
{
    secondSignalHeld = true;
}

void ExitSignals::reportWritten()
{
    secondSignalHeld = false;
    if (eventsReceived >= 2)
        dieOf(lastSignal);
}
