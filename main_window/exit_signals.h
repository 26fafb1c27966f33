#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP (kill, Ctrl+C, a shut-down, a closed terminal) end the program the
// way the exit button does, so that ports are released, logs flushed and the report written. The
// handler only writes the signal's number into a pipe; the window thread reads it through a
// notifier and emits received(). A second signal while the program is still ending kills it as
// before: the handler gives the signal back to the system once it has fired.
class ExitSignals : public QObject {
    Q_OBJECT
public:
    explicit ExitSignals(QObject* parent = nullptr);
    ~ExitSignals() override;

    // False when the pipe or the handlers could not be set up (then the signals keep their
    // default, killing the program as before).
    bool isValid() const { return notifier_ != nullptr; }

signals:
    void received(int signalNumber);

private:
    void readPipe();

    QSocketNotifier* notifier_ = nullptr;
};
