#include "recurrence.h"

#include "icalholder.h"

#include <QLocale>
#include <QSet>
#include <QStringList>

#include <memory>

namespace {

// The most occurrences walked to find the next one: a rule a minute apart, started years ago,
// stops here rather than hold the window.
constexpr int kMostSteps = 500000;

struct IteratorFree
{
    void operator()(icalrecur_iterator *iterator) const { icalrecur_iterator_free(iterator); }
};
using IteratorPtr = std::unique_ptr<icalrecur_iterator, IteratorFree>;

struct ParsedRule
{
    icalrecurrencetype rule;
    bool valid = false;
};

ParsedRule parse(const QByteArray &rrule)
{
    ParsedRule parsed;
    if (rrule.trimmed().isEmpty())
        return parsed;
    icalerror_set_errors_are_fatal(0);
    parsed.rule = icalrecurrencetype_from_string(rrule.trimmed().constData());
    icalerror_clear_errno();
    parsed.valid = parsed.rule.freq != ICAL_NO_RECURRENCE;
    return parsed;
}

// A wall-clock time of the zone as libical's floating time.
icaltimetype floating(const QDateTime &time, const QTimeZone &zone)
{
    const QDateTime local = time.toTimeZone(zone);
    icaltimetype out = icaltime_null_time();
    out.year = local.date().year();
    out.month = local.date().month();
    out.day = local.date().day();
    out.hour = local.time().hour();
    out.minute = local.time().minute();
    out.second = local.time().second();
    out.is_date = 0;
    return out;
}

QDateTime inZone(const icaltimetype &time, const QTimeZone &zone)
{
    const QDate date(time.year, time.month, time.day);
    if (!date.isValid())
        return {};
    const QTime clock = time.is_date ? QTime(0, 0) : QTime(time.hour, time.minute, time.second);
    const QDateTime local(date, clock, zone);
    if (local.isValid())
        return local;
    // A time the clocks skip counts with the offset before the change (RFC 5545, 3.3.5).
    const QDateTime naive(date, clock, QTimeZone::utc());
    return naive.addSecs(-zone.offsetFromUtc(naive.addDays(-1))).toTimeZone(zone);
}

// UNTIL in UTC as a wall-clock time of the zone, as the iterator compares it with floating
// occurrences; a date or a floating UNTIL is taken as it is.
void untilInZone(icalrecurrencetype &rule, const QTimeZone &zone)
{
    if (icaltime_is_null_time(rule.until) || rule.until.is_date || !icaltime_is_utc(rule.until))
        return;
    const QDate date(rule.until.year, rule.until.month, rule.until.day);
    const QTime time(rule.until.hour, rule.until.minute, rule.until.second);
    rule.until = floating(QDateTime(date, time, Qt::UTC), zone);
}

QString weekdayName(int weekday)
{
    // libical counts Sunday as 1, Qt Monday as 1.
    const int qtDay = weekday == 1 ? 7 : weekday - 1;
    return QLocale().dayName(qtDay, QLocale::ShortFormat);
}

QString ordinal(int position)
{
    switch (position) {
    case -1:
        return QStringLiteral("last");
    case 1:
        return QStringLiteral("first");
    case 2:
        return QStringLiteral("second");
    case 3:
        return QStringLiteral("third");
    case 4:
        return QStringLiteral("fourth");
    default:
        return QString::number(position) + QStringLiteral("th");
    }
}

} // namespace

