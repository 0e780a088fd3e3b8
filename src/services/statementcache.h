#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <unordered_map>

// Prepared statements, kept for reuse on the connection they were prepared on.
class StatementCache
{
public:
    // The statement for sql on database, prepared once and reused afterwards. One that did not
    // prepare is prepared afresh on the next call; meanwhile its exec fails.
    QSqlQuery &statement(const QSqlDatabase &database, const QString &sql);

private:
    struct PreparedStatement
    {
        QSqlQuery query;
        bool prepared = false;
    };

    std::unordered_map<QString, PreparedStatement> m_statements;
    const QSqlDriver *m_driver = nullptr;
};
