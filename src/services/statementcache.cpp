#include "statementcache.h"

QSqlQuery &StatementCache::statement(const QSqlDatabase &database, const QString &sql)
{
    if (database.driver() != m_driver) {
        m_statements.clear();
        m_driver = database.driver();
    }
    auto it = m_statements.find(sql);
    if (it == m_statements.end())
        it = m_statements.emplace(sql, PreparedStatement { QSqlQuery(database), false }).first;
    if (!it->second.prepared)
        it->second.prepared = it->second.query.prepare(sql);
    return it->second.query;
}
