#include "commandline.h"

#include <QCoreApplication>

#include <cstdio>

CommandLine::CommandLine()
    : m_help(m_parser.addHelpOption())
    , m_version(m_parser.addVersionOption())
    , m_background(QStringLiteral("background"),
                   QStringLiteral("Start with the window out of sight: in the tray when the "
                                  "program keeps running in the background and the desktop has "
                                  "a tray, else minimised. Start at login starts it so."))
{
    m_parser.setApplicationDescription(
            QStringLiteral("A task list with due times, reminders, desktop notifications, "
                           "CalDAV sync and export."));
    m_parser.addOption(m_background);
    // -platform, -reverse and the other options of Qt's own are one word each, never a run of
    // one-letter options (-reverse would ask for the version).
    m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
}

int CommandLine::answerWithoutWindow(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // Qt's own options are still among the arguments: what they make of the rest is no error.
    m_parser.parse(arguments);
    QString asked;
    if (m_parser.isSet(m_help))
        asked = QStringLiteral("--help");
    else if (arguments.contains(QStringLiteral("--help-all")))
        asked = QStringLiteral("--help-all");
    else if (m_parser.isSet(m_version))
        asked = QStringLiteral("--version");
    else
        return -1;
    // The parser prints with the application's name and version, and ends the process.
    QCoreApplication app(argc, argv);
    m_parser.process(QStringList { arguments.value(0), asked });
    return 0;
}

bool CommandLine::parse(const QStringList &arguments)
{
    if (!m_parser.parse(arguments)) {
        std::fprintf(stderr, "%s\n", qPrintable(m_parser.errorText()));
        return false;
    }
    if (!m_parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "Unexpected argument '%s'.\n",
                     qPrintable(m_parser.positionalArguments().constFirst()));
        return false;
    }
    return true;
}
