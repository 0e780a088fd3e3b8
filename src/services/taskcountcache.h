#pragma once

#include <QString>

// Identifies what the database holds: it changes with every row written through this
// connection, every commit of another connection or process, and every schema change.
struct DataStamp
{
    qint64 changes = -1;
    qint64 dataVersion = -1;
    qint64 schemaVersion = -1;

    bool operator==(const DataStamp &other) const
    {
        return changes == other.changes && dataVersion == other.dataVersion
               && schemaVersion == other.schemaVersion;
    }
};

// The counts of one question: all, Done and pending tasks matching it.
struct TaskCounts
{
    int total = 0;
    int active = 0;
    int inactive = 0;
};

// Counts read earlier, reusable while the stamp and the question stay the same.
class TaskCountCache
{
public:
    // The kept counts when they answer this question under this stamp, else nullptr.
    const TaskCounts *find(const DataStamp &stamp, qint64 userId, const QString &filterName = {},
                           int filterActive = -1) const;
    void keep(const DataStamp &stamp, qint64 userId, const TaskCounts &counts,
              const QString &filterName = {}, int filterActive = -1);
    void clear() { m_valid = false; }
    // Counts kept for this question under before take delta and stand for after: a write of
    // this program whose effect is known needs no recount. Other counts are dropped.
    void adjust(const DataStamp &before, const DataStamp &after, const TaskCounts &delta,
                qint64 userId, const QString &filterName = {}, int filterActive = -1);

private:
    bool m_valid = false;
    DataStamp m_stamp;
    qint64 m_userId = -1;
    QString m_filterName;
    int m_filterActive = -1;
    TaskCounts m_counts;
};
