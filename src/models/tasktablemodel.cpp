#include "tasktablemodel.h"

#include <utility>

namespace {

constexpr int kColumnCount = 5;

// Day and month names come out in English whatever the system language: QDateTime's
// format-string conversion uses the C locale. A time in another year than this one says which.
QString displayText(const QDateTime &dateTime)
{
    if (!dateTime.isValid())
        return QString();
    const bool thisYear = dateTime.date().year() == QDate::currentDate().year();
    return dateTime.toString(thisYear ? QStringLiteral("ddd dd MMMM HH:mm")
                                      : QStringLiteral("ddd dd MMMM yyyy HH:mm"));
}

} // namespace

TaskTableModel::TaskTableModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

// Cells have no children: a valid parent has no rows or columns under it, which item views
// and QAbstractItemModelTester rely on.
int TaskTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int TaskTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant TaskTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};

    const TaskRow &row = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        break;
    case OverdueRole:
        return overdueAt(index.row());
    case RepeatTextRole:
        return row.repeatText;
    case NotesRole:
        return row.notes;
    case PriorityRole:
        return row.priority;
    case TagsRole:
        return row.tags;
    default:
        return {};
    }
    switch (index.column()) {
    case 0:
        return row.id;
    case 1:
        return row.name;
    case 2:
        return row.active;
    case 3:
        return displayText(row.expireAt);
    case 4:
        return displayText(row.createAt);
    default:
        return {};
    }
}

QVariant TaskTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return {};

    switch (section) {
    case 0:
        return QStringLiteral("ID");
    case 1:
        return QStringLiteral("Name");
    case 2:
        return QStringLiteral("Active");
    case 3:
        return QStringLiteral("Expire at");
    case 4:
        return QStringLiteral("Created at");
    default:
        return {};
    }
}

QHash<int, QByteArray> TaskTableModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractTableModel::roleNames();
    names.insert(OverdueRole, "overdue");
    names.insert(NotesRole, "notes");
    names.insert(PriorityRole, "priority");
    names.insert(TagsRole, "tags");
    names.insert(RepeatTextRole, QByteArrayLiteral("repeatText"));
    return names;
}

void TaskTableModel::setRows(QList<TaskRow> rows)
{
    beginResetModel();
    m_rows.swap(rows);
    endResetModel();
}

qint64 TaskTableModel::taskIdAt(int row) const
{
    return inRange(row) ? m_rows.at(row).id : -1;
}

QString TaskTableModel::nameAt(int row) const
{
    return inRange(row) ? m_rows.at(row).name : QString();
}

bool TaskTableModel::activeAt(int row) const
{
    return inRange(row) && m_rows.at(row).active;
}

QDateTime TaskTableModel::expireAt(int row) const
{
    return inRange(row) ? m_rows.at(row).expireAt : QDateTime();
}

QDateTime TaskTableModel::createAt(int row) const
{
    return inRange(row) ? m_rows.at(row).createAt : QDateTime();
}

int TaskTableModel::rowForId(qint64 id) const
{
    for (int row = 0; row < m_rows.size(); ++row) {
        if (m_rows.at(row).id == id)
            return row;
    }
    return -1;
}

int TaskTableModel::rowCountQml() const
{
    return int(m_rows.size());
}

bool TaskTableModel::overdueAt(int row) const
{
    if (!inRange(row))
        return false;
    const TaskRow &task = m_rows.at(row);
    return !task.active && task.expireAt.isValid() && task.expireAt < QDateTime::currentDateTime();
}