namespace Recurrence {

QTimeZone Rule::timeZone() const
{
    if (!zone.isEmpty()) {
        const QTimeZone named(zone);
        if (named.isValid())
            return named;
    }
    return QTimeZone::systemTimeZone();
}

bool isValid(const QByteArray &rrule)
{
    return parse(rrule).valid;
}

namespace {

QDateTime firstAfter(const QByteArray &rrule, const QDateTime &start, const QTimeZone &zone,
                     const QDateTime &after, const QSet<qint64> &excluded, int *skipped)
{
    ParsedRule parsed = parse(rrule);
    if (!parsed.valid || !start.isValid())
        return {};
    untilInZone(parsed.rule, zone);
    const IteratorPtr iterator(icalrecur_iterator_new(parsed.rule, floating(start, zone)));
    if (!iterator)
        return {};
    int steps = 0;
    for (icaltimetype next = icalrecur_iterator_next(iterator.get());
         !icaltime_is_null_time(next) && steps < kMostSteps;
         next = icalrecur_iterator_next(iterator.get()), ++steps) {
        const QDateTime occurrence = inZone(next, zone);
        if (occurrence.isValid() && occurrence > after
            && !excluded.contains(occurrence.toSecsSinceEpoch())) {
            if (skipped)
                *skipped = steps;
            return occurrence;
        }
    }
    return {};
}

} // namespace

QDateTime nextOccurrence(const QByteArray &rrule, const QDateTime &start, const QTimeZone &zone,
                         const QDateTime &after, int *skipped)
{
    return firstAfter(rrule, start, zone, after, {}, skipped);
}

QDateTime nextOccurrence(const Rule &rule, const QDateTime &start, const QDateTime &after,
                         int *passed)
{
    QSet<qint64> excluded;
    for (const QDateTime &date : rule.excluded)
        excluded.insert(date.toSecsSinceEpoch());
    return firstAfter(rule.rrule, start, rule.timeZone(), after, excluded, passed);
}

Advance complete(const Rule &rule, const QDateTime &due, const QDateTime &start,
                 const QDateTime &now)
{
    Advance advance;
    ParsedRule parsed = parse(rule.rrule);
    if (!parsed.valid || !due.isValid())
        return advance;
    const QTimeZone zone = rule.timeZone();
    const QDateTime first = start.isValid() ? start : due;
    const qint64 offset = first.secsTo(due); // DUE after DTSTART
    QDateTime next;
    int passed = 1;
    if (rule.fromCompletion) {
        const QDateTime local = now.toTimeZone(zone);
        const int interval = qMax<int>(1, parsed.rule.interval);
        switch (parsed.rule.freq) {
        case ICAL_YEARLY_RECURRENCE:
            next = local.addYears(interval);
            break;
        case ICAL_MONTHLY_RECURRENCE:
            next = local.addMonths(interval);
            break;
        case ICAL_WEEKLY_RECURRENCE:
            next = local.addDays(7 * qint64(interval));
            break;
        case ICAL_DAILY_RECURRENCE:
            next = local.addDays(interval);
            break;
        default: // hourly and shorter: a span of seconds
            next = local.addSecs(qint64(interval)
                                 * (parsed.rule.freq == ICAL_HOURLY_RECURRENCE     ? 3600
                                    : parsed.rule.freq == ICAL_MINUTELY_RECURRENCE ? 60
                                                                                   : 1));
        }
        if (parsed.rule.count == 1)
            return advance;
        untilInZone(parsed.rule, zone);
        if (!icaltime_is_null_time(parsed.rule.until)
            && next > inZone(parsed.rule.until, zone)
                               .addSecs(parsed.rule.until.is_date ? 86399 : 0))
            return advance;
        next = next.addSecs(-offset); // the start of the next occurrence
    } else {
        const QDateTime after = qMax(now, due).addSecs(-offset);
        next = nextOccurrence(rule, first, after, &passed);
        if (!next.isValid())
            return advance;
    }
    advance.repeats = true;
    advance.due = next.addSecs(offset).toUTC();
    if (parsed.rule.count > 0) {
        const int left = parsed.rule.count - passed;
        if (left < 1)
            return Advance {};
        parsed.rule.count = left;
    }
    if (parsed.rule.count > 0) {
        // Only COUNT changes: the rule keeps the text another client wrote.
        QList<QByteArray> parts = rule.rrule.trimmed().split(';');
        for (QByteArray &part : parts) {
            if (part.toUpper().startsWith("COUNT="))
                part = "COUNT=" + QByteArray::number(parsed.rule.count);
        }
        advance.rrule = parts.join(';');
    } else {
        advance.rrule = rule.rrule.trimmed();
    }
    return advance;
}

QString describe(const QByteArray &rrule)
{
    const ParsedRule parsed = parse(rrule);
    if (!parsed.valid)
        return {};
    const icalrecurrencetype &rule = parsed.rule;
    static const char *const units[][2] = {
        { "second", "seconds" }, { "minute", "minutes" }, { "hour", "hours" }, { "day", "days" },
        { "week", "weeks" },     { "month", "months" },   { "year", "years" },
    };
    const int unit = qBound(0, int(rule.freq), 6);
    const int interval = qMax<int>(1, rule.interval);
    QString text = interval == 1 ? QStringLiteral("Every %1").arg(QLatin1String(units[unit][0]))
                                 : QStringLiteral("Every %1 %2")
                                           .arg(interval)
                                           .arg(QLatin1String(units[unit][1]));
    QStringList days;
    int position = 0;
    for (int i = 0; i < ICAL_BY_DAY_SIZE && rule.by_day[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i) {
        days.append(weekdayName(icalrecurrencetype_day_day_of_week(rule.by_day[i])));
        position = icalrecurrencetype_day_position(rule.by_day[i]);
    }
    if (rule.by_set_pos[0] != ICAL_RECURRENCE_ARRAY_MAX)
        position = rule.by_set_pos[0];
    if (rule.freq == ICAL_DAILY_RECURRENCE && interval == 1 && days.size() == 5
        && !rrule.toUpper().contains("SA") && !rrule.toUpper().contains("SU"))
        text = QStringLiteral("Every weekday");
    else if (!days.isEmpty() && position != 0 && days.size() == 1)
        text += QStringLiteral(" on the %1 %2").arg(ordinal(position), days.first());
    else if (!days.isEmpty())
        text += QStringLiteral(" on ") + days.join(QStringLiteral(", "));
    if (rule.by_month_day[0] != ICAL_RECURRENCE_ARRAY_MAX)
        text += rule.by_month_day[0] == -1 ? QStringLiteral(" on the last day")
                                           : QStringLiteral(" on day %1").arg(rule.by_month_day[0]);
    if (rule.count > 0)
        text += rule.count == 1 ? QStringLiteral(", once")
                                : QStringLiteral(", %1 times").arg(rule.count);
    else if (!icaltime_is_null_time(rule.until))
        text += QStringLiteral(", until %1")
                        .arg(QLocale().toString(
                                QDate(rule.until.year, rule.until.month, rule.until.day),
                                QLocale::ShortFormat));
    return text;
}

} // namespace Recurrence
