#include "storedtime.h"

#include <QTimeZone>

#include <cstdio>
#include <limits>

namespace StoredTime {

// Stored texts are UTC, whether or not they say so (CURRENT_TIMESTAMP carries no zone):
// parse, re-label the wall-clock time as UTC, show it in local time.
QDateTime read(const QVariant &value)
{
    return readUtc(value).toLocalTime();
}

QDateTime readUtc(const QVariant &value)
{
    // "yyyy-MM-dd HH:mm:ss", as CURRENT_TIMESTAMP and createdText write it, read directly.
    const QString text = value.toString();
    const QStringView view(text);
    if (view.size() == 19 && view[4] == u'-' && view[7] == u'-' && view[10] == u' '
        && view[13] == u':' && view[16] == u':') {
        const auto number = [&view](qsizetype from, qsizetype length) {
            bool ok = false;
            const int n = view.sliced(from, length).toInt(&ok);
            return ok ? n : -1;
        };
        const QDate day(number(0, 4), number(5, 2), number(8, 2));
        const QTime time(number(11, 2), number(14, 2), number(17, 2));
        if (day.isValid() && time.isValid())
            return QDateTime(day, time, Qt::UTC);
    }
    const QDateTime parsed = value.toDateTime();
    if (!parsed.isValid())
        return {};
    return QDateTime(parsed.date(), parsed.time(), Qt::UTC);
}

// The due time is written in UTC, so that its text and its epoch seconds name the same instant.
QVariant dueText(const QDateTime &expireAt)
{
    return expireAt.isValid() ? QVariant(expireAt.toUTC())
                              : QVariant(QMetaType::fromType<QDateTime>());
}

QVariant dueEpoch(const QDateTime &expireAt)
{
    return expireAt.isValid() ? QVariant(expireAt.toSecsSinceEpoch())
                              : QVariant(QMetaType::fromType<qint64>());
}

QVariant createdText(const QDateTime &created)
{
    const QDateTime utc = created.toUTC();
    if (!created.isValid() || utc.date().year() < 1 || utc.date().year() > 9999)
        return QVariant(QMetaType::fromType<QString>());
    // As toString("yyyy-MM-dd HH:mm:ss") writes it, at a fraction of its cost (an import writes
    // one for each task).
    const QDate day = utc.date();
    const QTime time = utc.time();
    char text[20];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", day.year(), day.month(),
                  day.day(), time.hour(), time.minute(), time.second());
    return QString::fromLatin1(text, 19);
}

QString reminderText(qint64 epoch)
{
    return QDateTime::fromSecsSinceEpoch(epoch, QTimeZone::utc())
            .toLocalTime()
            .toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

qint64 saturatingAdd(qint64 base, qint64 delta)
{
    if (delta > 0 && base > std::numeric_limits<qint64>::max() - delta)
        return std::numeric_limits<qint64>::max();
    if (delta < 0 && base < std::numeric_limits<qint64>::min() - delta)
        return std::numeric_limits<qint64>::min();
    return base + delta;
}

} // namespace StoredTime
