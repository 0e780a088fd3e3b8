#include "searchbatch.h"

#include "schema.h"

#include <QSqlQuery>
#include <QVariant>

namespace {

// The index's rows written at once: the statement names each task's id.
constexpr qsizetype kIdsPerStatement = 500;

// A trigger's text as SQLite keeps it: the words "IF NOT EXISTS" are not kept.
QString keptText(QString sql)
{
    return sql.replace(QLatin1String("CREATE TRIGGER IF NOT EXISTS "),
                       QLatin1String("CREATE TRIGGER "));
}

} // namespace

SearchIndexBatch::SearchIndexBatch(const QSqlDatabase &database)
    : m_database(database)
{
}

bool SearchIndexBatch::begin()
{
    m_paused.clear();
    m_ids.clear();
    // The delete trigger stays: a batch of imports deletes nothing. Triggers of another text
    // (another release's) are left to do their own work.
    const QStringList &triggers = Schema::searchIndexTriggers();
    const QStringList own { keptText(triggers.at(0)), keptText(triggers.at(2)) };
    QSqlQuery query(m_database);
    query.prepare(QStringLiteral("SELECT name, sql FROM sqlite_master WHERE type = 'trigger' "
                                 "AND name IN ('tasks_trigram_insert', 'tasks_trigram_update')"));
    if (!query.exec())
        return false;
    QStringList names;
    while (query.next()) {
        if (own.contains(query.value(1).toString())) {
            names << query.value(0).toString();
            m_paused << query.value(1).toString();
        }
    }
    query.finish();
    for (const QString &name : std::as_const(names)) {
        if (!query.exec(QStringLiteral("DROP TRIGGER %1").arg(name)))
            return false;
    }
    return true;
}

bool SearchIndexBatch::end()
{
    QSqlQuery query(m_database);
    for (qsizetype from = 0; from < m_ids.size(); from += kIdsPerStatement) {
        QStringList ids;
        for (qsizetype i = from; i < std::min(m_ids.size(), from + kIdsPerStatement); ++i)
            ids << QString::number(m_ids.at(i));
        if (!query.exec(QStringLiteral("INSERT OR REPLACE INTO tasks_trigram (rowid, name, "
                                       "user_id, active) SELECT id, name, user_id, active FROM "
                                       "tasks WHERE id IN (%1) ORDER BY id")
                                .arg(ids.join(u','))))
            return false;
    }
    m_ids.clear();
    for (const QString &sql : std::as_const(m_paused)) {
        if (!query.exec(sql))
            return false;
    }
    m_paused.clear();
    return true;
}
