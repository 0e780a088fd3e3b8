// Loaded into the real program with LD_PRELOAD by bench_window (TARVIK_PROBE=window); the
// program itself is not changed. After the first frame it signs in on the login page as a
// person does (TARVIK_PROBE_USER, Tab, TARVIK_PROBE_PASSWORD, Return), then repeats
// TARVIK_PROBE_RUNS times what a person does on the task page, each time measuring from the
// input (a key sent to the window, or the service call the page makes) to the next frame the
// window swaps, the GUI thread being busy in between. Next to each, the least the same answer
// can cost is measured on the program's own connection. It writes "sample <figure> <ms>"
// lines and "done", or "error <text>", and ends the process.
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLoggingCategory>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlExpression>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimer>

#include <algorithm>

#include <atomic>
#include <cmath>
#include <ctime>
#include <functional>
#include <unistd.h>

namespace {

qint64 monotonicNs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

qint64 threadCpuNs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void writeLine(const QByteArray &line)
{
    const QByteArray text = line + '\n';
    [[maybe_unused]] const ssize_t written = ::write(STDOUT_FILENO, text.constData(), text.size());
}

[[noreturn]] void finish(const QByteArray &line)
{
    writeLine(line);
    ::_exit(0);
}

// When the program last said it holds a large account's names for searching (its debug line).
std::atomic<qint64> namesHeldNs { 0 };
std::atomic<qint64> namesBytes { 0 };
QtMessageHandler programHandler = nullptr;

void watchMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (qstrcmp(context.category, "tarvik.tasks") == 0 && message.contains("held for searching")) {
        namesHeldNs = monotonicNs();
        const QStringList words = message.split(QLatin1Char(' '));
        namesBytes = words.size() > 2 ? words.at(words.size() - 2).toLongLong() : 0;
        return;
    }
    if (programHandler)
        programHandler(type, context, message);
}

void sample(const char *figure, double ms)
{
    writeLine(QByteArray("sample ") + figure + ' ' + QByteArray::number(ms, 'f', 4));
}

// Runs the statement to its last row and returns the milliseconds it took.
double timeStatement(const QString &sql, const QVariantList &values)
{
    QSqlQuery query(QSqlDatabase::database());
    query.prepare(sql);
    for (const QVariant &value : values)
        query.addBindValue(value);
    QElapsedTimer timer;
    timer.start();
    if (query.exec()) {
        while (query.next())
            query.value(0);
    }
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    query.finish();
    return ms;
}

QVariant scalar(const QString &sql, const QVariantList &values)
{
    QSqlQuery query(QSqlDatabase::database());
    query.prepare(sql);
    for (const QVariant &value : values)
        query.addBindValue(value);
    return query.exec() && query.next() ? query.value(0) : QVariant();
}

bool hasTable(const QString &name)
{
    QSqlQuery query(QSqlDatabase::database());
    query.prepare(QStringLiteral("SELECT 1 FROM sqlite_master WHERE name = ?"));
    query.addBindValue(name);
    return query.exec() && query.next();
}

