#pragma once

#include <QString>
#include <QStringList>

// What a task holds beside its name, due time and Done flag: notes, a priority and tags.
struct TaskDetails
{
    // The priorities as the list sorts them, highest last.
    enum Priority { None = 0, Low = 1, Medium = 2, High = 3 };

    QString notes;
    int priority = None;
    // The iCalendar PRIORITY as received when it is none of the values written here (1, 5, 9,
    // 0); written back unchanged until the priority is changed here. -1 when there is none.
    int priorityRaw = -1;
    QStringList tags;

    bool operator==(const TaskDetails &other) const
    {
        return notes == other.notes && priority == other.priority
               && priorityRaw == other.priorityRaw && tags == other.tags;
    }
    bool operator!=(const TaskDetails &other) const { return !(*this == other); }

    bool isEmpty() const
    {
        return notes.isEmpty() && priority == None && priorityRaw < 0 && tags.isEmpty();
    }

    // Tags as typed: split at commas, trimmed, empty ones and repeats (ignoring case) dropped.
    static QStringList parseTags(const QString &text)
    {
        QStringList tags;
        for (const QString &part : text.split(QLatin1Char(','))) {
            const QString tag = part.trimmed();
            if (!tag.isEmpty() && !tags.contains(tag, Qt::CaseInsensitive))
                tags.append(tag);
        }
        return tags;
    }
};
