// Prints how long constructing the reminder service takes in a fresh process: its media player
// and audio output start the media backend, which the program does before its window exists.
#include "duetasks.h"
#include "notificationservice.h"
#include "settingsservice.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    SettingsService settings;
    DueTasks due(nullptr, nullptr);

    QElapsedTimer timer;
    timer.start();
    NotificationService notifier(&due, &settings);
    const qint64 elapsed = timer.nsecsElapsed();

    QTextStream(stdout) << "notifier " << elapsed << "\n";
    return 0;
}
