#pragma once

#include <QObject>

// SIGTERM, SIGINT and SIGHUP (kill, Ctrl+C, a shut-down, the terminal or ssh session going
// away) end the program the way the exit button does, so that ports are released, logs flushed
// and the report written; on Windows, Ctrl+C and Ctrl+Break in the console (as SIGINT) and the
// console window closing, a log-off or a shut-down (as SIGTERM). The handler only hands the
// signal's number to the window thread, which emits received(). A second signal while the
// program is still ending kills it at once, as the default action would; with
// holdSecondSignal(), not before reportWritten() (a third kills it whatever).
// Each platform's form is a file of its own (exit_signals_posix.cpp, exit_signals_windows.cpp).
class ExitSignals : public QObject {
    Q_OBJECT
public:
    explicit ExitSignals(QObject* parent = nullptr);
    ~ExitSignals() override;

    // False when the handlers could not be set up (then the signals keep their default,
    // killing the program as before).
    bool isValid() const { return valid_; }

    // A second signal waits for reportWritten() before it kills the program.
    void holdSecondSignal();
    // The report is on disk: a second signal, now or already received, kills the program.
    void reportWritten();

signals:
    void received(int signalNumber);

private:
    bool valid_ = false;
    QObject* watcher_ = nullptr; // what hears of a signal on the window thread, where one is
};
