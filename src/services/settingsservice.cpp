#include "settingsservice.h"

#include <QUrl>
#include <QVariant>

namespace {

const QString kNotifyMinutesKey = QStringLiteral("notifyMinutes");
const QString kSoundFileKey = QStringLiteral("soundFile");

} // namespace

SettingsService::SettingsService(QObject *parent)
    : QObject(parent)
    , m_settings(QStringLiteral("Brellhaven"), QStringLiteral("TarvikQtQml"))
{
    // toInt() gives 0 for a stored value that is not a number.
    m_notifyMinutes = m_settings.value(kNotifyMinutesKey, 10).toInt();
    m_soundFile = m_settings.value(kSoundFileKey, QString()).toString();
}

void SettingsService::setNotifyMinutes(int v)
{
    if (v == m_notifyMinutes)
        return;
    m_notifyMinutes = v;
    m_settings.setValue(kNotifyMinutesKey, v);
    emit notifyMinutesChanged();
}

// A file dialog hands over a "file:" URL; the store keeps the local path it names.
QString SettingsService::soundFilePath(const QString &path) const
{
    if (path.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
        const QUrl url(path, QUrl::TolerantMode);
        if (url.isValid() && url.isLocalFile())
            return url.toLocalFile();
    }
    return path;
}

void SettingsService::setSoundFile(const QString &path)
{
    const QString value = soundFilePath(path);
    if (value == m_soundFile)
        return;
    m_soundFile = value;
    m_settings.setValue(kSoundFileKey, value);
    emit soundFileChanged();
}
