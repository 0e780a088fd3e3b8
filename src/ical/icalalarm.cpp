#include "icalalarm.h"

#include "icalholder.h"

namespace IcalAlarm {

namespace {

QByteArray nameOf(const QByteArray &line)
{
    qsizetype end = 0;
    while (end < line.size() && line.at(end) != ':' && line.at(end) != ';')
        ++end;
    return line.left(end).trimmed().toUpper();
}

QByteArray valueOf(const QByteArray &line)
{
    const qsizetype colon = line.indexOf(':');
    return colon < 0 ? QByteArray() : line.mid(colon + 1).trimmed().toUpper();
}

QByteArray descriptionLine(const QString &name)
{
    QString text = name;
    text.removeIf([](QChar c) { return c.category() == QChar::Other_Control && c != u'\n'; });
    const IcalPropertyPtr property(icalproperty_new_description(text.toUtf8().constData()));
    const IcalStringPtr written(icalproperty_as_ical_string_r(property.get()));
    QByteArray line(written ? written.get() : "DESCRIPTION:");
    line.replace("\r\n ", "").replace("\r\n\t", "");
    return line.endsWith("\r\n") ? line : line + "\r\n";
}

QByteArray ownAlarm(const IcalTask &task, int lead)
{
    const QByteArray trigger = lead > 0 ? "-PT" + QByteArray::number(lead) + 'M' : "PT0M";
    return "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER;RELATED=END:" + trigger + "\r\n"
           + descriptionLine(task.name) + kMarker + ":TRUE\r\nEND:VALARM\r\n";
}

} // namespace

QByteArray patched(const QByteArray &todo, const IcalTask &task)
{
    if (!task.alarmLead)
        return todo;
    QByteArray text;
    QByteArray alarm;
    qsizetype todoEnd = -1;
    bool inAlarm = false;
    bool ours = false;
    bool foreign = false;
    int depth = 0;
    for (const QByteArray &piece : todo.split('\n')) {
        const QByteArray line = piece.endsWith('\r') ? piece.chopped(1) : piece;
        if (line.isEmpty())
            continue;
        const QByteArray name = nameOf(line);
        if (name == "BEGIN" && ++depth == 2 && valueOf(line) == "VALARM") {
            inAlarm = true;
            ours = false;
            alarm.clear();
        }
        if (name == "END" && depth == 1)
            todoEnd = text.size();
        if (inAlarm) {
            alarm += line + "\r\n";
            ours = ours || name == kMarker;
        } else {
            text += line + "\r\n";
        }
        if (name == "END" && depth-- == 2 && inAlarm) {
            inAlarm = false;
            if (!ours) {
                foreign = true;
                text += alarm;
            }
        }
    }
    const bool wanted = *task.alarmLead >= 0 && !task.done && task.due.isValid() && !foreign;
    if (!wanted || todoEnd < 0)
        return text;
    return text.insert(todoEnd, ownAlarm(task, *task.alarmLead));
}

bool carriesOwn(const QByteArray &calendar)
{
    return calendar.contains(QByteArray("\r\n") + kMarker + ':');
}

} // namespace IcalAlarm
