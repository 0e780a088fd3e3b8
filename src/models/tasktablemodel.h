#pragma once

#include "taskrow.h"

#include <QAbstractTableModel>
#include <QList>

// Read-only table of the task rows of the page loaded last: id, name, Done, due and created.
class TaskTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    // Besides the cell's text, every cell of a row tells these of its task.
    // A repeating task's rule in words, on every cell of its row ("repeatText").
    static constexpr int RepeatTextRole = Qt::UserRole + 1;
    enum Role { OverdueRole = RepeatTextRole + 1, NotesRole, PriorityRole, TagsRole };

    explicit TaskTableModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    void setRows(QList<TaskRow> rows);

    Q_INVOKABLE qint64 taskIdAt(int row) const;
    Q_INVOKABLE QString nameAt(int row) const;
    Q_INVOKABLE bool activeAt(int row) const;
    Q_INVOKABLE QDateTime expireAt(int row) const;
    Q_INVOKABLE QDateTime createAt(int row) const;
    Q_INVOKABLE int rowForId(qint64 id) const;
    Q_INVOKABLE int rowCountQml() const;
    // Pending and due before now.
    Q_INVOKABLE bool overdueAt(int row) const;

private:
    bool inRange(int row) const { return row >= 0 && row < m_rows.size(); }

    QList<TaskRow> m_rows;
};