class Probe : public QObject
{
public:
    explicit Probe(QObject *parent)
        : QObject(parent)
    {
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!m_window) {
            if (auto *window = qobject_cast<QQuickWindow *>(watched)) {
                m_window = window;
                connect(window, &QQuickWindow::frameSwapped, this, &Probe::frameSwapped,
                        Qt::DirectConnection);
                // Polishing (the table's delegates made) is done when the scene is synced.
                connect(
                        window, &QQuickWindow::beforeSynchronizing, this,
                        [this] {
                            m_syncNs = monotonicNs();
                            m_syncCpuNs = threadCpuNs();
                        },
                        Qt::DirectConnection);
                QCoreApplication::instance()->removeEventFilter(this);
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    // Runs on the thread that renders, which is not always the GUI thread.
    void frameSwapped()
    {
        m_lastFrameNs = monotonicNs();
        if (m_firstFrameSeen)
            return;
        m_firstFrameSeen = true;
        if (qgetenv("TARVIK_PROBE") == "settle")
            QMetaObject::invokeMethod(this, &Probe::settle, Qt::QueuedConnection);
        else
            QMetaObject::invokeMethod(this, &Probe::signIn, Qt::QueuedConnection);
    }

    // The first start on a file without the indexes: from the first frame until the file has
    // every index, the longest time the window could not answer, and how long it all took.
    void settle()
    {
        const qint64 firstFrame = m_lastFrameNs;
        qint64 last = monotonicNs();
        qint64 longest = last - firstFrame;
        auto *timer = new QTimer(this);
        timer->setInterval(5);
        connect(timer, &QTimer::timeout, this, [=]() mutable {
            const qint64 now = monotonicNs();
            longest = std::max(longest, now - last);
            last = now;
            if (hasTable(QStringLiteral("idx_tasks_user_created"))
                && hasTable(QStringLiteral("tasks_trigram_update"))
                && !hasTable(QStringLiteral("tasks_trigram_fill"))) {
                sample("longest-freeze", double(longest) / 1e6);
                sample("indexes-done", double(now - firstFrame) / 1e6);
                finish("done");
            }
        });
        timer->start();
    }

    void key(int key, const QString &text = QString(), Qt::KeyboardModifiers modifiers = {})
    {
        QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
        QCoreApplication::sendEvent(m_window, &press);
        QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
        QCoreApplication::sendEvent(m_window, &release);
    }

    void type(const QString &text)
    {
        for (const QChar c : text)
            key(c.toUpper().unicode(), QString(c));
    }

    // Lets the event loop run for ms milliseconds.
    static void wait(int ms)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }

    // Milliseconds from the start of action to the next swapped frame; NaN without a frame.
    double toFrame(const std::function<void()> &action)
    {
        wait(40);
        const qint64 before = m_lastFrameNs;
        const qint64 start = monotonicNs();
        const qint64 startCpu = threadCpuNs();
        m_syncNs = 0;
        action();
        QElapsedTimer guard;
        guard.start();
        while (m_lastFrameNs == before && guard.elapsed() < 3000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        if (m_lastFrameNs == before)
            return std::nan("");
        // Until the scene was synced: the input handled and the items polished.
        m_toSyncMs = m_syncNs == 0 ? std::nan("") : double(m_syncNs - start) / 1e6;
        m_toSyncCpuMs = m_syncNs == 0 ? std::nan("") : double(m_syncCpuNs - startCpu) / 1e6;
        return double(m_lastFrameNs - start) / 1e6;
    }

    QVariant evaluate(const QString &script)
    {
        QQmlExpression expression(qmlEngine(m_window)->rootContext(), m_window, script);
        const QVariant result = expression.evaluate();
        if (expression.hasError())
            finish("error " + expression.error().toString().toUtf8());
        return result;
    }

    static QQuickItem *findItem(QQuickItem *root, const QString &name)
    {
        if (root->objectName() == name)
            return root;
        for (QQuickItem *child : root->childItems()) {
            if (QQuickItem *found = findItem(child, name))
                return found;
        }
        return nullptr;
    }

    QQuickItem *item(const char *name) const
    {
        return findItem(m_window->contentItem(), QLatin1String(name));
    }

    void signIn()
    {
        m_window->requestActivate();
        QCoreApplication::processEvents();
        type(qEnvironmentVariable("TARVIK_PROBE_USER"));
        key(Qt::Key_Tab);
        type(qEnvironmentVariable("TARVIK_PROBE_PASSWORD"));
        m_signInNs = monotonicNs();
        key(Qt::Key_Return, QStringLiteral("\r"));
        wait(1500);
        if (!evaluate(QStringLiteral("auth.loggedIn")).toBool())
            finish("error typing into the login page did not sign in");
        if (!item("table"))
            finish("error the task page did not open");
        run();
    }

    // Until the program holds the names for searching, if it does so at this size.
    static void waitForNames()
    {
        QElapsedTimer held;
        held.start();
        while (namesHeldNs == 0 && held.elapsed() < 10000)
            wait(20);
    }

    void focusTable()
    {
        if (QQuickItem *table = item("table"))
            table->forceActiveFocus();
    }

    // Create, edit and delete on the first page, as the dialog and the Delete key do.
    void command(const QString &name)
    {
        sample("create", toFrame([&] {
                   evaluate(QStringLiteral("taskService.createTask(\"%1\", "
                                           "new Date(Date.now() + 86400000), false)")
                                    .arg(name));
               }));
        sample("edit", toFrame([&] {
                   evaluate(QStringLiteral("taskService.updateTask(taskModel.taskIdAt(0), "
                                           "\"%1 edited\", true, new Date())")
                                    .arg(name));
               }));
        sample("delete", toFrame([&] {
                   evaluate(QStringLiteral("taskService.deleteTask(taskModel.taskIdAt(0))"));
               }));
    }

    void run()
    {
        const int runs = qMax(1, qEnvironmentVariableIntValue("TARVIK_PROBE_RUNS"));
        const qint64 userId = evaluate(QStringLiteral("auth.userId")).toLongLong();
        const int pageSize = evaluate(QStringLiteral("taskService.pageSize")).toInt();
        const QString rowsSql = QStringLiteral(
                "SELECT id, name, active, expire_at, create_at FROM tasks WHERE user_id = ? "
                "ORDER BY create_at %1 LIMIT ? OFFSET 0");
        const bool trigram = hasTable(QStringLiteral("tasks_trigram"));
        // A large account's names are read for searching after sign-in, between frames.
        waitForNames();
        if (namesHeldNs != 0) {
            sample("names-held", double(namesHeldNs - m_signInNs) / 1e6);
            sample("names-mib", double(namesBytes) / (1 << 20));
        }
        // TARVIK_PROBE_ONLY names the one figure to measure alone (to profile it): "flip",
        // "soonest-key" or "command" (create, edit and delete, twenty times).
        const QByteArray only = qgetenv("TARVIK_PROBE_ONLY");
        for (int run = 0; run < runs; ++run) {
            if (only == "soonest-key") {
                typeInSoonestOrder(userId, pageSize, trigram);
                evaluate(QStringLiteral("taskService.sortOrder = 0"));
                continue;
            }
            focusTable();
            evaluate(QStringLiteral("taskService.loadPage(1)"));
            sample("repaint", toFrame([&] { m_window->update(); }));
            for (int page = 2; page <= 11; ++page) {
                sample("flip", toFrame([&] { key(Qt::Key_Right); }));
                sample("flip-to-sync", m_toSyncMs);
                sample("flip-to-sync-cpu", m_toSyncCpuMs);
            }
            if (only == "flip")
                continue;
            if (only == "command") {
                for (int i = 0; i < 20; ++i)
                    command(QStringLiteral("Bench task %1").arg(i));
                continue;
            }
            sample("end", toFrame([&] { key(Qt::Key_End); }));
            sample("floor-end",
                   timeStatement(rowsSql.arg(QStringLiteral("ASC")), { userId, pageSize }));
            for (int i = 0; i < 4; ++i)
                sample("prev-near-end", toFrame([&] { key(Qt::Key_Left); }));
            sample("middle", toFrame([&] {
                       evaluate(QStringLiteral(
                               "taskService.loadPage(Math.floor(taskService.totalPages / 2))"));
                   }));
            // Flipping on from the middle, as a person gets there.
            focusTable();
            for (int i = 0; i < 2; ++i)
                sample("middle-flip", toFrame([&] { key(Qt::Key_Right); }));
            for (int i = 0; i < 2; ++i)
                sample("middle-flip", toFrame([&] { key(Qt::Key_Left); }));
            sample("home", toFrame([&] { key(Qt::Key_Home); }));
            // The same flips in the "Due soonest" order, from the first page and the middle.
            evaluate(QStringLiteral("taskService.sortOrder = 1"));
            focusTable();
            for (int page = 2; page <= 6; ++page)
                sample("soonest-flip", toFrame([&] { key(Qt::Key_Right); }));
            evaluate(
                    QStringLiteral("taskService.loadPage(Math.floor(taskService.totalPages / 2))"));
            focusTable();
            for (int i = 0; i < 2; ++i)
                sample("soonest-flip", toFrame([&] { key(Qt::Key_Right); }));
            for (int i = 0; i < 2; ++i)
                sample("soonest-flip", toFrame([&] { key(Qt::Key_Left); }));
            // And in the "Priority" order.
            evaluate(QStringLiteral("taskService.sortOrder = 2"));
            focusTable();
            for (int page = 2; page <= 6; ++page)
                sample("priority-flip", toFrame([&] { key(Qt::Key_Right); }));
            evaluate(
                    QStringLiteral("taskService.loadPage(Math.floor(taskService.totalPages / 2))"));
            focusTable();
            for (int i = 0; i < 2; ++i)
                sample("priority-flip", toFrame([&] { key(Qt::Key_Right); }));
            for (int i = 0; i < 2; ++i)
                sample("priority-flip", toFrame([&] { key(Qt::Key_Left); }));
            evaluate(QStringLiteral("taskService.sortOrder = 0"));
            key(Qt::Key_Home);
            sample("floor-home",
                   timeStatement(rowsSql.arg(QStringLiteral("DESC")), { userId, pageSize }));
            // "Show" on a reminder for the oldest task: the page that holds it, from the first.
            if (QQuickItem *tasksPage = item("tasksPage")) {
                const qint64 oldest = scalar(QStringLiteral("SELECT id FROM tasks WHERE user_id = "
                                                            "? ORDER BY create_at, id LIMIT 1"),
                                             { userId })
                                              .toLongLong();
                sample("show-oldest", toFrame([&] {
                           QMetaObject::invokeMethod(tasksPage, "showTask",
                                                     Q_ARG(QVariant, QVariant(oldest)));
                       }));
                key(Qt::Key_Home);
            }

            const QString name = QStringLiteral("Bench task %1").arg(run);
            command(name);
            // The least a command costs: its statement alone, written and committed.
            sample("floor-command",
                   timeStatement(QStringLiteral("INSERT INTO tasks (user_id, name, active) "
                                                "VALUES (?, ?, 0)"),
                                 { userId, name }));
            timeStatement(QStringLiteral("DELETE FROM tasks WHERE user_id = ? AND name = ?"),
                          { userId, name });
            // Those two writes were not the program's: it reads the names for searching again,
            // from the next list load on; a person's searches come after that.
            namesHeldNs = 0;
            evaluate(QStringLiteral("taskService.loadPage(taskService.currentPage)"));
            waitForNames();

            // Typing into the search field, one character at a time, then clearing it.
            for (const QString &term : { QStringLiteral("report"), QStringLiteral("bruno"),
                                         QStringLiteral("#123"), QStringLiteral("zqx") }) {
                QQuickItem *search = item("searchName");
                if (!search)
                    finish("error the task page has no search field");
                search->forceActiveFocus();
                for (int length = 1; length <= term.size(); ++length) {
                    const QString typed = term.left(length);
                    const char *figure = length == 1 ? "key-1" : length == 2 ? "key-2" : "key-3+";
                    sample(figure, toFrame([&] { type(typed.right(1)); }));
                    // The least that shows the answer: the cheaper way to the number of
                    // matches and the cheaper way to the first page's rows, a LIKE scan of the
                    // account or the trigram index where there is one.
                    const QString pattern = QStringLiteral("%") + typed + QStringLiteral("%");
                    const bool byTrigram = trigram && length >= 3;
                    double count = timeStatement(
                            QStringLiteral("SELECT COUNT(*) FROM tasks WHERE user_id = ? AND "
                                           "name LIKE ?"),
                            { userId, pattern });
                    double rows = timeStatement(
                            QStringLiteral("SELECT id, name, active, expire_at, create_at FROM "
                                           "tasks WHERE user_id = ? AND name LIKE ? ORDER BY "
                                           "create_at DESC LIMIT ?"),
                            { userId, pattern, pageSize });
                    if (byTrigram) {
                        count = std::min(
                                count,
                                timeStatement(QStringLiteral("SELECT COUNT(*) FROM tasks_trigram "
                                                             "WHERE user_id = ? AND name LIKE ?"),
                                              { userId, pattern }));
                        rows = std::min(
                                rows,
                                timeStatement(
                                        QStringLiteral(
                                                "SELECT tasks.id, tasks.name, tasks.active, "
                                                "tasks.expire_at, tasks.create_at FROM "
                                                "tasks_trigram CROSS JOIN tasks ON tasks.id = "
                                                "tasks_trigram.rowid WHERE tasks_trigram.name "
                                                "LIKE ?1 AND tasks.user_id = ?2 AND tasks.name "
                                                "LIKE ?1 ORDER BY tasks.create_at DESC LIMIT ?3"),
                                        { pattern, userId, pageSize }));
                    }
                    sample(length == 1   ? "floor-key-1"
                           : length == 2 ? "floor-key-2"
                                         : "floor-key-3+",
                           count + rows);
                }
                evaluate(QStringLiteral("taskService.filterName = \"\""));
                key(Qt::Key_A, QString(), Qt::ControlModifier);
                key(Qt::Key_Backspace);
                wait(50);
            }

            typeInSoonestOrder(userId, pageSize, trigram);
            evaluate(QStringLiteral("taskService.sortOrder = 0"));
        }
        finish("done");
    }

    // The same search in the "Due soonest" order, which neither the names held nor the trigram
    // index give. The least that shows the answer: the cheaper count, and the first page's rows
    // by a LIKE walk in that order.
    void typeInSoonestOrder(qint64 userId, int pageSize, bool trigram)
    {
        evaluate(QStringLiteral("taskService.sortOrder = 1"));
        if (QQuickItem *search = item("searchName")) {
            search->forceActiveFocus();
            const QString term = QStringLiteral("report");
            for (int length = 1; length <= term.size(); ++length) {
                const QString typed = term.left(length);
                sample("soonest-key", toFrame([&] { type(typed.right(1)); }));
                sample("soonest-key-to-sync", m_toSyncMs);
                const QString pattern = QStringLiteral("%") + typed + QStringLiteral("%");
                double count = timeStatement(
                        QStringLiteral("SELECT COUNT(*) FROM tasks WHERE user_id = ? AND "
                                       "name LIKE ?"),
                        { userId, pattern });
                if (trigram && length >= 3)
                    count = std::min(
                            count,
                            timeStatement(QStringLiteral("SELECT COUNT(*) FROM tasks_trigram "
                                                         "WHERE user_id = ? AND name LIKE ?"),
                                          { userId, pattern }));
                const double rows = timeStatement(
                        QStringLiteral("SELECT id, name, active, expire_at, create_at FROM "
                                       "tasks WHERE user_id = ? AND name LIKE ? ORDER BY "
                                       "ifnull(expire_at_epoch, 9223372036854775807), id "
                                       "LIMIT ?"),
                        { userId, pattern, pageSize });
                sample("floor-soonest-key", count + rows);
            }
            evaluate(QStringLiteral("taskService.filterName = \"\""));
            key(Qt::Key_A, QString(), Qt::ControlModifier);
            key(Qt::Key_Backspace);
            wait(50);
        }
    }

    QQuickWindow *m_window = nullptr;
    bool m_firstFrameSeen = false;
    qint64 m_signInNs = 0;
    std::atomic<qint64> m_lastFrameNs { 0 };
    std::atomic<qint64> m_syncNs { 0 };
    std::atomic<qint64> m_syncCpuNs { 0 };
    double m_toSyncMs = 0;
    double m_toSyncCpuMs = 0;
};

void installProbe()
{
    const QByteArray mode = qgetenv("TARVIK_PROBE");
    if (mode != "window" && mode != "settle")
        return;
    QCoreApplication *app = QCoreApplication::instance();
    QLoggingCategory::setFilterRules(QStringLiteral("tarvik.tasks.debug=true"));
    programHandler = qInstallMessageHandler(watchMessages);
    app->installEventFilter(new Probe(app));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installProbe)
