#pragma once

#include "icaltask.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

class AuthService;
class DbManager;
class TaskStore;

// Takes the signed-in account's tasks out to an iCalendar or CSV file and brings tasks in from
// an iCalendar file, each in one transaction; resultText says what the last one did.
class TaskTransfer : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString resultText READ resultText NOTIFY resultTextChanged)

public:
    // What an import did; when ok is false nothing was changed.
    struct ImportCounts
    {
        bool ok = false;
        int imported = 0;
        int updated = 0;
        int skipped = 0;
        int kept = 0; // tasks changed here since the file's version, left as they are
    };

    explicit TaskTransfer(DbManager *db, AuthService *auth, TaskStore *store,
                          QObject *parent = nullptr);

    QString resultText() const { return m_resultText; }

    // Imports the VTODOs of an iCalendar text into the signed-in account.
    ImportCounts importCalendar(const QByteArray &data);
    // The signed-in account's tasks as iCalendar, or as CSV, and how many; empty with
    // resultText set on failure. Tasks that had no UID get one, kept for the next import.
    QByteArray exportCalendar(qsizetype *count = nullptr);
    QByteArray exportCsv(qsizetype *count = nullptr);

signals:
    void resultTextChanged();
    // Tasks came in or changed: due times may have come near.
    void tasksImported();

public:
    // The format follows the file name: .csv is CSV, anything else iCalendar.
    Q_INVOKABLE bool exportTasks(const QUrl &file);
    Q_INVOKABLE bool importTasks(const QUrl &file);
    Q_INVOKABLE void clearResult();

private:
    bool ready();
    bool readTasks(bool assignUids, QList<IcalTask> &tasks);
    void setResultText(const QString &text);

    DbManager *m_db = nullptr;
    AuthService *m_auth = nullptr;
    TaskStore *m_store = nullptr;
    QString m_resultText;
};
