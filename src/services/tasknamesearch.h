#pragma once

#include "taskcountcache.h"
#include "tasknameindex.h"

#include <QObject>
#include <QString>
#include <QVariant>

#include <functional>
#include <vector>

struct TaskListContext;

// The names of a large account's tasks held in memory for searching: read a slice per turn of
// the event loop after its list first loads, read again after something else wrote, followed
// through the program's own commands, and asked for the matches of the name filter.
class TaskNameSearch : public QObject
{
    Q_OBJECT

public:
    // What a command did to the names held, given the rows it changed and the id it inserted;
    // false when the index cannot follow.
    using NameChange = std::function<bool(TaskNameIndex &, int, qint64)>;

    explicit TaskNameSearch(TaskListContext *context, QObject *parent = nullptr);

    // An account with at least minimumTasks tasks has its names held in memory for searches,
    // read rowsPerSlice tasks at a time from the event loop after its list first loads, and
    // read again pauseMs after something else wrote while they were read.
    void setLimits(int minimumTasks, int rowsPerSlice, int pauseMs);
    bool isReady() const;
    // Lets go of the names held of the account that signed out.
    void forget();
    // Plans the reading of the names once the list of an account of accountTasks tasks shows.
    void plan(qint64 userId, const DataStamp &stamp, int accountTasks);

    // The places of the name filter's matches, when the names held are those of this stamp.
    const std::vector<quint32> *matches(qint64 userId, const DataStamp *stamp);
    qint64 idAt(quint32 place) const { return m_names.idAt(place); }
    // The number of the account's tasks before task id in the list, or -1.
    qint64 placeInList(qint64 id);
    // A command of this program wrote from before to after, with nothing else writing between.
    void follow(const DataStamp &before, const DataStamp &after, qint64 userId, int affected,
                qint64 insertedId, const NameChange &change);

private:
    // Reading the names into the index, a slice per turn of the event loop.
    struct NameFill
    {
        bool scheduled = false;
        bool started = false;
        bool undated = false;
        qint64 userId = -1;
        DataStamp stamp;
        QVariant created;
        qint64 id = 0;
    };
    // The places of the last search's matches in the index, while no entry has moved.
    struct NameMatches
    {
        bool valid = false;
        DataStamp stamp;
        quint64 generation = 0;
        qint64 userId = -1;
        QString filterName;
        int filterActive = -1;
        std::vector<quint32> places;
    };

    void fill();

    TaskListContext *m_context = nullptr;
    TaskNameIndex m_names;
    NameFill m_nameFill;
    NameMatches m_nameMatches;
    int m_nameIndexMinimum = 20000;
    int m_nameSliceRows = 10000;
    int m_nameFillPause = 250;
};
