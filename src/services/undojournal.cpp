#include "undojournal.h"

#include <QDateTime>

#include <algorithm>
#include <utility>

UndoJournal::UndoJournal(TaskStore *store, QObject *parent)
    : QObject(parent)
    , m_store(store)
{
    m_bar.setSingleShot(true);
    m_release.setSingleShot(true);
    connect(&m_bar, &QTimer::timeout, this, &UndoJournal::dismiss);
    connect(&m_release, &QTimer::timeout, this, [this] { releaseDue(false); });
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

void UndoJournal::record(Entry entry)
{
    if (entry.before.taskCount() == 0)
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
        if (m_entries.first().held)
            m_store->releaseDeletions(m_entries.first().before.taskIds());
        m_entries.removeFirst();
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

void UndoJournal::clear()
{
    releaseDue(true);
    m_release.stop();
    m_entries.clear();
    dismiss();
}
