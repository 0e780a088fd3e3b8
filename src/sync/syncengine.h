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
// A write refused with 412 is settled by fetching the server's version, merging it field by field
// (SyncMerge) and writing again, a few rounds at most. Everything a listing causes here is written
// in one transaction with the sync token that covers it, against the tasks as they are at that
// moment; a removal it cannot attribute to a real deletion, or too many at once, is not made.
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
    // The person's answer to a pass that held back many deletions; used by the next pass.
    enum class Deletions { Ask, Keep, Delete };
    void decideDeletions(Deletions choice) { m_deletionChoice = choice; }
    // How many deletions the last pass held back for the person to confirm.
    int heldDeletions() const { return m_heldDeletions; }
    // The tasks whose change the server has not taken yet, when the last pass ended.
    QStringList pending() const { return m_pending; }
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
    void pushNext();
    void pushItem(int index);
    void onPushed(const QString &uid, const DavReply &reply, const QByteArray &sent);
    void readEtag(const QString &uid);
    bool holdDeletions();
    void reupload(SyncItem &item);
    bool written(bool ok);
    void fail(const DavReply &reply);
    void done(SyncError error, int status = 0);

    static bool isTransportError(SyncError error);
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
    bool m_freshStart = false; // the token was refused: the listing says nothing about deletions
    bool m_writeFailed = false;
    Deletions m_deletionChoice = Deletions::Ask;
    int m_heldDeletions = 0;
    QStringList m_pending;
    QStringList m_unlisted; // hrefs a fresh start did not find on the server
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
