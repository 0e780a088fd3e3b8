// The rules of repeating tasks, beside the tasks table: part of the task store.
#include "taskstore.h"

#include "icalnames.h"
#include "icalreader.h"
#include "taskdetailssql.h"

#include <QHash>
#include <QSqlQuery>
#include <QStringList>
#include <QUuid>
#include <QVariant>

namespace {

QString storeRepeatSql()
{
    return QStringLiteral("INSERT OR REPLACE INTO task_repeat (task_id, user_id, rrule, "
                          "from_completion, zone, start_offset) VALUES (:id, :uid, :rrule, "
                          ":from, :zone, :offset)");
}

QString removeRepeatSql()
{
    return QStringLiteral("DELETE FROM task_repeat WHERE task_id = :id AND user_id = :uid");
}

// Reads the few rules, each with a lookup of its task.
QString forgetRepeatsSql()
{
    return QStringLiteral("DELETE FROM task_repeat WHERE user_id = :uid AND NOT EXISTS "
                          "(SELECT 1 FROM tasks WHERE tasks.id = task_repeat.task_id)");
}

QString repeatOfSql()
{
    return QStringLiteral("SELECT rrule, from_completion, zone, start_offset FROM task_repeat "
                          "WHERE task_id = :id AND user_id = :uid");
}

// The task's text as the server last sent it, else as it was imported.
QString keptTextSql()
{
    return QStringLiteral("SELECT COALESCE((SELECT ical FROM sync_items WHERE task_id = :id AND "
                          "user_id = :uid), (SELECT calendar FROM task_uids WHERE task_id = :id2 "
                          "AND user_id = :uid2))");
}

QString seriesUidSql()
{
    return QStringLiteral("SELECT uid FROM task_uids WHERE task_id = :id AND user_id = :uid");
}

// The Done copy of an occurrence goes by a UID made from the series' UID and the occurrence's
// due time: two devices that complete the same occurrence make the same copy, which the sync then
// holds once.
QString doneCopyUid(const QString &seriesUid, const QDateTime &due)
{
    static const QUuid kDoneCopies(QStringLiteral("{5b0f7a52-3c1e-4e0b-9d55-3f1f0c6b2a7e}"));
    return QUuid::createUuidV5(kDoneCopies,
                               seriesUid + QLatin1Char('/') + due.toUTC().toString(Qt::ISODate))
            .toString(QUuid::WithoutBraces);
}

// The task's kept text, read with a statement of keptTextSql().
QString keptText(QSqlQuery &query, qint64 userId, qint64 taskId)
{
    query.bindValue(QStringLiteral(":id"), taskId);
    query.bindValue(QStringLiteral(":uid"), userId);
    query.bindValue(QStringLiteral(":id2"), taskId);
    query.bindValue(QStringLiteral(":uid2"), userId);
    QString text;
    if (query.exec() && query.next())
        text = query.value(0).toString();
    query.finish();
    return text;
}

} // namespace

bool TaskStore::storeRepeat(qint64 userId, qint64 taskId, const Recurrence::Rule &rule,
                            qint64 startOffset, Origin origin)
{
    bool changed = false;
    if (!writeRepeat(userId, taskId, rule, startOffset, changed))
        return false;
    if (changed) {
        TaskChanges changes;
        changes.updated.append(taskId);
        announce(origin, changes);
    }
    return true;
}

// A rule removed here stays as an empty rule, so that the next write of the task's text removes
// the RRULE it kept; a task that never had a rule has no row.
bool TaskStore::writeRepeat(qint64 userId, qint64 taskId, const Recurrence::Rule &rule,
                            qint64 startOffset, bool &changed)
{
    qint64 oldOffset = 0;
    const std::optional<Recurrence::Rule> old = repeatOf(userId, taskId, &oldOffset);
    if (old ? (*old == rule && old->zone == rule.zone && oldOffset == startOffset)
            : !rule.repeats())
        return true;
    QSqlQuery &query = statement(storeRepeatSql());
    query.bindValue(QStringLiteral(":id"), taskId);
    query.bindValue(QStringLiteral(":uid"), userId);
    query.bindValue(QStringLiteral(":rrule"), QString::fromUtf8(rule.rrule));
    query.bindValue(QStringLiteral(":from"), rule.fromCompletion ? 1 : 0);
    query.bindValue(QStringLiteral(":zone"), rule.zone.isEmpty()
                                                     ? QVariant(QMetaType::fromType<QString>())
                                                     : QVariant(QString::fromUtf8(rule.zone)));
    query.bindValue(QStringLiteral(":offset"), startOffset);
    const Written written = run(query);
    changed = written.affected > 0;
    return written.ok;
}

std::optional<Recurrence::Rule> TaskStore::repeatOf(qint64 userId, qint64 taskId,
                                                    qint64 *startOffset)
{
    QSqlQuery &query = statement(repeatOfSql());
    query.bindValue(QStringLiteral(":id"), taskId);
    query.bindValue(QStringLiteral(":uid"), userId);
    std::optional<Recurrence::Rule> rule;
    if (query.exec() && query.next()) {
        rule.emplace();
        rule->rrule = query.value(0).toString().toUtf8();
        rule->fromCompletion = query.value(1).toBool();
        rule->zone = query.value(2).toString().toUtf8();
        if (startOffset)
            *startOffset = query.value(3).toLongLong();
    } else if (startOffset) {
        *startOffset = 0;
    }
    query.finish();
    return rule;
}

