#pragma once

#include "accountremoval.h"
#include "authservice.h"
#include "desktopintegration.h"
#include "duetasks.h"
#include "keptsignin.h"
#include "notificationservice.h"
#include "settingsservice.h"
#include "syncservice.h"
#include "taskservice.h"
#include "taskstore.h"
#include "tasktablemodel.h"
#include "tasktransfer.h"

#include <QObject>
#include <QString>

class DbManager;
class QQmlEngine;

// The program's services on one open database, connected to each other as the program needs
// them, and published to QML under the names the documents use. The program and every test of
// the services as a whole build them here, so that a connection cannot be missing in one place
// only. A QML engine they are published to must be destroyed before them.
class AppServices : public QObject
{
    Q_OBJECT

public:
    explicit AppServices(DbManager *db, const QString &dbPath, QObject *parent = nullptr);

    // Sets the context properties auth, keptSignIn, taskModel, taskService, dbPath, settings,
    // notifier, syncService, taskTransfer, desktop, taskUndo and accountRemoval.
    void publish(QQmlEngine *engine);
    // Starts the reminder timer.
    void start();

    TaskTableModel &taskModel() { return m_taskModel; }
    AuthService &auth() { return m_auth; }
    KeptSignIn &keptSignIn() { return m_keptSignIn; }
    TaskStore &store() { return m_store; }
    DueTasks &dueTasks() { return m_dueTasks; }
    TaskService &tasks() { return m_tasks; }
    SettingsService &settings() { return m_settings; }
    NotificationService &notifier() { return m_notifier; }
    SyncService &sync() { return m_sync; }
    TaskTransfer &transfer() { return m_transfer; }
    DesktopIntegration &desktop() { return m_desktop; }
    AccountRemoval &accountRemoval() { return m_accountRemoval; }

private:
    void connectServices();

    QString m_dbPath;
    TaskTableModel m_taskModel;
    AuthService m_auth;
    KeptSignIn m_keptSignIn;
    // Every write of a task goes through it: the window's, the sync's and the import's.
    TaskStore m_store;
    // What the reminders and the notice of missed tasks read.
    DueTasks m_dueTasks;
    TaskService m_tasks;
    SettingsService m_settings;
    NotificationService m_notifier;
    SyncService m_sync;
    TaskTransfer m_transfer;
    DesktopIntegration m_desktop;
    AccountRemoval m_accountRemoval;
};
