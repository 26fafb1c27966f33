#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP (kill, Ctrl+C, a shut-down, the terminal or ssh session going
// away) end the program the way the exit button does, so that ports are released, logs flushed
// and the report written. The handler only writes the signal's number into a pipe; the window
// thread reads it through a notifier and emits received(). A second signal while the program is
// still ending kills it at once, as the default action would; with holdSecondSignal(), not
// before reportWritten() (a third kills it whatever).
class ExitSignals : public QObject {
    Q_OBJECT
public:
    explicit ExitSignals(QObject* parent = nullptr);
    ~ExitSignals() override;

    // False when the pipe or the handlers could not be set up (then the signals keep their
    // default, killing the program as before).
    bool isValid() const { return notifier_ != nullptr; }

    // A second signal waits for reportWritten() before it kills the program.
    void holdSecondSignal();
    // The report is on disk: a second signal, now or already received, kills the program.
    void reportWritten();

signals:
    void received(int signalNumber);

private:
    void readPipe();

    QSocketNotifier* notifier_ = nullptr;
};
