#include "taskcountcache.h"

const TaskCounts *TaskCountCache::find(const DataStamp &stamp, qint64 userId,
                                       const QString &filterName, int filterActive) const
{
    const bool same = m_valid && m_stamp == stamp && m_userId == userId
                      && m_filterName == filterName && m_filterActive == filterActive;
    return same ? &m_counts : nullptr;
}

void TaskCountCache::keep(const DataStamp &stamp, qint64 userId, const TaskCounts &counts,
                          const QString &filterName, int filterActive)
{
    m_valid = true;
    m_stamp = stamp;
    m_userId = userId;
    m_filterName = filterName;
    m_filterActive = filterActive;
    m_counts = counts;
}

void TaskCountCache::adjust(const DataStamp &before, const DataStamp &after,
                            const TaskCounts &delta, qint64 userId, const QString &filterName,
                            int filterActive)
{
    if (!find(before, userId, filterName, filterActive)) {
        clear();
        return;
    }
    m_stamp = after;
    m_counts.total += delta.total;
    m_counts.active += delta.active;
    m_counts.inactive += delta.inactive;
}
