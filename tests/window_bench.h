#pragma once

#include "main_window/form1.h"
#include "main_window/window_timer.h"
#include "port_bank/explicit_port_directory.h"

#include <QMap>
#include <QString>

// The real window on the given ports (port number -> device path), with its timers held so that
// each test runs the handlers itself.
struct WindowBench {
    explicit WindowBench(const QMap<int, QString>& ports) : directory(ports), form(directory)
    {
        form.sweepTimer()->setEnabled(false);
        form.receivePollTimer()->setEnabled(false);
        form.openingPassTimer()->setEnabled(false);
    }

    ExplicitPortDirectory directory;
    Form1 form;
};
