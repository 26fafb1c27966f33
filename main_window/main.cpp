#include "main_window/command_line.h"
#include "main_window/exit_signals.h"
#include "main_window/form1.h"
#include "port_bank/automatic_port_directory.h"
#include "port_bank/explicit_port_directory.h"
#include "session_log/local_timestamp.h"
#include "session_log/output_paths.h"
#include "session_log/session_recording.h"
#include "version.h"

#include <QApplication>
#include <csignal>
#include <cstdio>
#include <memory>

namespace {

int refuse(const QString& why)
{
    std::fprintf(stderr, "lightbench: %s\nTry 'lightbench --help'.\n",
                 why.toLocal8Bit().constData());
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const CommandLine line = CommandLine::parse(arguments);

    // Help and version need no display, so they are answered before the window system starts.
    switch (line.action) {
    case CommandLine::Action::ShowHelp:
        std::fputs(CommandLine::helpText().toLocal8Bit().constData(), stdout);
        return 0;
    case CommandLine::Action::ShowVersion:
        std::printf("%s %s\n", LIGHTBENCH_NAME, LIGHTBENCH_VERSION);
        return 0;
    case CommandLine::Action::Refuse:
        if (line.errorInPortsFile) {
            std::fprintf(stderr, "%s\n", line.error.toLocal8Bit().constData());
            return 2;
        }
        return refuse(line.error);
    case CommandLine::Action::Run:
        break;
    }

    // A log or report that could not be written is refused now, before any port opens, and
    // before anything is created: a refused line leaves nothing behind.
    if (!line.logDirectory.isEmpty()) {
        if (const QString why = checkLogDirectory(line.logDirectory); !why.isEmpty())
            return refuse(why);
    }
    if (!line.reportFile.isEmpty()) {
        if (const QString why = checkReportPath(line.reportFile); !why.isEmpty())
            return refuse(why);
    }
    if (!line.logDirectory.isEmpty()) {
        if (const QString why = createLogDirectory(line.logDirectory); !why.isEmpty())
            return refuse(why);
    }

    // Qt sees no arguments of ours; its own settings come from the environment.
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    QApplication::setApplicationName(QStringLiteral(LIGHTBENCH_NAME));
    QApplication::setApplicationVersion(QStringLiteral(LIGHTBENCH_VERSION));

    std::unique_ptr<PortDirectory> directory;
    if (line.ports.isEmpty() && line.portsFile.isEmpty())
        directory = std::make_unique<AutomaticPortDirectory>();
    else
        directory = std::make_unique<ExplicitPortDirectory>(line.ports);

    Form1 window(*directory);

    // The session log and the run report watch the bank only when asked for.
    std::unique_ptr<SessionRecording> recording;
    if (!line.logDirectory.isEmpty() || !line.reportFile.isEmpty()) {
        // A file-size limit (ulimit -f) would kill the program at the limit; the writer takes
        // the failed write instead, as it takes a full disk.
        std::signal(SIGXFSZ, SIG_IGN);
        recording = std::make_unique<SessionRecording>(
            window.portBank(),
            SessionRecording::Options{line.logDirectory, line.logLimit, line.reportFile},
            wallClockMs());
    }

    // SIGTERM, SIGINT and SIGHUP take the exit button's way out, after the report as it stands
    // is on disk: a second signal kills the program at once, but only once that report is.
    ExitSignals exitSignals;
    bool ending = false;
    QObject::connect(&exitSignals, &ExitSignals::received, &window, [&] {
        if (ending)
            return;
        ending = true;
        if (recording) {
            if (const QString why = recording->writeReportNow(); !why.isEmpty())
                std::fprintf(stderr, "lightbench: run report: %s\n", why.toLocal8Bit().constData());
        }
        exitSignals.reportWritten();
        window.Command3_Click();
    });
    if (!line.reportFile.isEmpty())
        exitSignals.holdSecondSignal();

    int status = application.exec();
    if (recording) {
        const RecordingOutcome outcome = recording->finish();
        if (!outcome.complete()) {
            std::fputs(outcome.summary().toLocal8Bit().constData(), stderr);
            if (status == 0)
                status = RecordingOutcome::kIncompleteStatus;
        }
    }
    return status;
}
