#include "caldavclient.h"
#include "synclog.h"

#include <QHostAddress>
#include <QTimer>

namespace {

constexpr int kMaxRedirects = 5;

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

int defaultPort(const QUrl &url)
{
    return url.port(url.scheme() == QLatin1String("https") ? 443 : 80);
}

// A REPORT, or a PROPFIND of a collection's members, lists many resources in one answer.
qint64 answerLimit(const QByteArray &method, const DavHeaders &headers)
{
    if (method == "REPORT")
        return CalDavClient::kMaxListing;
    if (method == "PROPFIND") {
        for (const auto &header : headers) {
            if (header.first == "Depth" && header.second != "0")
                return CalDavClient::kMaxListing;
        }
    }
    return CalDavClient::kMaxResource;
}

} // namespace

CalDavClient::CalDavClient(CalDavTransport *transport, QObject *parent)
    : QObject(parent)
    , m_transport(transport)
{
}

CalDavClient::~CalDavClient()
{
    abortAll();
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

bool CalDavClient::sameOrigin(const QUrl &a, const QUrl &b)
{
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0
           && a.host().compare(b.host(), Qt::CaseInsensitive) == 0
           && defaultPort(a) == defaultPort(b);
}

QUrl CalDavClient::originOf(const QUrl &url)
{
    QUrl origin;
    origin.setScheme(url.scheme());
    origin.setHost(url.host());
    const int standard = url.scheme() == QLatin1String("https") ? 443 : 80;
    if (url.port() != -1 && url.port() != standard)
        origin.setPort(url.port());
    origin.setPath(QStringLiteral("/"));
    return origin;
}

void CalDavClient::send(const QByteArray &method, const QUrl &url, const QByteArray &body,
                        const Headers &headers, Callback done)
{
    start(method, url, body, headers, kMaxRedirects, std::move(done));
}

void CalDavClient::refuse(SyncError error, const QUrl &url, Callback done)
{
    DavReply reply;
    reply.error = error;
    reply.url = url;
    // The answer comes later, as for every request, unless the requests are cancelled.
    QTimer::singleShot(0, this, [this, reply, generation = m_generation, done = std::move(done)]() {
        if (generation == m_generation)
            done(reply);
    });
}

void CalDavClient::start(const QByteArray &method, const QUrl &url, const QByteArray &body,
                         const Headers &headers, int redirectsLeft, Callback done)
{
    const QString scheme = url.scheme();
    const bool supported = scheme == QLatin1String("https") || scheme == QLatin1String("http");
    if (!supported || (scheme == QLatin1String("http") && !isLoopback(url) && !m_insecureAllowed))
        return refuse(supported ? SyncError::InsecureRefused : SyncError::Unreachable, url,
                      std::move(done));
    if (!sameOrigin(url, m_origin)) {
        qCWarning(lcSync) << method << "to another origin refused:" << url.toDisplayString();
        return refuse(SyncError::OtherOrigin, url, std::move(done));
    }

    DavRequest request;
    request.method = method;
    request.url = url;
    if (!m_authorization.isEmpty())
        request.headers.append(qMakePair(QByteArray("Authorization"), m_authorization));
    request.headers.append(headers);
    bool typed = false;
    for (const auto &header : headers)
        typed = typed || header.first == "Content-Type";
    if (!body.isEmpty() && !typed)
        request.headers.append(qMakePair(QByteArray("Content-Type"),
                                         QByteArray("application/xml; charset=utf-8")));
    request.body = body;
    request.maxBody = answerLimit(method, headers);
    request.timeout = m_timeout;

    auto id = std::make_shared<quint64>(0);
    *id = m_transport->send(request, [=, done = std::move(done)](const DavResponse &response) {
        m_inFlight.removeOne(*id);
        finish(response, url, method, body, headers, redirectsLeft, done);
    });
    m_inFlight.append(*id);
}

void CalDavClient::finish(const DavResponse &response, const QUrl &url, const QByteArray &method,
                          const QByteArray &body, const Headers &headers, int redirectsLeft,
                          const Callback &done)
{
    DavReply result;
    result.url = url;
    result.status = response.status;
    result.body = response.body;
    result.etag = response.etag;
    result.error = response.error;
    result.detail = response.detail;

    if (result.status == 0) {
        if (result.error == SyncError::None)
            result.error = SyncError::ServerError;
        qCWarning(lcSync) << method << url.toDisplayString() << "failed:" << result.detail;
        done(result);
        return;
    }
    if (isRedirect(result.status)) {
        const QUrl target = url.resolved(QUrl::fromEncoded(response.location, QUrl::TolerantMode));
        result.body.clear();
        if (redirectsLeft <= 0 || !target.isValid() || response.location.isEmpty()) {
            result.error = SyncError::TooManyRedirects;
            done(result);
            return;
        }
        if (url.scheme() == QLatin1String("https") && target.scheme() != QLatin1String("https")) {
            result.error = SyncError::InsecureRedirect;
            result.url = target;
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
        qCWarning(lcSync) << method << url.toDisplayString() << "answered" << result.status;
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
    const auto ids = std::exchange(m_inFlight, {});
    for (const quint64 id : ids)
        m_transport->cancel(id);
}
