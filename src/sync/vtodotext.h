#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QString>

// What a task is made of, as far as a VTODO carries it. The due time is in UTC, or invalid for
// a task without one.
struct TaskFields
{
    QString name;
    bool done = false;
    QDateTime due;

    bool operator==(const TaskFields &other) const
    {
        return name == other.name && done == other.done && due.isValid() == other.due.isValid()
               && (!due.isValid() || due.toSecsSinceEpoch() == other.due.toSecsSinceEpoch());
    }
    bool operator!=(const TaskFields &other) const { return !(*this == other); }
};

Q_DECLARE_METATYPE(TaskFields)

// The first VTODO of a calendar object resource.
struct VTodo
{
    bool valid = false;
    QString uid;
    TaskFields fields;
    QDateTime created; // UTC, invalid when absent
    QDateTime lastModified; // UTC; DTSTAMP when LAST-MODIFIED is absent
};

// Reads and writes the text of calendar object resources. A resource is changed in place: the
// properties a task changed are rewritten and every other line stays as the server sent it, so
// that what this program does not understand (RRULE, DESCRIPTION, CATEGORIES, X-..., alarms)
// survives a round trip.
namespace VTodoText {

VTodo read(const QString &ical);
QString create(const QString &uid, const TaskFields &fields, const QDateTime &created,
               const QDateTime &modified);
QString update(const QString &ical, const TaskFields &before, const TaskFields &after,
               const QDateTime &modified);
// Like update, with every property of the task written from fields.
QString rewrite(const QString &ical, const TaskFields &fields, const QDateTime &modified);

} // namespace VTodoText
