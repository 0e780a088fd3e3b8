#include "undojournal.h"

#include <QDateTime>
#include <QSet>

#include <algorithm>
#include <utility>

namespace {

QString tasks(int count)
{
    return count == 1 ? QStringLiteral("1 task") : QStringLiteral("%1 tasks").arg(count);
}

} // namespace

UndoJournal::UndoJournal(TaskStore *store, QObject *parent)
    : QObject(parent)
    , m_store(store)
{
    m_bar.setSingleShot(true);
    m_release.setSingleShot(true);
    connect(&m_bar, &QTimer::timeout, this, &UndoJournal::dismiss);
    connect(&m_release, &QTimer::timeout, this, [this] { releaseDue(false); });
}

UndoJournal::~UndoJournal()
{
    dropEntries();
}

void UndoJournal::dropEntries()
{
    QSet<qint64> accounts;
    for (const Entry &entry : std::as_const(m_entries)) {
        if (entry.importId > 0)
            accounts.insert(entry.userId);
    }
    m_entries.clear();
    for (const qint64 userId : std::as_const(accounts))
        forgetImports(userId);
}

QString UndoJournal::text() const
{
    if (!m_message.isEmpty())
        return m_message;
    return m_entries.isEmpty() ? QString() : m_entries.last().text;
}

void UndoJournal::recordDeletion(const QString &text, const TaskSnapshot &before)
{
    Entry entry;
    entry.text = text;
    entry.before = before;
    entry.deletion = true;
    record(std::move(entry));
}

void UndoJournal::recordChange(const QString &text, const TaskSnapshot &before,
                               const QList<qint64> &created)
{
    Entry entry;
    entry.text = text;
    entry.before = before;
    entry.created = created;
    record(std::move(entry));
}

void UndoJournal::recordImport(qint64 userId, qint64 importId, int imported, int updated)
{
    Entry entry;
    if (imported > 0 || updated == 0)
        entry.text = QStringLiteral("Imported %1").arg(tasks(imported))
                     + (updated > 0 ? QStringLiteral(", updated %1.").arg(updated)
                                    : QStringLiteral("."));
    else
        entry.text = QStringLiteral("Import updated %1.").arg(tasks(updated));
    entry.importId = importId;
    entry.userId = userId;
    record(std::move(entry));
    // Records left by an earlier run, or by imports that have left the journal, go.
    forgetImports(userId);
}

void UndoJournal::forgetImports(qint64 userId)
{
    QList<qint64> kept;
    for (const Entry &entry : std::as_const(m_entries)) {
        if (entry.importId > 0 && entry.userId == userId)
            kept.append(entry.importId);
    }
    m_store->forgetImports(userId, kept);
}

void UndoJournal::record(Entry entry)
{
    if (entry.importId == 0 && entry.before.taskCount() == 0)
        return;
    if (entry.deletion) {
        entry.held = true;
        entry.releaseAtMs = QDateTime::currentMSecsSinceEpoch() + m_windowMs;
        m_store->holdDeletions(entry.before.taskIds());
        if (!m_release.isActive() || m_release.remainingTime() > m_windowMs)
            m_release.start(m_windowMs);
    }
    m_entries.append(std::move(entry));
    while (m_entries.size() > kDepth) {
        const Entry first = m_entries.takeFirst();
        if (first.held)
            m_store->releaseDeletions(first.before.taskIds());
        if (first.importId > 0)
            forgetImports(first.userId);
    }
    show();
}

void UndoJournal::show(const QString &message)
{
    m_message = message;
    m_showing = !m_entries.isEmpty() || !message.isEmpty();
    if (m_showing)
        m_bar.start(m_windowMs);
    emit changed();
}

void UndoJournal::dismiss()
{
    m_bar.stop();
    if (!m_showing)
        return;
    m_showing = false;
    m_message.clear();
    emit changed();
}

// A deletion goes to the sync once its window has passed, whether or not its bar still shows.
void UndoJournal::releaseDue(bool all)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    qint64 next = 0;
    for (Entry &entry : m_entries) {
        if (!entry.held)
            continue;
        if (all || entry.releaseAtMs <= now) {
            entry.held = false;
            m_store->releaseDeletions(entry.before.taskIds());
        } else if (next == 0 || entry.releaseAtMs < next) {
            next = entry.releaseAtMs;
        }
    }
    if (next > 0)
        m_release.start(int(std::max<qint64>(next - now, 0)));
}

bool UndoJournal::undoShowing()
{
    if (!canUndo())
        return false;
    const Entry entry = m_entries.takeLast();
    if (entry.importId > 0)
        return undoImport(entry);
    const TaskStore::Written written =
            entry.deletion ? m_store->restoreDeleted(entry.before, TaskStore::Origin::Window)
                           : m_store->restoreChanged(entry.before, entry.created,
                                                     TaskStore::Origin::Window);
    if (entry.held)
        m_store->releaseDeletions(entry.before.taskIds());
    if (!written.ok) {
        qWarning("cannot undo: %s", qPrintable(m_store->lastError()));
        show(QStringLiteral("Could not undo: the tasks changed since"));
        return false;
    }
    show();
    return true;
}

// What the undo left as it was is said in place of the command before it.
bool UndoJournal::undoImport(const Entry &entry)
{
    const TaskStore::ImportUndone undone =
            m_store->undoImport(entry.userId, entry.importId, TaskStore::Origin::Window);
    if (!undone.ok) {
        qWarning("cannot undo the import: %s", qPrintable(m_store->lastError()));
        // Nothing was written: while another program holds the file, the import stays in the
        // journal, to be undone once the bar shows it again.
        if (undone.busy)
            m_entries.append(entry);
        else
            forgetImports(entry.userId);
        show(undone.busy ? QStringLiteral("Could not undo the import: the task file is in use by "
                                          "another program")
                         : QStringLiteral("Could not undo the import"));
        return false;
    }
    if (undone.kept == 0)
        show();
    else
        show(QStringLiteral("Import undone; %1 kept: changed since the import.")
                     .arg(tasks(undone.kept)));
    return true;
}

void UndoJournal::clear()
{
    releaseDue(true);
    m_release.stop();
    dropEntries();
    dismiss();
}
