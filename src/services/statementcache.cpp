#include "statementcache.h"

#include <utility>

QSqlQuery &StatementCache::statement(const QSqlDatabase &database, const QString &sql)
{
    if (database.driver() != m_driver) {
        m_statements.clear();
        m_driver = database.driver();
    }
    auto it = m_statements.find(sql);
    if (it == m_statements.end()) {
        // Rows are read once, front to back: none is kept for stepping back.
        QSqlQuery query(database);
        query.setForwardOnly(true);
        it = m_statements.emplace(sql, PreparedStatement { std::move(query), false }).first;
    }
    if (!it->second.prepared)
        it->second.prepared = it->second.query.prepare(sql);
    return it->second.query;
}
