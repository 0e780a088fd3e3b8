#include "tasknamesearch.h"

#include "tasklistcontext.h"
#include "tasksql.h"

#include <QSqlQuery>
#include <QTimer>

#include <algorithm>
#include <limits>

TaskNameSearch::TaskNameSearch(TaskListContext *context, QObject *parent)
    : QObject(parent)
    , m_context(context)
{
}

void TaskNameSearch::setLimits(int minimumTasks, int rowsPerSlice, int pauseMs)
{
    m_nameIndexMinimum = std::max(minimumTasks, 0);
    m_nameSliceRows = std::max(rowsPerSlice, 1);
    m_nameFillPause = std::max(pauseMs, 0);
}

bool TaskNameSearch::isReady() const
{
    return m_context->ready() && m_names.isReady() && m_names.userId() == m_context->userId();
}

void TaskNameSearch::forget()
{
    m_names.clear();
    m_nameFill = NameFill {};
    m_nameMatches = NameMatches {};
}

// A large account's names are read into memory once its list shows, and again after another
// writer changed the file; a small account is searched fast enough without.
void TaskNameSearch::plan(qint64 userId, const DataStamp &stamp, int accountTasks)
{
    if (accountTasks < m_nameIndexMinimum) {
        if (m_names.userId() != -1 || m_nameFill.userId != -1)
            forget();
        return;
    }
    if (m_names.holds(stamp, userId) || (m_nameFill.userId == userId && m_nameFill.scheduled))
        return;
    if (m_nameFill.userId != userId)
        m_nameFill = NameFill {};
    m_nameFill.userId = userId;
    m_nameFill.scheduled = true;
    QTimer::singleShot(0, this, &TaskNameSearch::fill);
}

// One slice of names, read in a transaction of its own; when the data changed since the first
// slice, the reading starts over.
void TaskNameSearch::fill()
{
    m_nameFill.scheduled = false;
    if (!m_context->ready() || m_nameFill.userId != m_context->userId()) {
        m_nameFill = NameFill {};
        m_names.clear();
        return;
    }
    QSqlDatabase database = m_context->database();
    const bool inTransaction = database.transaction();
    auto endRead = [&] {
        if (inTransaction && !database.commit())
            database.rollback();
    };
    auto giveUp = [&] {
        endRead();
        m_nameFill = NameFill {};
        m_names.clear();
    };

    DataStamp stamp;
    bool busy = false;
    if (!m_context->currentStamp(stamp, &busy))
        return giveUp();
    // Something wrote meanwhile: start over once it has had time to finish (an index being
    // filled writes a slice per turn, and reading along would only slow both down).
    if (m_nameFill.started && !(stamp == m_nameFill.stamp)) {
        endRead();
        m_nameFill.started = false;
        m_nameFill.scheduled = true;
        QTimer::singleShot(m_nameFillPause, this, &TaskNameSearch::fill);
        return;
    }
    if (!m_nameFill.started) {
        // Without the index in the list's order every slice would sort the account's tasks.
        QSqlQuery &check = m_context->statement(TaskSql::hasListIndex());
        const bool indexed = check.exec() && check.next() && check.value(0).toBool();
        check.finish();
        if (!indexed)
            return giveUp();
        m_names.begin(m_nameFill.userId);
        m_nameFill.started = true;
        m_nameFill.undated = false;
        m_nameFill.stamp = stamp;
        m_nameFill.created = QVariant();
        m_nameFill.id = 0;
    }

    QSqlQuery &query =
            m_context->statement(m_nameFill.undated             ? TaskSql::nameIndexUndated()
                                 : m_nameFill.created.isValid() ? TaskSql::nameIndexAfter()
                                                                : TaskSql::nameIndexFirst());
    query.bindValue(QStringLiteral(":uid"), m_nameFill.userId);
    query.bindValue(QStringLiteral(":lim"), m_nameSliceRows);
    if (m_nameFill.undated || m_nameFill.created.isValid())
        query.bindValue(QStringLiteral(":id"), m_nameFill.id);
    if (!m_nameFill.undated && m_nameFill.created.isValid())
        query.bindValue(QStringLiteral(":created"), m_nameFill.created);
    int read = 0;
    const bool ok = query.exec();
    while (ok && query.next()) {
        ++read;
        m_nameFill.id = query.value(0).toLongLong();
        m_names.append(m_nameFill.id, query.value(1).toByteArray(), query.value(2).toBool(),
                       query.value(3).toInt());
        if (!m_nameFill.undated)
            m_nameFill.created = query.value(4);
    }
    query.finish();
    if (!ok || m_names.full()) {
        qCWarning(lcTasks) << "the names of the tasks could not be read for searching";
        return giveUp();
    }
    endRead();

    if (read < m_nameSliceRows) {
        if (m_nameFill.undated) {
            m_names.finish(stamp);
            qCDebug(lcTasks) << "names of" << m_names.size() << "tasks held for searching in"
                             << m_names.bytes() << "bytes";
            m_nameFill = NameFill {};
            return;
        }
        m_nameFill.undated = true;
        m_nameFill.id = std::numeric_limits<qint64>::max();
    }
    m_nameFill.scheduled = true;
    QTimer::singleShot(0, this, &TaskNameSearch::fill);
}

// The matches of the name filter by the index, when it holds the data of this stamp.
const std::vector<quint32> *TaskNameSearch::matches(qint64 userId, const DataStamp *stamp)
{
    const QString &filterName = m_context->filterName;
    const int filterActive = m_context->filterActive;
    if (filterName.isEmpty() || !stamp || !m_names.holds(*stamp, userId)
        || filterName.size() >= TaskListContext::kLongestIndexedTerm
        || !TaskNameIndex::answers(filterName))
        return nullptr;
    NameMatches &kept = m_nameMatches;
    if (!kept.valid || !(kept.stamp == *stamp) || kept.generation != m_names.generation()
        || kept.userId != userId || kept.filterName != filterName
        || kept.filterActive != filterActive) {
        // A keystroke that adds to the search looks only at the last search's matches.
        const QString pattern = m_context->namePattern();
        const bool narrowed =
                kept.valid && kept.stamp == *stamp && kept.generation == m_names.generation()
                && kept.userId == userId && kept.filterActive == filterActive
                && TaskNameIndex::narrows(pattern, QStringLiteral("%") + kept.filterName
                                                           + QStringLiteral("%"));
        kept.places = m_names.match(pattern, filterActive, narrowed ? &kept.places : nullptr);
        kept.valid = true;
        kept.stamp = *stamp;
        kept.generation = m_names.generation();
        kept.userId = userId;
        kept.filterName = filterName;
        kept.filterActive = filterActive;
    }
    return &kept.places;
}

qint64 TaskNameSearch::placeInList(qint64 id)
{
    QSqlQuery &query = m_context->statement(TaskSql::placeInList());
    query.bindValue(QStringLiteral(":uid"), m_context->userId());
    query.bindValue(QStringLiteral(":id"), id);
    const qint64 place = query.exec() && query.next() ? query.value(0).toLongLong() : -1;
    query.finish();
    return place;
}

void TaskNameSearch::follow(const DataStamp &before, const DataStamp &after, qint64 userId,
                            int affected, qint64 insertedId, const NameChange &change)
{
    if (m_names.holds(before, userId) && change(m_names, affected, insertedId))
        m_names.restamp(after);
}
