#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QStringList>

// Keeps the search index in step with a batch of task writes by one statement for the batch,
// instead of its triggers' statement per row: each of those makes SQLite's full-text index write
// its pending rows out, which costs more than the row itself. Used inside the writer's
// transaction, so that no other connection ever sees the triggers missing or the index behind.
class SearchIndexBatch
{
public:
    explicit SearchIndexBatch(const QSqlDatabase &database);

    // Takes out the index's insert and update triggers where they are this program's own; the
    // index's rows are then written by end(). False when a statement failed.
    bool begin();
    // A task the batch inserted, or whose name, owner or Done flag it wrote.
    void touched(qint64 id)
    {
        if (!m_paused.isEmpty())
            m_ids.append(id);
    }
    // Writes the index rows of the tasks touched, as the triggers would have, and puts the
    // triggers back as they were; false when a statement failed (the caller rolls back).
    bool end();

private:
    QSqlDatabase m_database;
    QStringList m_paused; // the texts of the triggers taken out
    QList<qint64> m_ids;
};
