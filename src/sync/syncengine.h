#pragma once

#include "caldavclient.h"
#include "davmultistatus.h"
#include "icalzonestore.h"
#include "syncstore.h"
#include "syncwriter.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QSqlDatabase>
#include <QStringList>
#include <QThreadPool>

#include <algorithm>
#include <functional>

#include <optional>

// One two-way sync of an account's tasks with its CalDAV collection: read what changed on the
// server (sync-collection with the stored token, else a comparison of ETags), apply it to the
// tasks, then send what changed here (If-None-Match: * to create, If-Match to change or delete),
// a few requests awaiting their answers at once, each answer settled whatever order they come in.
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
    // The lead in minutes of the reminder written into the tasks sent (IcalAlarm); unset sends
    // the tasks' alarms as they were read.
    void setAlarmLead(std::optional<int> minutes) { m_alarmLead = minutes; }
    // The server refused a task with this program's reminder and took it without one: the
    // tasks go without it from then on, for this collection.
    bool alarmsRefused() const { return m_alarmsRefused; }
    // When the last pass read the server's changes, whether or not it wrote that time down.
    qint64 lastSyncEpoch() const { return m_account.lastSyncEpoch; }
    // How many changes the push sends before their answers are in. One by default: with
    // several, the Xandikos of Debian 13 refused writes that met each other on the server.
    void setRequestsInFlight(int requests) { m_inFlight = std::max(1, requests); }

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
    void readItems(void (SyncEngine::*then)());
    bool readAll(SyncStore &store);
    void later(void (SyncEngine::*step)());
    using Parsed = std::function<void(const DavReply &, const DavMultistatus &)>;
    void parse(const DavReply &reply, Parsed then);
    void listed(const DavMultistatus &listing, const QString &token);
    void afterNamed();
    void startPush();
    bool namesNothingTracked(const DavMultistatus &listing, const QString &token);
    void fetchNext();
    void applyChanges();
    void applyAll();
    void afterApplied();
    bool refresh(SyncItem &item);
    bool storeDetails(SyncItem &item, const TaskDetails &details);
    void applyResource(const DavResource &resource);
    void applyRemoval(const QString &href);
    void pushNext();
    void settled();
    void pushFailed(const DavReply &reply);
    void pushItem(int index);
    void sendItem(int index, bool alarmRetry = false);
    void trackUpcoming(int index);
    void recordAcknowledged(std::function<void()> then);
    QList<SyncItem> takeAcknowledged();
    void record(const QList<SyncItem> &items, std::function<void()> then);
    void afterPushed();
    // How a task was sent: again without the reminder, or while reminders were not refused.
    struct Sent
    {
        bool alarmRetry = false;
        bool alarmsAllowed = true;
    };
    void onPushed(const QString &uid, const DavReply &reply, const QByteArray &sent, Sent how);
    void readEtag(const QString &uid);
    bool holdDeletions();
    void reupload(SyncItem &item);
    bool written(bool ok);
    // Runs job on the writer's thread, its writes through m_writes, then then here, unless the
    // pass ended meanwhile. Jobs run one after the other, in the order they were asked for.
    void write(std::function<void()> job, std::function<void()> then);
    void writeNext();
    void fail(const DavReply &reply);
    void done(SyncError error, int status = 0);

    static bool isTransportError(SyncError error);
    QUrl resourceUrl(const QString &href) const;
    void index();

    SyncStore m_store;
    CalDavClient m_client;
    SyncAccount m_account;
    ItemScope m_scope; // the tasks this pass reads
    int m_run = 0; // counts the passes started, so that a step left from an earlier one is not run
    DavMultistatus m_listing; // while the tasks it names are read
    QString m_listedToken;
    qint64 m_lastChange = 0; // the last change to tasks before the tasks were read to be sent
    QUrl m_collection;
    bool m_running = false;
    bool m_syncCollectionUnsupported = false;
    bool m_retry = false;
    bool m_tasksWritten = false;
    bool m_freshStart = false; // the token was refused: the listing says nothing about deletions
    bool m_writeFailed = false;
    bool m_wroteThere = false; // this pass changed the collection
    bool m_undoHeld = false; // a deletion waits for its undo window
    int m_relists = 0;
    // Resources written after the token of the next listing: that listing must name each of
    // them, or they are asked for one by one.
    QSet<QString> m_writtenHrefs;
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
    qsizetype m_applied = 0; // of the unlisted, removed and fetched, in this order
    QList<SyncItem> m_items;
    QHash<QString, int> m_byHref;
    QHash<QString, int> m_byUid;
    QList<int> m_pushQueue;
    int m_sending = 0; // changes sent whose answer is not settled yet
    int m_inFlight = 1; // at most that many
    bool m_tracking = false; // the next tasks' addresses are being recorded before they are sent
    DavReply m_pushFailure; // the first request of the push that failed
    QStringList m_acknowledged; // UIDs the server took, not recorded yet
    // The writer's jobs waiting for the one running (m_writing) to go on.
    QList<std::pair<std::function<void()>, std::function<void()>>> m_writeQueue;
    bool m_writing = false;
    bool m_sendHeld = false; // the push waits for the writer's job to end
    QStringList m_notes;
    std::optional<int> m_alarmLead;
    // The account's stored time zones, read once a pass when the first task is sent.
    std::optional<IcalZoneStore::Zones> m_zones;
    bool m_alarmsRefused = false;
    bool m_finishing = false; // done() waits for its last writes
    bool m_nothingApplied = false; // the listing changed nothing here, not even the token
    qint64 m_readChange = -1; // the last change to tasks when the tasks were read
    // Last, so that it goes first: its destructor waits for a listing being read.
    QThreadPool m_parser;
    // The store the job running writes through: the writer's, on its thread.
    SyncStore *m_writes = &m_store;
    // After the parser: its destructor waits for a job, which uses the members above.
    SyncWriter m_writer;
};
