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
        form.Timer1->setEnabled(false);
        form.Timer2->setEnabled(false);
        form.Timer3->setEnabled(false);
    }

    ExplicitPortDirectory directory;
    Form1 form;
};
