#include "appservices.h"

#include <QFileInfo>
#include <QQmlContext>
#include <QQmlEngine>

AppServices::AppServices(DbManager *db, const QString &dbPath, QObject *parent)
    : QObject(parent)
    , m_dbPath(dbPath)
    , m_auth(db)
    , m_keptSignIn(&m_auth, QFileInfo(dbPath).absolutePath())
    , m_store(db)
    , m_dueTasks(db, &m_auth)
    , m_tasks(db, &m_auth, &m_taskModel, &m_store)
    , m_notifier(&m_dueTasks, &m_settings)
    , m_sync(db, &m_auth, &m_store)
    , m_transfer(db, &m_auth, &m_store)
    , m_desktop(&m_dueTasks, &m_auth, &m_notifier)
    , m_accountRemoval(db, &m_auth, &m_sync)
{
    connectServices();
}

void AppServices::connectServices()
{
    // Whatever was announced and whatever the list was narrowed to belongs to the account that
    // signs out.
    connect(&m_auth, &AuthService::loggedOut, &m_notifier, &NotificationService::clearNotified);
    connect(&m_auth, &AuthService::loggedOut, &m_tasks, &TaskService::clearFilters);
    connect(&m_auth, &AuthService::loggedOut, &m_tasks, &TaskService::forgetNames);
    // Signing out ends a kept sign-in too: the next start asks for the password.
    connect(&m_auth, &AuthService::loggedOut, &m_keptSignIn, &KeptSignIn::forget);
    connect(&m_auth, &AuthService::passwordChanged, &m_keptSignIn, &KeptSignIn::forget);
    // A reminder due soon is announced at sign-in, and as soon as a task due soon is saved.
    connect(&m_auth, &AuthService::loggedInChanged, &m_notifier, [this] {
        if (m_auth.isLoggedIn())
            m_notifier.checkDueTasks();
    });
    // A reminder's task done, deleted or moved elsewhere withdraws the reminder; Mark done on a
    // reminder is the window's own command.
    m_notifier.setTaskService(&m_tasks);
    connect(&m_store, &TaskStore::tasksChanged, &m_notifier, &NotificationService::onTasksChanged);
    connect(&m_tasks, &TaskService::dueTimesChanged, &m_notifier,
            &NotificationService::checkDueTasks);
    // Tasks the sync or an import brought are listed as the task store announces them (the task
    // service listens to it), and announced when due soon.
    connect(&m_sync, &SyncService::tasksChanged, &m_notifier, &NotificationService::checkDueTasks);
    connect(&m_transfer, &TaskTransfer::tasksImported, &m_notifier,
            &NotificationService::checkDueTasks);
    // What an import saved may be undone from the undo bar, as a command of the window's.
    connect(&m_transfer, &TaskTransfer::importSaved, &m_tasks.undoJournal(),
            &UndoJournal::recordImport);
    // Tasks exported or synced carry the reminder, so that other clients remind too.
    const auto lead = [this] {
        m_sync.setReminderLead(m_settings.notifyMinutes());
        m_transfer.setReminderLead(m_settings.notifyMinutes());
    };
    lead();
    connect(&m_settings, &SettingsService::notifyMinutesChanged, this, lead);
    // A deletion goes to the server once it can no longer be undone.
    connect(&m_store, &TaskStore::deletionsReleased, &m_sync, &SyncService::syncNow);
}

void AppServices::publish(QQmlEngine *engine)
{
    QQmlContext *context = engine->rootContext();
    context->setContextProperty(QStringLiteral("auth"), &m_auth);
    context->setContextProperty(QStringLiteral("keptSignIn"), &m_keptSignIn);
    context->setContextProperty(QStringLiteral("taskModel"), &m_taskModel);
    context->setContextProperty(QStringLiteral("taskService"), &m_tasks);
    context->setContextProperty(QStringLiteral("dbPath"), QVariant(m_dbPath));
    context->setContextProperty(QStringLiteral("settings"), &m_settings);
    context->setContextProperty(QStringLiteral("notifier"), &m_notifier);
    context->setContextProperty(QStringLiteral("syncService"), &m_sync);
    context->setContextProperty(QStringLiteral("taskTransfer"), &m_transfer);
    context->setContextProperty(QStringLiteral("desktop"), &m_desktop);
    context->setContextProperty(QStringLiteral("taskUndo"), &m_tasks.undoJournal());
    context->setContextProperty(QStringLiteral("accountRemoval"), &m_accountRemoval);
}

void AppServices::start()
{
    m_notifier.start();
}
