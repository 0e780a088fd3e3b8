#pragma once

#include "icaltask.h"
#include "transferwork.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <memory>

class AuthService;
class DbManager;
class QThread;
class TaskStore;

// Takes the signed-in account's tasks out to an iCalendar or CSV file and brings tasks in from
// an iCalendar file; resultText says what the last one did. startImport and startExport work
// on a thread of their own, on a connection of their own to the task file, while the window
// goes on; the tasks an import wrote are announced by the task store when it ends.
class TaskTransfer : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString resultText READ resultText NOTIFY resultTextChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    // The share of the running transfer done, from 0 to 1.
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)

public:
    using ImportCounts = ::ImportCounts;

    explicit TaskTransfer(DbManager *db, AuthService *auth, TaskStore *store,
                          QObject *parent = nullptr);
    ~TaskTransfer() override;

    QString resultText() const { return m_resultText; }
    bool busy() const { return m_job != nullptr; }
    double progress() const { return m_progress; }

    // Imports the VTODOs of an iCalendar text into the signed-in account, in one transaction.
    ImportCounts importCalendar(const QByteArray &data);
    // The signed-in account's tasks as iCalendar, or as CSV, and how many; empty with
    // resultText set on failure. Tasks that had no UID get one, kept for the next import.
    QByteArray exportCalendar(qsizetype *count = nullptr);
    QByteArray exportCsv(qsizetype *count = nullptr);
    // The reminder lead in minutes written into exported tasks, as other clients' VALARM.
    void setReminderLead(int minutes) { m_reminderLead = minutes; }

signals:
    void resultTextChanged();
    void busyChanged();
    void progressChanged();
    // Tasks came in or changed: due times may have come near.
    void tasksImported();
    // An import into the signed-in account saved tasks, finished or not; the task store keeps
    // its record importId for an undo.
    void importSaved(qint64 userId, qint64 importId, int imported, int updated);
    // A transfer begun with startImport or startExport ended, whatever its outcome.
    void finished(bool ok);

public:
    // The format follows the file name: .csv is CSV, anything else iCalendar. These work
    // before returning; the window uses the start functions.
    Q_INVOKABLE bool exportTasks(const QUrl &file);
    Q_INVOKABLE bool importTasks(const QUrl &file);
    // The same beside the window; false when one is running already or nobody is signed in.
    Q_INVOKABLE bool startExport(const QUrl &file);
    Q_INVOKABLE bool startImport(const QUrl &file);
    // Stops the running transfer: an export leaves the file as it was, an import keeps the
    // tasks it saved so far and says how many.
    Q_INVOKABLE void cancel();
    Q_INVOKABLE void clearResult();

private:
    struct Job;

    bool ready();
    bool readTasks(bool assignUids, QList<IcalTask> &tasks);
    void setResultText(const QString &text);
    bool start(bool import, const QUrl &file);
    void finishJob();
    void showProgress();
    // Tells of what an import of the account saved, while the account is signed in.
    void importEnded(qint64 userId, const TransferOutcome &outcome);

    DbManager *m_db = nullptr;
    AuthService *m_auth = nullptr;
    TaskStore *m_store = nullptr;
    std::optional<int> m_reminderLead;
    QString m_resultText;
    std::shared_ptr<Job> m_job;
    QThread *m_thread = nullptr;
    QTimer m_poll;
    double m_progress = 0;
};
