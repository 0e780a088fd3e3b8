// Loaded into a Qt Quick program with LD_PRELOAD by bench_startup; the program itself is not
// changed. It writes one line to standard output and ends the process:
// - TARVIK_PROBE=firstframe: "frame <ns> app <ns> window <ns>" when the first window has
//   swapped its first frame, with the times (CLOCK_MONOTONIC, which the parent also reads just
//   before starting the process) of that frame, of the construction of the application object
//   and of the first event of the window;
// - TARVIK_PROBE=rss: after the first frame it types TARVIK_PROBE_USER, Tab,
//   TARVIK_PROBE_PASSWORD and Return into the window, as a person signing in would, waits for
//   the task page to settle and writes "rss <kB> hwm <kB> rows <n> total <n>" from
//   /proc/self/status and the services, or "error <text>".
#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QTimer>

#include <ctime>
#include <unistd.h>

namespace {

qint64 monotonicNs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

[[noreturn]] void finish(const QByteArray &line)
{
    const QByteArray text = line + '\n';
    [[maybe_unused]] const ssize_t written = ::write(STDOUT_FILENO, text.constData(), text.size());
    ::_exit(0);
}

qint64 statusKb(const QByteArray &status, const QByteArray &key)
{
    for (const QByteArray &line : status.split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

class Probe : public QObject
{
public:
    explicit Probe(QObject *parent)
        : QObject(parent)
        , m_mode(qgetenv("TARVIK_PROBE"))
        , m_appNs(monotonicNs())
    {
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!m_window) {
            if (auto *window = qobject_cast<QQuickWindow *>(watched)) {
                m_window = window;
                m_windowNs = monotonicNs();
                connect(window, &QQuickWindow::frameSwapped, this, &Probe::frameSwapped,
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
        if (m_firstFrameSeen)
            return;
        m_firstFrameSeen = true;
        if (m_mode != "rss")
            finish("frame " + QByteArray::number(monotonicNs()) + " app "
                   + QByteArray::number(m_appNs) + " window " + QByteArray::number(m_windowNs));
        QMetaObject::invokeMethod(this, &Probe::signIn, Qt::QueuedConnection);
    }

    void key(int key, const QString &text = QString())
    {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
        QCoreApplication::sendEvent(m_window, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
        QCoreApplication::sendEvent(m_window, &release);
    }

    void type(const QString &text)
    {
        for (const QChar c : text)
            key(c.toUpper().unicode(), QString(c));
    }

    void signIn()
    {
        m_window->requestActivate();
        QCoreApplication::processEvents();
        type(qEnvironmentVariable("TARVIK_PROBE_USER"));
        key(Qt::Key_Tab);
        type(qEnvironmentVariable("TARVIK_PROBE_PASSWORD"));
        key(Qt::Key_Return, QStringLiteral("\r"));
        // The page transition and the table's first frames are done well within this time.
        QTimer::singleShot(1500, this, &Probe::measure);
    }

    QObject *contextObject(const char *name) const
    {
        QQmlEngine *engine = qmlEngine(m_window);
        return engine ? engine->rootContext()
                                ->contextProperty(QLatin1String(name))
                                .value<QObject *>()
                      : nullptr;
    }

    void measure()
    {
        QObject *auth = contextObject("auth");
        QObject *tasks = contextObject("taskService");
        QObject *model = contextObject("taskModel");
        if (!auth || !tasks || !model)
            finish("error the program publishes no auth, taskService or taskModel");
        if (!auth->property("loggedIn").toBool())
            finish("error typing into the login page did not sign in");
        int rows = -1;
        QMetaObject::invokeMethod(model, "rowCountQml", Q_RETURN_ARG(int, rows));
        QFile status(QStringLiteral("/proc/self/status"));
        status.open(QIODevice::ReadOnly);
        const QByteArray text = status.readAll();
        finish("rss " + QByteArray::number(statusKb(text, "VmRSS:")) + " hwm "
               + QByteArray::number(statusKb(text, "VmHWM:")) + " rows " + QByteArray::number(rows)
               + " total " + QByteArray::number(tasks->property("totalCount").toInt()));
    }

    QByteArray m_mode;
    qint64 m_appNs = 0;
    qint64 m_windowNs = 0;
    QQuickWindow *m_window = nullptr;
    bool m_firstFrameSeen = false;
};

void installProbe()
{
    if (qEnvironmentVariableIsEmpty("TARVIK_PROBE"))
        return;
    QCoreApplication *app = QCoreApplication::instance();
    app->installEventFilter(new Probe(app));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installProbe)
