#include "csvwriter.h"

namespace {

// A cell as a spreadsheet reads it: text that would start a formula is prefixed with an
// apostrophe, and a cell holding a separator (comma or semicolon), a quote or a line break is
// quoted.
QByteArray cell(const QString &text)
{
    QString value = text;
    static const QString formulaStarts = QStringLiteral("=+-@\t\r");
    if (!value.isEmpty() && formulaStarts.contains(value.front()))
        value.prepend(u'\'');
    QByteArray bytes = value.toUtf8();
    // A spreadsheet set to split at semicolons would split the cell, and a formula could start
    // at the piece after one.
    if (bytes.contains(',') || bytes.contains(';') || bytes.contains('"') || bytes.contains('\n')
        || bytes.contains('\r')) {
        bytes.replace("\"", "\"\"");
        bytes = '"' + bytes + '"';
    }
    return bytes;
}

// ISO 8601 in local time with its offset from UTC; empty for no time.
QString isoText(const QDateTime &dateTime)
{
    if (!dateTime.isValid())
        return {};
    const QDateTime local = dateTime.toLocalTime();
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate);
}

} // namespace

QByteArray CsvWriter::write(const QList<IcalTask> &tasks)
{
    return header() + writeRows(tasks, 0, tasks.size());
}

QByteArray CsvWriter::header()
{
    return QByteArrayLiteral("name,status,due,created,notes,priority,tags\r\n");
}

QByteArray CsvWriter::writeRows(const QList<IcalTask> &tasks, qsizetype from, qsizetype to)
{
    static const QString priorities[] = { QString(), QStringLiteral("low"),
                                          QStringLiteral("medium"), QStringLiteral("high") };
    QByteArray text;
    for (qsizetype i = from; i < to && i < tasks.size(); ++i) {
        const IcalTask &task = tasks.at(i);
        text += cell(task.name) + ',';
        text += cell(task.done ? QStringLiteral("Done") : QStringLiteral("Pending")) + ',';
        text += cell(isoText(task.due)) + ',' + cell(isoText(task.created)) + ',';
        text += cell(task.details.notes) + ','
                + cell(priorities[qBound(0, task.details.priority, 3)]) + ','
                + cell(task.details.tags.join(QStringLiteral(", "))) + "\r\n";
    }
    return text;
}
