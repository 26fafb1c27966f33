#include "commands/presets.h"
#include "main_window/command_line.h"
#include "main_window/exit_signals.h"
#include "main_window/form1.h"
#include "main_window/freed_memory.h"
#include "main_window/status_tool_tip.h"
#include "main_window/text_box.h"
#include "port_bank/automatic_port_directory.h"
#include "port_bank/explicit_port_directory.h"
#include "run_page/junit_report.h"
#include "run_page/run_page_files.h"
#include "session_log/file_calls.h"
#include "session_log/local_timestamp.h"
#include "session_log/output_paths.h"
#include "session_log/session_recording.h"
#include "unattended_run/final_status.h"
#include "unattended_run/unattended_run.h"
#include "unattended_run/verdict.h"
#include "version.h"

#include <QApplication>
#include <cstdio>
#include <memory>
#include <optional>

namespace {

// The preset whose box holds the status query ("读状态"); -1 if there is none.
int statusQueryPreset()
{
    for (const Preset& preset : presets()) {
        if (preset.caption == u"读状态" && !preset.defaultCommand.isEmpty())
            return preset.index;
    }
    return -1;
}

int refuse(const QString& why)
{
    std::fprintf(stderr, "lightbench: %s\nTry 'lightbench --help'.\n",
                 why.toLocal8Bit().constData());
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    returnFreedMemory();
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
    if (const QString why = checkRunFiles(line.htmlFile, line.junitFile, line.reportFile);
        !why.isEmpty())
        return refuse(why);
    if (!line.logDirectory.isEmpty()) {
        if (const QString why = checkLogDirectory(line.logDirectory); !why.isEmpty())
            return refuse(why);
    }
    if (!line.reportFile.isEmpty()) {
        if (const QString why = checkReportPath(line.reportFile); !why.isEmpty())
            return refuse(why);
    }

    const int queryPreset = statusQueryPreset();
    if (line.unattended.checkMs > 0 && queryPreset < 0)
        return refuse(QStringLiteral("--check needs a status query, and no preset box holds one"));

    // Every check passed: only now is anything created.
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

    // The run record watches the bank from the first pass on; checks, the sweep to start and
    // the end after --for only when asked for.
    UnattendedRun run(window.portBank(), line.unattended,
                      UnattendedRun::Hooks{[&window, queryPreset] {
                                               return queryPreset < 0
                                                          ? QString()
                                                          : window.presetBox(queryPreset)->text();
                                           },
                                           [&window] { window.clickSweep(); },
                                           [&window] { window.clickFastSweep(); },
                                           [&window] { window.clickExit(); }},
                      wallClockMs);
    run.record().setCommandLine(arguments);
    QObject::connect(&window, &Form1::openingPassRan, &run, &UnattendedRun::openingPassRan);
    if (line.unattended.checkMs > 0) {
        window.setToolTipExtra([&run](int index) {
            const PortRunRecord& port = run.record().port(index);
            return checkCountsText(port.checks(), port.missedCount(), port.differedCount());
        });
    }

    // The session log and the run report watch the bank only when asked for.
    std::unique_ptr<SessionRecording> recording;
    if (!line.logDirectory.isEmpty() || !line.reportFile.isEmpty()) {
        // A file-size limit (ulimit -f) would kill the program at the limit; the writer takes
        // the failed write instead, as it takes a full disk.
        file_calls::keepWritingPastSizeLimit();
        SessionRecording::Options options{line.logDirectory, line.logLimit, line.reportFile, {}};
        options.verdicts = [&run](ReportRows& rows) { fillVerdictColumns(rows, run.record()); };
        // Gaps come from the writer's thread and reach the record on this one.
        options.logGap = [&run](int index, std::int64_t fromMs, std::int64_t toMs,
                                std::uint64_t lines) {
            QMetaObject::invokeMethod(
                &run,
                [&run, index, fromMs, toMs, lines] {
                    run.record().logGap(index, fromMs, toMs, lines);
                },
                Qt::QueuedConnection);
        };
        recording = std::make_unique<SessionRecording>(window.portBank(), options, wallClockMs());
        run.setNote([&recording](int index, const QString& text) { recording->note(index, text); });
    }

    // The run page from the start, and the JUnit file at the end.
    std::optional<bool> evidenceComplete; // known once the log is finished
    std::unique_ptr<RunPageFiles> pageFiles;
    if (!line.htmlFile.isEmpty() || !line.junitFile.isEmpty()) {
        pageFiles = std::make_unique<RunPageFiles>(
            RunPageFiles::Paths{line.htmlFile, line.junitFile},
            runPageSource(window.portBank(), run.record(),
                          QStringLiteral(LIGHTBENCH_NAME " " LIGHTBENCH_VERSION),
                          evidenceComplete));
        pageFiles->start();
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
        window.clickExit();
    });
    if (!line.reportFile.isEmpty())
        exitSignals.holdSecondSignal();

    application.exec();
    run.finish();
    evidenceComplete = true;
    if (recording) {
        const RecordingOutcome outcome = recording->finish();
        // The gaps the writer told last, for the last page.
        QCoreApplication::sendPostedEvents(&run, QEvent::MetaCall);
        if (!outcome.complete()) {
            std::fputs(outcome.summary().toLocal8Bit().constData(), stderr);
            evidenceComplete = false;
        }
    }
    if (run.isUnattended()) {
        std::fputs(verdictText(run.record(), *evidenceComplete).constData(), stdout);
        std::fflush(stdout);
    }
    bool filesWritten = true;
    if (pageFiles) {
        for (const QString& why : pageFiles->finish(junitXml(run.record(), *evidenceComplete))) {
            std::fprintf(stderr, "lightbench: %s\n", why.toLocal8Bit().constData());
            filesWritten = false;
        }
    }
    return finalExitStatus(run.isUnattended(), anyPortFailed(run.record()),
                           !*evidenceComplete || !filesWritten);
}
