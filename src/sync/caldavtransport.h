#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QPair>
#include <QString>
#include <QUrl>

#include <functional>

// Why a request to the server did not give an answer that can be used.
enum class SyncError {
    None,
    WrongPassword, // 401, or 403 on the first request
    Unreachable, // no connection, name not resolved, timeout, an answer cut short
    CertificateRefused, // TLS handshake failed, e.g. an untrusted certificate
    InsecureRefused, // plain HTTP to another machine without the person's consent
    TooManyRedirects,
    InsecureRedirect, // a redirect from HTTPS to plain HTTP
    ServerError, // any other unexpected HTTP status or an unreadable answer
    NoTaskList, // the server has no collection that holds tasks
    OtherOrigin, // sent to a host, scheme or port other than the one the person typed
    TooLarge, // an answer longer than the program reads
    LocalWriteFailed, // the tasks here could not be written; nothing of the pass was kept
    ManyDeletions, // the pass would delete many tasks here and waits for the person's answer
};

Q_DECLARE_METATYPE(SyncError)

using DavHeaders = QList<QPair<QByteArray, QByteArray>>;

// One HTTP request exactly as it goes out: the transport adds no header and follows no redirect.
struct DavRequest
{
    QByteArray method;
    QUrl url;
    DavHeaders headers;
    QByteArray body;
    qint64 maxBody = 0; // the longest answer body that is read
    int timeout = 30000; // milliseconds without progress before the request fails
};

// The answer to one request. status is 0 when none came; error then says why.
struct DavResponse
{
    SyncError error = SyncError::None; // Unreachable, CertificateRefused, TooLarge, ServerError
    int status = 0;
    QByteArray body;
    QByteArray etag;
    QByteArray location;
    QString detail; // the network layer's words, for the log
};

// Carries requests to a CalDAV server and back. The real one speaks HTTP(S); tests script the
// answers. An answer always comes later, never before send returns, and never after cancel.
// A body longer than the request's maxBody is not kept: the exchange stops as soon as the
// limit is passed and answers with TooLarge.
class CalDavTransport
{
public:
    using Done = std::function<void(const DavResponse &)>;

    virtual ~CalDavTransport() = default;

    // Returns an id for cancel.
    virtual quint64 send(const DavRequest &request, Done done) = 0;
    virtual void cancel(quint64 id) = 0;
};
