#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QUrl>

#include <functional>

class QNetworkAccessManager;
class QNetworkReply;

// Why a request to the server did not give an answer that can be used.
enum class SyncError {
    None,
    WrongPassword, // 401, or 403 on the first request
    Unreachable, // no connection, name not resolved, timeout
    CertificateRefused, // TLS handshake failed, e.g. an untrusted certificate
    InsecureRefused, // plain HTTP to another machine without the person's consent
    TooManyRedirects,
    ServerError, // any other unexpected HTTP status or an unreadable answer
    NoTaskList, // the server has no collection that holds tasks
};

Q_DECLARE_METATYPE(SyncError)

struct DavReply
{
    SyncError error = SyncError::None;
    int status = 0;
    QByteArray body;
    QByteArray etag;
    QUrl url; // where the answer came from, after redirects
    QString detail; // the network layer's words, for the log
};

// Speaks WebDAV/CalDAV over HTTP(S), asynchronously: every call returns at once and runs its
// callback later on the same thread. Redirects are followed by hand with the same method and
// body (Qt's own policy would turn a PROPFIND into a GET on 301). Credentials go as HTTP Basic
// with every request, and only to the origin the person entered.
class CalDavClient : public QObject
{
    Q_OBJECT

public:
    using Callback = std::function<void(const DavReply &)>;
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    explicit CalDavClient(QNetworkAccessManager *network, QObject *parent = nullptr);

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

    // Cancels every request in flight; their callbacks are not run.
    void abortAll();

private:
    void start(const QByteArray &method, const QUrl &url, const QByteArray &body,
               const Headers &headers, int redirectsLeft, Callback done);
    void finish(QNetworkReply *reply, const QByteArray &method, const QByteArray &body,
                const Headers &headers, int redirectsLeft, const Callback &done);
    bool sameOrigin(const QUrl &url) const;

    QNetworkAccessManager *m_network = nullptr;
    QByteArray m_authorization;
    QUrl m_origin;
    bool m_insecureAllowed = false;
    int m_timeout = 30000;
    QList<QNetworkReply *> m_inFlight;
    int m_generation = 0; // counts abortAll calls
};
