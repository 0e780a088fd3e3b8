#include "caldavdiscovery.h"

#include <QUuid>

namespace {

const QByteArray kPrincipalProps = "<d:current-user-principal/><c:calendar-home-set/>"
                                   "<d:resourcetype/>";
const QByteArray kCollectionProps = "<d:resourcetype/><d:displayname/>"
                                    "<c:supported-calendar-component-set/>";

bool holdsTasks(const DavResource &resource)
{
    return resource.isCalendar
           && (!resource.hasComponentSet || resource.components.contains(QLatin1String("VTODO")));
}

QUrl withSlash(QUrl url)
{
    if (!url.path().endsWith(QLatin1Char('/')))
        url.setPath(url.path() + QLatin1Char('/'));
    return url;
}

} // namespace

CalDavDiscovery::CalDavDiscovery(CalDavTransport *transport, QObject *parent)
    : QObject(parent)
    , m_client(transport)
{
}

void CalDavDiscovery::start(const QUrl &server, const QString &user, const QString &password,
                            bool insecureAllowed)
{
    m_client.abortAll();
    m_server = server;
    m_home.clear();
    m_elsewhere.clear();
    m_client.setOrigin(server);
    m_client.setCredentials(user, password);
    m_client.setInsecureAllowed(insecureAllowed);
    QList<QUrl> candidates;
    const QUrl wellKnown = server.resolved(QUrl(QStringLiteral("/.well-known/caldav")));
    if (server.path().isEmpty() || server.path() == QLatin1String("/"))
        candidates << wellKnown << withSlash(server);
    else
        candidates << server << wellKnown;
    findPrincipal(candidates);
}

void CalDavDiscovery::abort()
{
    m_client.abortAll();
}

void CalDavDiscovery::findPrincipal(QList<QUrl> candidates)
{
    const QUrl url = candidates.takeFirst();
    m_client.propfind(url, 0, kPrincipalProps, [this, url, candidates](const DavReply &reply) {
        if (reply.error == SyncError::OtherOrigin && !candidates.isEmpty()) {
            m_elsewhere = reply.url;
            return findPrincipal(candidates);
        }
        if (reply.error != SyncError::None && reply.error != SyncError::ServerError)
            return fail(reply);
        const DavMultistatus answer = parseMultistatus(reply.body, reply.url);
        const DavResource found = answer.resources.value(0);
        if (reply.status == 207 && answer.valid && holdsTasks(found)) {
            // The address is itself a task list.
            m_home = reply.url.resolved(QUrl(QStringLiteral("..")));
            emit finished(SyncError::None, reply.status,
                          { { reply.url.toString(), found.displayName } });
            return;
        }
        if (reply.status == 207 && !found.homeSetHref.isEmpty())
            return listCollections(reply.url.resolved(QUrl(found.homeSetHref)));
        if (reply.status == 207 && !found.principalHref.isEmpty())
            return findHomeSet(reply.url.resolved(QUrl(found.principalHref)));
        if (reply.status == 403 && !candidates.isEmpty())
            return findPrincipal(candidates);
        if (reply.status == 403) {
            DavReply refused = reply;
            refused.error = SyncError::WrongPassword;
            return fail(refused);
        }
        if (!candidates.isEmpty())
            return findPrincipal(candidates);
        fail(reply);
    });
}

void CalDavDiscovery::findHomeSet(const QUrl &principal)
{
    m_client.propfind(principal, 0, kPrincipalProps, [this](const DavReply &reply) {
        const DavMultistatus answer = parseMultistatus(reply.body, reply.url);
        const DavResource found = answer.resources.value(0);
        if (reply.status != 207 || found.homeSetHref.isEmpty())
            return fail(reply);
        listCollections(reply.url.resolved(QUrl(found.homeSetHref)));
    });
}

void CalDavDiscovery::listCollections(const QUrl &home)
{
    m_home = withSlash(home);
    m_client.propfind(m_home, 1, kCollectionProps, [this](const DavReply &reply) {
        const DavMultistatus answer = parseMultistatus(reply.body, reply.url);
        if (reply.status != 207 || !answer.valid)
            return fail(reply);
        QList<CalDavCollection> collections;
        for (const DavResource &resource : answer.resources) {
            if (holdsTasks(resource))
                collections.append({ reply.url.resolved(QUrl(resource.href)).toString(),
                                     resource.displayName });
        }
        emit finished(SyncError::None, reply.status, collections);
    });
}

void CalDavDiscovery::createCollection(const QString &displayName)
{
    if (m_home.isEmpty()) {
        emit collectionCreated(SyncError::NoTaskList, 0, QString());
        return;
    }
    const QUrl url = m_home.resolved(
            QUrl(QUuid::createUuid().toString(QUuid::WithoutBraces) + QLatin1Char('/')));
    m_client.mkcalendar(url, displayName, [this, url](const DavReply &reply) {
        if (CalDavClient::isSuccess(reply.status))
            emit collectionCreated(SyncError::None, reply.status, url.toString());
        else
            emit collectionCreated(reply.error == SyncError::None ? SyncError::ServerError
                                                                  : reply.error,
                                   reply.status, QString());
    });
}

void CalDavDiscovery::fail(const DavReply &reply)
{
    SyncError error = reply.error != SyncError::None ? reply.error
                      : reply.status == 207          ? SyncError::NoTaskList
                                                     : SyncError::ServerError;
    if (error == SyncError::OtherOrigin)
        m_elsewhere = reply.url;
    // Nothing found here, but the server pointed elsewhere: that is worth offering.
    else if (m_elsewhere.isValid()
             && (error == SyncError::ServerError || error == SyncError::NoTaskList))
        error = SyncError::OtherOrigin;
    emit finished(error, reply.status, {});
}
