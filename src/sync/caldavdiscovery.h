#pragma once

#include "caldavclient.h"
#include "davmultistatus.h"

#include <QList>
#include <QObject>
#include <QUrl>

// A collection of the server that can hold tasks.
struct CalDavCollection
{
    QString url;
    QString name;
};
Q_DECLARE_METATYPE(CalDavCollection)

// Finds the task lists of an account: /.well-known/caldav or the address given, the
// current-user-principal, its calendar-home-set, and the calendars there whose
// supported-calendar-component-set allows VTODO (or that do not restrict it). Also creates a new
// list there with MKCALENDAR. Nothing is sent beyond the origin of the address given: a redirect
// to another origin ends the search with OtherOrigin, and elsewhere() tells where the server
// pointed, for the person to confirm.
class CalDavDiscovery : public QObject
{
    Q_OBJECT

public:
    explicit CalDavDiscovery(CalDavTransport *transport, QObject *parent = nullptr);

    void start(const QUrl &server, const QString &user, const QString &password,
               bool insecureAllowed);
    void createCollection(const QString &displayName);
    // Cancels the search or creation in flight: no signal comes for it.
    void abort();
    QUrl elsewhere() const { return m_elsewhere; }

signals:
    void finished(SyncError error, int httpStatus, const QList<CalDavCollection> &collections);
    void collectionCreated(SyncError error, int httpStatus, const QString &url);

private:
    void findPrincipal(QList<QUrl> candidates);
    void findHomeSet(const QUrl &principal);
    void listCollections(const QUrl &home);
    void fail(const DavReply &reply);

    CalDavClient m_client;
    QUrl m_server;
    QUrl m_home;
    QUrl m_elsewhere;
};
