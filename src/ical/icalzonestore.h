#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSqlDatabase>
#include <QString>

// The time zones of an account's tasks that the system does not know, each kept once with its
// VTIMEZONE text. A task's kept text names its zones without defining them: a zone the system
// knows is defined from the system's rules when the task is written out, any other from here.
namespace IcalZoneStore {

// Definitions by TZID.
using Zones = QHash<QByteArray, QByteArray>;

// Whether the system knows the zone a TZID names, so that its definition need not be kept.
bool isSystemZone(const QByteArray &tzid);
// The TZIDs the property lines of a component's text name, but for other programs' (X-).
QList<QByteArray> namedZones(const QByteArray &text);
// A task's kept text with the definitions of the zones it names and does not define put back:
// the account's own, and with system those of the system's zones too.
QByteArray withZones(const QByteArray &calendar, const Zones &zones, bool system);
// The account's kept zones; empty when it has none or they cannot be read.
Zones read(const QSqlDatabase &database, qint64 userId);
// Keeps the zones the system does not know for the account, each in place of one of the same
// TZID; zones without a definition are left out. False with error set.
bool store(const QSqlDatabase &database, qint64 userId, const Zones &zones, QString &error);

} // namespace IcalZoneStore
