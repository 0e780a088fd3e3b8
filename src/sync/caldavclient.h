#pragma once

#include "caldavtransport.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

struct DavReply
{
    SyncError error = SyncError::None;
    int status = 0;
    QByteArray body;
    QByteArray etag;
    QUrl url; // where the answer came from, after redirects; the refused target otherwise
    QString detail; // the network layer's words, for the log
};

// Speaks WebDAV/CalDAV through a transport, asynchronously: every call returns at once and runs
// its callback later on the same thread. Everything goes only to the origin the person typed
// (scheme, host and port), with the credentials as HTTP Basic: a request for another origin,
// and a redirect to one, is answered with OtherOrigin and never sent. Redirects within the
// origin are followed with the same method and body. An answer longer than a listing or a
// resource may be ends the request with TooLarge.
class CalDavClient : public QObject
{
    Q_OBJECT

public:
    using Callback = std::function<void(const DavReply &)>;
    using Headers = DavHeaders;

    // The longest answers read: a listing of a collection, and anything else.
    static constexpr qint64 kMaxListing = qint64(64) << 20;
    static constexpr qint64 kMaxResource = qint64(1) << 20;

    explicit CalDavClient(CalDavTransport *transport, QObject *parent = nullptr);
    ~CalDavClient() override;

    void setCredentials(const QString &user, const QString &password);
    void setOrigin(const QUrl &server);
    void setInsecureAllowed(bool allowed);
    void setTimeout(int milliseconds);

    void send(const QByteArray &method, const QUrl &url, const QByteArray &body,
              const Headers &headers, Callback done);

    void propfind(const QUrl &url, int depth, const QByteArray &props, Callback done);
    void report(const QUrl &url, int depth, const QByteArray &body, Callback done);
    void put(const QUrl &url, const QByteArray &ical, const QByteArray &ifMatch, Callback done);
    void remove(const QUrl &url, const QByteArray &ifMatch, Callback done);
    void mkcalendar(const QUrl &url, const QString &displayName, Callback done);

    // Plain HTTP is used without asking only for this machine.
    static bool isLoopback(const QUrl &url);
    static bool isSuccess(int status) { return status >= 200 && status < 300; }
    static bool sameOrigin(const QUrl &a, const QUrl &b);
    // scheme://host:port/ of the address.
    static QUrl originOf(const QUrl &url);

    // Cancels every request in flight; their callbacks are not run.
    void abortAll();

private:
    void start(const QByteArray &method, const QUrl &url, const QByteArray &body,
               const Headers &headers, int redirectsLeft, Callback done);
    void finish(const DavResponse &response, const QUrl &url, const QByteArray &method,
                const QByteArray &body, const Headers &headers, int redirectsLeft,
                const Callback &done);
    void refuse(SyncError error, const QUrl &url, Callback done);

    CalDavTransport *m_transport = nullptr;
    QByteArray m_authorization;
    QUrl m_origin;
    bool m_insecureAllowed = false;
    int m_timeout = 30000;
    QList<quint64> m_inFlight;
    int m_generation = 0; // counts abortAll calls
};
