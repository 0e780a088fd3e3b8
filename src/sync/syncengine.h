#pragma once

#include "caldavclient.h"
#include "davmultistatus.h"
#include "syncstore.h"

#include <QHash>
#include <QObject>
#include <QSqlDatabase>
#include <QStringList>

// One two-way sync of an account's tasks with its CalDAV collection: read what changed on the
// server (sync-collection with the stored token, else a comparison of ETags), apply it to the
// tasks, then send what changed here (If-None-Match: * to create, If-Match to change or delete).
// A write refused with 412 is settled by fetching the server's version and running again: the
// later LAST-MODIFIED wins, and the losing version is kept as a task of its own when its name or
// due time differs, so that no typed text is lost.
class SyncEngine : public QObject
{
    Q_OBJECT

public:
    // Writes tasks through tasks, or through a task store of its own when none is given.
    explicit SyncEngine(const QSqlDatabase &db, CalDavTransport *transport,
                        TaskStore *tasks = nullptr, QObject *parent = nullptr);

    bool isRunning() const { return m_running; }
    void start(const SyncAccount &account, const QString &password);
    void abort();

    SyncStore &store() { return m_store; }
    bool takeOwnWrite(qint64 taskId) { return m_store.takeWritten(taskId); }

signals:
    // Tasks were written from the server's side; the list should be read again.
    void tasksChanged();
    // notes name the versions kept as copies after conflicts.
    void finished(SyncError error, int httpStatus, const QStringList &notes);

private:
    void beginPass();
    void listChanges();
    void syncCollection(const QString &token);
    void compareEtags();
    void onListing(const DavMultistatus &listing, bool incremental);
    void fetchNext();
    void applyChanges();
    void applyResource(const DavResource &resource);
    void applyRemoval(const QString &href);
    void keepCopy(const TaskFields &loser, const TaskFields &winner);
    void pushNext();
    void pushItem(int index);
    void onPushed(const QString &uid, const DavReply &reply, const QByteArray &sent);
    void fail(const DavReply &reply);
    void done(SyncError error, int status = 0);

    QUrl resourceUrl(const QString &href) const;
    void index();

    SyncStore m_store;
    CalDavClient m_client;
    SyncAccount m_account;
    QUrl m_collection;
    bool m_running = false;
    bool m_syncCollectionUnsupported = false;
    bool m_retry = false;
    bool m_tasksWritten = false;
    int m_pass = 0;
    SyncError m_softError = SyncError::None;
    int m_softStatus = 0;
    QString m_newToken;
    QStringList m_toFetch;
    QStringList m_refused; // written resources the server refused with 412 or 404
    QStringList m_removed;
    QList<DavResource> m_fetched;
    QList<SyncItem> m_items;
    QHash<QString, int> m_byHref;
    QHash<QString, int> m_byUid;
    QList<int> m_pushQueue;
    QStringList m_notes;
};
