#include "icalzonestore.h"

#include "icalholder.h"
#include "icalzonetext.h"

#include <QDate>
#include <QMutex>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

bool IcalZoneStore::isSystemZone(const QByteArray &tzid)
{
    // Asked for every zone of every imported task: the answer for a name is kept.
    static QMutex mutex;
    static QHash<QByteArray, bool> known;
    const QMutexLocker lock(&mutex);
    const auto found = known.constFind(tzid);
    if (found != known.constEnd())
        return *found;
    const bool system = !tzid.isEmpty() && icaltimezone_get_builtin_timezone(tzid.constData())
                        && !icalZoneDefinition(tzid, QDate::currentDate().year()).isEmpty();
    known.insert(tzid, system);
    return system;
}

namespace {

// The system's VTIMEZONE of a zone as of this year, worked out once per thread.
QByteArray systemDefinition(const QByteArray &tzid)
{
    constexpr qsizetype kMaxKept = 256;
    thread_local QHash<QByteArray, QByteArray> kept;
    const auto found = kept.constFind(tzid);
    if (found != kept.constEnd())
        return *found;
    if (kept.size() >= kMaxKept)
        kept.clear();
    return *kept.insert(tzid, icalZoneDefinition(tzid, QDate::currentDate().year()));
}

} // namespace

QList<QByteArray> IcalZoneStore::namedZones(const QByteArray &text)
{
    QList<QByteArray> zones;
    for (qsizetype from = 0; from < text.size();) {
        qsizetype end = text.indexOf('\n', from);
        if (end < 0)
            end = text.size();
        const QByteArrayView line(text.constData() + from, end - from);
        from = end + 1;
        if (!line.contains(';') || line.startsWith("X-") || line.startsWith("x-"))
            continue;
        const QByteArray tzid = icalLineZone(line.trimmed().toByteArray());
        if (!tzid.isEmpty() && !zones.contains(tzid))
            zones.append(tzid);
    }
    return zones;
}

QByteArray IcalZoneStore::withZones(const QByteArray &calendar, const Zones &zones, bool system)
{
    if ((zones.isEmpty() && !system) || !calendar.contains(";TZID="))
        return calendar;
    QByteArray definitions;
    for (const QByteArray &tzid : namedZones(calendar)) {
        if (calendar.contains("\nTZID:" + tzid + "\r\n"))
            continue;
        const auto found = zones.constFind(tzid);
        definitions += found != zones.constEnd() ? *found
                       : system                  ? systemDefinition(tzid)
                                                 : QByteArray();
    }
    const qsizetype at = calendar.indexOf("\nBEGIN:");
    if (definitions.isEmpty() || at < 0)
        return calendar;
    return calendar.left(at + 1) + definitions + calendar.mid(at + 1);
}

IcalZoneStore::Zones IcalZoneStore::read(const QSqlDatabase &database, qint64 userId)
{
    Zones zones;
    QSqlQuery query(database);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT tzid, definition FROM task_zones WHERE user_id = ?"));
    query.addBindValue(userId);
    if (!query.exec())
        return zones; // a file before the table: its tasks keep their zones themselves
    while (query.next())
        zones.insert(query.value(0).toString().toUtf8(), query.value(1).toString().toUtf8());
    return zones;
}

bool IcalZoneStore::store(const QSqlDatabase &database, qint64 userId, const Zones &zones,
                          QString &error)
{
    QSqlQuery query(database);
    query.prepare(QStringLiteral("INSERT OR REPLACE INTO task_zones (user_id, tzid, definition) "
                                 "VALUES (?, ?, ?)"));
    for (auto zone = zones.constBegin(); zone != zones.constEnd(); ++zone) {
        if (zone.value().isEmpty() || isSystemZone(zone.key()))
            continue;
        query.bindValue(0, userId);
        query.bindValue(1, QString::fromUtf8(zone.key()));
        query.bindValue(2, QString::fromUtf8(zone.value()));
        if (!query.exec()) {
            error = query.lastError().text();
            return false;
        }
    }
    return true;
}
