#pragma once

#include <QObject>
#include <QString>

// Keeps CalDAV passwords (and other secrets, under a service name of their own) in the desktop's
// secret service. Without one, nothing is stored: available() turns false for the rest of the
// run and the password is asked for instead.
class PasswordStore : public QObject
{
    Q_OBJECT

public:
    explicit PasswordStore(QObject *parent = nullptr);
    PasswordStore(const QString &service, QObject *parent);

    bool available() const { return m_available; }

    // Answers with passwordRead, later; found is false when nothing is stored or no secret
    // service answers.
    void read(const QString &key);
    void write(const QString &key, const QString &password);
    void remove(const QString &key);

signals:
    void passwordRead(const QString &key, const QString &password, bool found);
    // Whether a write was stored; false at once without a secret service.
    void passwordWritten(const QString &key, bool stored);

private:
    void noteFailure(int error, const QString &text);

    QString m_service;
    bool m_available = true;
};
