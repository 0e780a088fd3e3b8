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

void SettingsService::setSoundFile(const QString &path)
{
    // A file dialog hands over a "file:" URL; the store keeps the local path it names.
    QString value = path;
    if (value.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
        const QUrl url(value, QUrl::TolerantMode);
        if (url.isValid() && url.isLocalFile())
            value = url.toLocalFile();
    }
    if (value == m_soundFile)
        return;
    m_soundFile = value;
    m_settings.setValue(kSoundFileKey, value);
    emit soundFileChanged();
}
