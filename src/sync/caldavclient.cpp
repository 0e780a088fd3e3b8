#include "caldavclient.h"
#include "synclog.h"

#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace {

constexpr int kMaxRedirects = 5;

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

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

} // namespace

CalDavClient::CalDavClient(QNetworkAccessManager *network, QObject *parent)
    : QObject(parent)
    , m_network(network)
{
}

void CalDavClient::setCredentials(const QString &user, const QString &password)
{
    m_authorization = "Basic " + (user + QLatin1Char(':') + password).toUtf8().toBase64();
}

void CalDavClient::setOrigin(const QUrl &server)
{
    m_origin = server;
}

void CalDavClient::setInsecureAllowed(bool allowed)
{
    m_insecureAllowed = allowed;
}

void CalDavClient::setTimeout(int milliseconds)
{
    m_timeout = milliseconds;
}

bool CalDavClient::isLoopback(const QUrl &url)
{
    const QString host = url.host();
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

bool CalDavClient::sameOrigin(const QUrl &url) const
{
    return url.scheme() == m_origin.scheme()
           && url.host().compare(m_origin.host(), Qt::CaseInsensitive) == 0
           && url.port(url.scheme() == QLatin1String("https") ? 443 : 80)
                      == m_origin.port(m_origin.scheme() == QLatin1String("https") ? 443 : 80);
}

void CalDavClient::send(const QByteArray &method, const QUrl &url, const QByteArray &body,
                        const Headers &headers, Callback done)
{
    start(method, url, body, headers, kMaxRedirects, std::move(done));
}

void CalDavClient::start(const QByteArray &method, const QUrl &url, const QByteArray &body,
                         const Headers &headers, int redirectsLeft, Callback done)
{
    const QString scheme = url.scheme();
    const bool supported = scheme == QLatin1String("https") || scheme == QLatin1String("http");
    if (!supported || (scheme == QLatin1String("http") && !isLoopback(url) && !m_insecureAllowed)) {
        DavReply reply;
        reply.error = supported ? SyncError::InsecureRefused : SyncError::Unreachable;
        reply.url = url;
        // The answer comes later, as for every request, unless the requests are cancelled.
        QTimer::singleShot(0, this,
                           [this, reply, generation = m_generation, done = std::move(done)]() {
                               if (generation == m_generation)
                                   done(reply);
                           });
        return;
    }

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setTransferTimeout(m_timeout);
    if (sameOrigin(url))
        request.setRawHeader("Authorization", m_authorization);
    for (const auto &header : headers)
        request.setRawHeader(header.first, header.second);
    if (!body.isEmpty() && !request.hasRawHeader("Content-Type"))
        request.setRawHeader("Content-Type", "application/xml; charset=utf-8");

    QNetworkReply *reply = m_network->sendCustomRequest(request, method, body);
    m_inFlight.append(reply);
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, method, body, headers, redirectsLeft, done = std::move(done)]() {
                m_inFlight.removeOne(reply);
                reply->deleteLater();
                finish(reply, method, body, headers, redirectsLeft, done);
            });
}

void CalDavClient::finish(QNetworkReply *reply, const QByteArray &method, const QByteArray &body,
                          const Headers &headers, int redirectsLeft, const Callback &done)
{
    DavReply result;
    result.url = reply->url();
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.body = reply->readAll();
    result.etag = reply->rawHeader("ETag");

    if (result.status == 0) {
        result.error = classify(reply->error());
        result.detail = reply->errorString();
        qCWarning(lcSync) << method << result.url.toDisplayString() << "failed:" << result.detail;
        done(result);
        return;
    }
    if (isRedirect(result.status)) {
        const QUrl target = result.url.resolved(
                QUrl::fromEncoded(reply->rawHeader("Location"), QUrl::TolerantMode));
        if (redirectsLeft <= 0 || !target.isValid()) {
            result.error = SyncError::TooManyRedirects;
            done(result);
            return;
        }
        if (result.url.scheme() == QLatin1String("https")
            && target.scheme() == QLatin1String("http")) {
            result.error = SyncError::InsecureRefused;
            done(result);
            return;
        }
        // A 303 asks for a GET; every other redirect repeats the request as it was.
        const bool toGet = result.status == 303;
        start(toGet ? QByteArray("GET") : method, target, toGet ? QByteArray() : body, headers,
              redirectsLeft - 1, done);
        return;
    }
    if (result.status == 401) {
        result.error = SyncError::WrongPassword;
    } else if (result.status >= 500) {
        result.error = SyncError::ServerError;
    }
    if (result.error != SyncError::None)
        qCWarning(lcSync) << method << result.url.toDisplayString() << "answered" << result.status;
    done(result);
}

void CalDavClient::propfind(const QUrl &url, int depth, const QByteArray &props, Callback done)
{
    const QByteArray body = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                            "<d:propfind xmlns:d=\"DAV:\" "
                            "xmlns:c=\"urn:ietf:params:xml:ns:caldav\"><d:prop>"
                            + props + "</d:prop></d:propfind>";
    send("PROPFIND", url, body, { { "Depth", QByteArray::number(depth) } }, std::move(done));
}

void CalDavClient::report(const QUrl &url, int depth, const QByteArray &body, Callback done)
{
    send("REPORT", url, body, { { "Depth", QByteArray::number(depth) } }, std::move(done));
}

void CalDavClient::put(const QUrl &url, const QByteArray &ical, const QByteArray &ifMatch,
                       Callback done)
{
    Headers headers { { "Content-Type", "text/calendar; charset=utf-8" } };
    if (ifMatch.isEmpty())
        headers.append(qMakePair(QByteArray("If-None-Match"), QByteArray("*")));
    else
        headers.append(qMakePair(QByteArray("If-Match"), ifMatch));
    send("PUT", url, ical, headers, std::move(done));
}

void CalDavClient::remove(const QUrl &url, const QByteArray &ifMatch, Callback done)
{
    Headers headers;
    if (!ifMatch.isEmpty())
        headers.append(qMakePair(QByteArray("If-Match"), ifMatch));
    send("DELETE", url, QByteArray(), headers, std::move(done));
}

void CalDavClient::mkcalendar(const QUrl &url, const QString &displayName, Callback done)
{
    const QByteArray body =
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
            "<c:mkcalendar xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:caldav\">"
            "<d:set><d:prop><d:displayname>"
            + displayName.toHtmlEscaped().toUtf8()
            + "</d:displayname><c:supported-calendar-component-set><c:comp name=\"VTODO\"/>"
              "</c:supported-calendar-component-set></d:prop></d:set></c:mkcalendar>";
    send("MKCALENDAR", url, body, {}, std::move(done));
}

void CalDavClient::abortAll()
{
    ++m_generation;
    const auto replies = m_inFlight;
    m_inFlight.clear();
    for (QNetworkReply *reply : replies) {
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}
