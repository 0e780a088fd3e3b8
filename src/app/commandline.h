#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>

// The program's command line: --background, and the --help and --version every program answers
// without opening a window.
class CommandLine
{
public:
    CommandLine();

    // Before the application object exists: prints the help or the version and returns 0 when
    // asked for them, so that neither needs a display; returns -1 otherwise.
    int answerWithoutWindow(int argc, char *argv[]);
    // The arguments the application left after taking its own (-platform, -style, ...): false,
    // with the reason on standard error, for an unknown option or a stray argument.
    bool parse(const QStringList &arguments);

    bool background() const { return m_parser.isSet(m_background); }

private:
    QCommandLineParser m_parser;
    QCommandLineOption m_help;
    QCommandLineOption m_version;
    QCommandLineOption m_background;
};
