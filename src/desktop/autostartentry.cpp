#include "autostartentry.h"

#include "desktopidentity.h"
#include "desktoplog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

// One argument of an Exec line: quoted, with the characters that are special inside quotes
// escaped, and then written as a desktop-entry string (backslashes doubled, % as %%).
QString execArgument(const QString &argument)
{
    QString quoted;
    for (const QChar c : argument) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$')
            || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// A one-line value: a line break would start a new key.
QString singleLine(QString value)
{
    value.replace(QLatin1Char('\n'), QLatin1Char(' '));
    value.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return value;
}

} // namespace

QString AutostartEntry::path()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + QStringLiteral("/autostart/") + DesktopIdentity::id() + QStringLiteral(".desktop");
}

bool AutostartEntry::exists()
{
    return QFileInfo::exists(path());
}

bool AutostartEntry::setEnabled(bool enabled)
{
    const QString file = path();
    if (!enabled)
        return !QFileInfo::exists(file) || QFile::remove(file);

    QDir().mkpath(QFileInfo(file).absolutePath());
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Text)) {
        qCDebug(lcDesktop) << "cannot write the autostart entry:" << out.errorString();
        return false;
    }
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=%1\n"
                                         "Icon=%2\n"
                                         "Exec=%3 --background\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                                  .arg(singleLine(DesktopIdentity::name()),
                                       singleLine(DesktopIdentity::iconName()),
                                       execArgument(QCoreApplication::applicationFilePath()));
    out.write(entry.toUtf8());
    return out.commit();
}
