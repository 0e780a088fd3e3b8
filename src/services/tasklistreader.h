#pragma once

#include "taskcountcache.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

#include <vector>

class TaskCounter;
class TaskNameSearch;
class TaskTableModel;
struct TaskListContext;
struct TaskRow;

// Loads a page of the filtered list: the counters, the page count and clamping, then the page's
// rows, each read the cheapest way that gives exactly them, into the table model.
class TaskListReader : public QObject
{
    Q_OBJECT

public:
    TaskListReader(TaskListContext *context, TaskCounter *counter, TaskNameSearch *names,
                   TaskTableModel *model, QObject *parent = nullptr);

    int currentPage() const { return m_currentPage; }
    int totalPages() const { return m_totalPages; }

    void loadPage(int page);

signals:
    void currentPageChanged();
    void totalPagesChanged();
    void countsChanged();

private:
    // The first and last rows of the page loaded last, from which the page before or after
    // it is read while nothing has changed.
    struct PageEdges
    {
        bool valid = false;
        DataStamp stamp;
        qint64 userId = -1;
        QString filterName;
        int filterActive = -1;
        QString filterTag;
        int order = 0;
        int pageSize = 0;
        int page = 0;
        QVariant firstCreated;
        qint64 firstId = 0;
        QVariant lastCreated;
        qint64 lastId = 0;
        // In the "priority" order, the edge rows' priorities (0: none).
        int firstPriority = 0;
        int lastPriority = 0;
    };
    // How a page's rows are found: by walking the list in its order (or next to the page
    // shown), or from the matches alone, looked up by the trigram index or by the ids of the
    // names held, and sorted.
    enum class RowsVia { Walk, Trigram, Ids };

    void readPage(int page, qint64 userId, const DataStamp *stamp, bool countersRead);
    bool queryRows(qint64 userId, int page, qint64 matching, const DataStamp *stamp, RowsVia via,
                   QList<TaskRow> &rows, const std::vector<quint32> *places = nullptr);
    RowsVia cheaperRows(qint64 userId, int page, qint64 matching, const DataStamp *stamp,
                        bool viaTrigram, bool viaIds);
    void keepEdges(const DataStamp *stamp, qint64 userId, int page, const QList<TaskRow> &rows,
                   const QList<QVariant> &keys);
    bool besideEdges(qint64 userId, int page, const DataStamp *stamp);
    bool rowsByNames(const std::vector<quint32> &places, int page, QList<TaskRow> &rows);

    TaskListContext *m_context = nullptr;
    TaskCounter *m_counter = nullptr;
    TaskNameSearch *m_names = nullptr;
    TaskTableModel *m_model = nullptr;
    int m_currentPage = 1;
    int m_totalPages = 1;
    PageEdges m_edges;
};