// Only a text that names a rule is read again; one without keeps the task without a rule.
bool TaskStore::repeatFromCalendar(qint64 userId, qint64 taskId, const QString &calendar)
{
    Recurrence::Rule rule;
    qint64 offset = 0;
    if (IcalNames::mentions(calendar, QLatin1String("RRULE"))) {
        const IcalReadResult read = IcalReader::read(calendar.toUtf8(), IcalReader::Mode::Resource);
        if (!read.tasks.isEmpty() && read.tasks.first().repeat) {
            const IcalTask &task = read.tasks.first();
            rule = *task.repeat;
            // This program writes its times in UTC: the zone a rule was made in stays.
            const std::optional<Recurrence::Rule> old = repeatOf(userId, taskId);
            if (old && !old->zone.isEmpty() && rule.zone == "UTC")
                rule.zone = old->zone;
            if (task.start.isValid() && task.due.isValid())
                offset = task.start.secsTo(task.due);
        }
    }
    // The write of the task or its text that brought the rule announces the change.
    bool changed = false;
    if (rule.repeats())
        return writeRepeat(userId, taskId, rule, offset, changed);
    QSqlQuery &query = statement(removeRepeatSql());
    query.bindValue(QStringLiteral(":id"), taskId);
    query.bindValue(QStringLiteral(":uid"), userId);
    return run(query).ok;
}

void TaskStore::describeRepeats(const QSqlDatabase &database, qint64 userId, QList<TaskRow> &rows)
{
    if (rows.isEmpty())
        return;
    QStringList ids;
    QHash<qint64, qsizetype> byId;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        ids.append(QString::number(rows.at(i).id));
        byId.insert(rows.at(i).id, i);
    }
    QSqlQuery query(database);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT task_id, rrule FROM task_repeat WHERE user_id = :uid "
                                 "AND rrule <> '' AND task_id IN (%1)")
                          .arg(ids.join(u',')));
    query.bindValue(QStringLiteral(":uid"), userId);
    if (!query.exec())
        return; // a file of a release without rules: no task repeats
    while (query.next()) {
        const qsizetype row = byId.value(query.value(0).toLongLong(), -1);
        if (row >= 0)
            rows[row].repeatText = Recurrence::describe(query.value(1).toString().toUtf8());
    }
}

// The task keeps its UID and moves to the first occurrence after both now and its due time; the
// occurrence done becomes a Done task of its own, without a rule, so that no client repeats it.
TaskStore::Written TaskStore::completeOccurrence(qint64 userId, qint64 id, const QString &name,
                                                 const QDateTime &due, const QDateTime &now,
                                                 Origin origin)
{
    Written failed;
    qint64 offset = 0;
    std::optional<Recurrence::Rule> rule = repeatOf(userId, id, &offset);
    if (!rule || !due.isValid())
        return failed;
    rule->excluded = excludedOccurrences(userId, id);
    const Recurrence::Advance advance = Recurrence::complete(*rule, due, due.addSecs(-offset), now);
    if (!advance.repeats || !transaction())
        return failed;
    Recurrence::Rule next = *rule;
    next.rrule = advance.rrule;
    const Written done = insertTask(userId, { name, true, due }, origin);
    QSqlQuery &series = statement(seriesUidSql());
    series.bindValue(QStringLiteral(":id"), id);
    series.bindValue(QStringLiteral(":uid"), userId);
    const QString seriesUid =
            series.exec() && series.next() ? series.value(0).toString() : QString();
    series.finish();
    if (done.ok && !seriesUid.isEmpty()
        && !storeUid(userId, done.insertedId, doneCopyUid(seriesUid, due), QString())) {
        rollback();
        return failed;
    }
    // The occurrence done keeps the task's notes, priority and tags.
    const TaskDetails details = done.ok ? detailsOf(userId, id) : TaskDetails();
    const bool detailsKept =
            details.isEmpty() || storeDetails(userId, done.insertedId, details, origin);
    const Written moved = done.ok && detailsKept
                                  ? updateTask(userId, id, { name, false, advance.due }, origin)
                                  : failed;
    if (!moved.ok || moved.affected == 0 || !storeRepeat(userId, id, next, offset, origin)
        || !commit()) {
        rollback();
        return failed;
    }
    Written written = moved;
    written.insertedId = done.insertedId;
    return written;
}

// The occurrences another client took out of the series (EXDATE) live in the task's kept text.
QList<QDateTime> TaskStore::excludedOccurrences(qint64 userId, qint64 taskId)
{
    const QString text = keptText(statement(keptTextSql()), userId, taskId);
    if (!text.contains(QLatin1String("EXDATE"), Qt::CaseInsensitive))
        return {};
    const IcalReadResult read = IcalReader::read(text.toUtf8(), IcalReader::Mode::Resource);
    return !read.tasks.isEmpty() && read.tasks.first().repeat ? read.tasks.first().repeat->excluded
                                                              : QList<QDateTime>();
}

// The task's own details, else those of its kept text.
TaskDetails TaskStore::detailsOf(qint64 userId, qint64 taskId)
{
    QSqlQuery &query = statement(TaskDetailsSql::forTask());
    query.bindValue(QStringLiteral(":id"), taskId);
    query.bindValue(QStringLiteral(":uid"), userId);
    const bool own = query.exec() && query.next();
    const TaskDetails details = own ? TaskDetailsSql::read(query) : TaskDetails();
    query.finish();
    if (own)
        return details;
    const QString text = keptText(statement(keptTextSql()), userId, taskId);
    const IcalReadResult read =
            text.isEmpty() ? IcalReadResult()
                           : IcalReader::read(text.toUtf8(), IcalReader::Mode::Resource);
    return read.tasks.isEmpty() ? TaskDetails() : read.tasks.first().details;
}

void TaskStore::forgetRepeats(qint64 userId)
{
    QSqlQuery &query = statement(forgetRepeatsSql());
    query.bindValue(QStringLiteral(":uid"), userId);
    run(query);
}
