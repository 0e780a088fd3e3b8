#pragma once

#include "taskstore.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

// The window's last commands on tasks, newest last, each with the tasks as they were before it,
// so that it can be undone: a deletion puts the rows back as they were, a change is changed back
// as a new change. The newest shows in a bar for a while, and may be undone while it shows;
// after that the one before it shows. A deletion is held back from the sync while it can be
// undone, so that an undone deletion never reaches the server.
class UndoJournal : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool showing READ showing NOTIFY changed)
    Q_PROPERTY(bool canUndo READ canUndo NOTIFY changed)
    Q_PROPERTY(QString text READ text NOTIFY changed)

public:
    // How many commands are kept.
    static constexpr int kDepth = 20;

    explicit UndoJournal(TaskStore *store, QObject *parent = nullptr);
    // The records of imports kept for their undo go with it.
    ~UndoJournal() override;

    bool showing() const { return m_showing; }
    bool canUndo() const { return m_showing && !m_entries.isEmpty() && m_message.isEmpty(); }
    QString text() const;
    int depth() const { return int(m_entries.size()); }
    // How long a command shows, and how long its deletions wait.
    void setWindowMs(int ms) { m_windowMs = ms; }

    void recordDeletion(const QString &text, const TaskSnapshot &before);
    // created: the tasks the command made, which its undo deletes.
    void recordChange(const QString &text, const TaskSnapshot &before,
                      const QList<qint64> &created);
    // An import into the account that made imported tasks and changed updated ones; the task
    // store keeps what it wrote under importId. Its undo deletes the tasks it made and gives
    // those it changed their rows back, but for tasks changed here since.
    void recordImport(qint64 userId, qint64 importId, int imported, int updated);
    // Undoes the command showing; false when nothing was written.
    bool undoShowing();
    // Forgets every command (another account signs in); their deletions go to the sync.
    void clear();

signals:
    void changed();

public:
    Q_INVOKABLE void dismiss();

private:
    struct Entry
    {
        QString text;
        TaskSnapshot before;
        QList<qint64> created;
        bool deletion = false;
        qint64 importId = 0; // an import, into the account userId
        qint64 userId = -1;
        bool held = false;
        qint64 releaseAtMs = 0;
    };

    void record(Entry entry);
    void show(const QString &message = QString());
    void releaseDue(bool all);
    bool undoImport(const Entry &entry);
    // Forgets every command, with the store's records of its imports.
    void dropEntries();
    // Drops the store's records of the account's imports no longer in the journal.
    void forgetImports(qint64 userId);

    TaskStore *m_store = nullptr;
    QList<Entry> m_entries;
    QTimer m_bar;
    QTimer m_release;
    int m_windowMs = 10000;
    bool m_showing = false;
    // Said in place of the command when its undo failed.
    QString m_message;
};
