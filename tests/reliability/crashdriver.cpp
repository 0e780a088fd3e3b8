// Creates and updates tasks through the real services until it is killed.
//
// Usage: tarvik_crashdriver <database file> <run tag> [seed]
//
// Every command is announced on stdout before it runs ("begin") and acknowledged after it
// returned true ("done"); each line is flushed before the next command starts, so whoever
// kills the process knows which commands completed and which one was in flight. Fields are
// separated by tabs:
//
//   ready
//   begin  create <key> <name> <done 0|1> <expire_at text or empty> <epoch or empty>
//   done   create <id> <key>
//   begin  update <id> <name> <done 0|1> <expire_at text or empty> <epoch or empty>
//   done   update <id>
//   failed <create|update> ...
//
// The key is a text that occurs in exactly one task name, so that the task can be found by
// searching for it.
#include "fixture.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QStringList>
#include <QTimeZone>

#include <cstdio>

namespace {

const auto kUser = QStringLiteral("crash-driver");
const auto kPassword = QStringLiteral("kill -9 at will");

// Gives up by itself after this long, in case nobody is there to kill it.
constexpr qint64 kMaxRunMs = 60000;

const QStringList kWords {
    QStringLiteral("water the plants"),  QStringLiteral("Grüße an Åsa"),
    QStringLiteral("ship it ✓ 🚀"),       QStringLiteral("'; DROP TABLE tasks; --"),
    QStringLiteral("50% of _all_ work"), QStringLiteral("שלום עולם")
};

void report(const QStringList &fields)
{
    const QByteArray line = fields.join(QLatin1Char('\t')).toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
}

struct Values
{
    QString name;
    bool done = false;
    QDateTime due;
};

// The stored text and epoch seconds of a due time, as the task service writes them.
QStringList dueFields(const QDateTime &due)
{
    if (!due.isValid())
        return { QString(), QString() };
    return { due.toUTC().toString(Qt::ISODateWithMs), QString::number(due.toSecsSinceEpoch()) };
}

Values randomValues(QRandomGenerator &random, const QString &key, int version)
{
    Values values;
    values.name = key + QLatin1Char(' ') + kWords.at(random.bounded(int(kWords.size())))
                  + QStringLiteral(" v") + QString::number(version);
    values.done = random.bounded(2) == 1;
    // One due time in eight is left out; the rest lie within a few years from 2030, with
    // milliseconds, in UTC as the window sends them.
    if (random.bounded(8) != 0) {
        const qint64 base =
                QDateTime(QDate(2030, 1, 1), QTime(0, 0), QTimeZone::utc()).toMSecsSinceEpoch();
        values.due = QDateTime::fromMSecsSinceEpoch(base + qint64(random.bounded(100000000)) * 1000
                                                            + random.bounded(1000),
                                                    QTimeZone::utc());
    }
    return values;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fputs("usage: tarvik_crashdriver <database file> <run tag> [seed]\n", stderr);
        return 2;
    }
    const QString tag = args.at(2);
    QRandomGenerator random(args.size() > 3 ? args.at(3).toUInt() : 1u);

    TaskServices program(args.at(1));
    if (!program.opened) {
        std::fputs("cannot open the database\n", stderr);
        return 1;
    }
    TaskService &service = program.tasks;
    TaskTableModel &model = program.model;
    if (signUp(program.auth, kUser, QStringLiteral("Crash Driver"), kPassword) < 0) {
        std::fputs("cannot sign in\n", stderr);
        return 1;
    }
    report({ QStringLiteral("ready") });

    // Tasks created in this run, by id, with the number of versions written so far.
    QList<int> ids;
    QHash<int, QString> keys;
    QHash<int, int> versions;
    QElapsedTimer clock;
    clock.start();
    for (int serial = 1; clock.elapsed() < kMaxRunMs; ++serial) {
        if (ids.isEmpty() || random.bounded(5) < 3) {
            const QString key =
                    QStringLiteral("%1-t%2#").arg(tag).arg(serial, 6, 10, QLatin1Char('0'));
            const Values values = randomValues(random, key, 1);
            report(QStringList { QStringLiteral("begin"), QStringLiteral("create"), key,
                                 values.name, QString::number(int(values.done)) }
                   + dueFields(values.due));
            if (!service.createTask(values.name, values.due, values.done)) {
                report({ QStringLiteral("failed"), QStringLiteral("create"), key });
                continue;
            }
            // The key occurs in no other name, so the search finds exactly this task.
            service.setFilterName(key);
            const int id = model.rowCountQml() == 1 ? model.taskIdAt(0) : -1;
            report({ QStringLiteral("done"), QStringLiteral("create"), QString::number(id), key });
            if (id > 0) {
                ids.append(id);
                keys.insert(id, key);
                versions.insert(id, 1);
            }
        } else {
            const int id = ids.at(random.bounded(int(ids.size())));
            const int version = versions.value(id) + 1;
            const Values values = randomValues(random, keys.value(id), version);
            report(QStringList { QStringLiteral("begin"), QStringLiteral("update"),
                                 QString::number(id), values.name,
                                 QString::number(int(values.done)) }
                   + dueFields(values.due));
            if (!service.updateTask(id, values.name, values.done, values.due)) {
                report({ QStringLiteral("failed"), QStringLiteral("update"), QString::number(id) });
                continue;
            }
            versions.insert(id, version);
            report({ QStringLiteral("done"), QStringLiteral("update"), QString::number(id) });
        }
    }
    report({ QStringLiteral("timeout") });
    return 3;
}
