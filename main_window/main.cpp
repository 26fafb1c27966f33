#include "main_window/command_line.h"
#include "main_window/form1.h"
#include "port_bank/automatic_port_directory.h"
#include "port_bank/explicit_port_directory.h"
#include "version.h"

#include <QApplication>
#include <cstdio>
#include <memory>

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
        if (line.errorInPortsFile)
            std::fprintf(stderr, "%s\n", line.error.toLocal8Bit().constData());
        else
            std::fprintf(stderr, "lightbench: %s\nTry 'lightbench --help'.\n",
                         line.error.toLocal8Bit().constData());
        return 2;
    case CommandLine::Action::Run:
        break;
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
    return application.exec();
}
