#include "networktransport.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <memory>

namespace {

SyncError classify(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::SslHandshakeFailedError:
        return SyncError::CertificateRefused;
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
        return SyncError::Unreachable;
    default:
        return SyncError::ServerError;
    }
}

// Errors of the connection itself, as opposed to an HTTP status that Qt also names as an error:
// after one of these, whatever part of the body came is not the whole answer.
bool isConnectionError(QNetworkReply::NetworkError error)
{
    return error != QNetworkReply::NoError && error < QNetworkReply::ProxyConnectionRefusedError;
}

// What arrived of one answer so far.
struct Received
{
    QByteArray body;
    bool tooLarge = false;
};

} // namespace

NetworkTransport::NetworkTransport(QNetworkAccessManager *network, QObject *parent)
    : QObject(parent)
    , m_network(network)
{
}

NetworkTransport::~NetworkTransport()
{
    for (QNetworkReply *reply : std::as_const(m_inFlight)) {
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

quint64 NetworkTransport::send(const DavRequest &request, Done done)
{
    const quint64 id = ++m_lastId;
    QNetworkRequest out(request.url);
    out.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                     QNetworkRequest::ManualRedirectPolicy);
    out.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    out.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    out.setAttribute(QNetworkRequest::AuthenticationReuseAttribute, QNetworkRequest::Manual);
    out.setTransferTimeout(request.timeout);
    for (const auto &header : request.headers)
        out.setRawHeader(header.first, header.second);

    QNetworkReply *reply = m_network->sendCustomRequest(out, request.method, request.body);
    m_inFlight.insert(id, reply);
    auto received = std::make_shared<Received>();
    const qint64 limit = request.maxBody;
    // The body is read as it comes, and the exchange stops the moment it passes the limit, so
    // that an answer that never ends costs no more memory than the limit.
    const auto overLimit = [reply, received, limit](qint64 more) {
        if (received->body.size() + more <= limit)
            return false;
        received->tooLarge = true;
        reply->abort();
        return true;
    };
    connect(reply, &QNetworkReply::metaDataChanged, this, [reply, overLimit]() {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid())
            overLimit(length.toLongLong());
    });
    connect(reply, &QNetworkReply::readyRead, this, [reply, received, overLimit]() {
        if (!overLimit(reply->bytesAvailable()))
            received->body += reply->readAll();
    });
    connect(reply, &QNetworkReply::finished, this, [this, id, reply, received, limit, done]() {
        m_inFlight.remove(id);
        reply->deleteLater();
        DavResponse response;
        if (!received->tooLarge)
            received->body += reply->readAll();
        if (received->tooLarge || received->body.size() > limit) {
            response.error = SyncError::TooLarge;
            response.detail = QStringLiteral("answer longer than %1 bytes").arg(limit);
            done(response);
            return;
        }
        response.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (response.status == 0 || isConnectionError(reply->error())) {
            response.status = 0;
            response.error = classify(reply->error());
            response.detail = reply->errorString();
            done(response);
            return;
        }
        response.body = received->body;
        response.etag = reply->rawHeader("ETag");
        response.location = reply->rawHeader("Location");
        done(response);
    });
    return id;
}

void NetworkTransport::cancel(quint64 id)
{
    QNetworkReply *reply = m_inFlight.take(id);
    if (!reply)
        return;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
}
