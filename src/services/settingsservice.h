#pragma once

#include <QObject>
#include <QSettings>
#include <QString>

// The user's reminder preferences, kept in the per-user settings store across runs.
class SettingsService : public QObject
{
    Q_OBJECT
    Q_PROPERTY(
            int notifyMinutes READ notifyMinutes WRITE setNotifyMinutes NOTIFY notifyMinutesChanged)
    Q_PROPERTY(QString soundFile READ soundFile WRITE setSoundFile NOTIFY soundFileChanged)

public:
    explicit SettingsService(QObject *parent = nullptr);

    int notifyMinutes() const { return m_notifyMinutes; }
    QString soundFile() const { return m_soundFile; }

    // What setSoundFile stores for a value: the local path a "file:" URL names, else the value.
    Q_INVOKABLE QString soundFilePath(const QString &path) const;

signals:
    void notifyMinutesChanged();
    void soundFileChanged();

public slots:
    void setNotifyMinutes(int v);
    void setSoundFile(const QString &path);

private:
    QSettings m_settings;
    int m_notifyMinutes = 10;
    QString m_soundFile;
};
