#pragma once

#include "caldavtransport.h"

#include <QMap>
#include <QObject>
#include <QRegularExpression>
#include <QSet>
#include <QTimer>

// A CalDAV server in memory behind the transport seam: one collection whose tasks can be
// listed (sync-collection, PROPFIND), fetched (calendar-multiget), written and deleted with the
// preconditions of a real server. Scripted answers take the place of the server's for the
// requests they match. Every request is recorded as it was sent, wherever it was sent.
class FakeCalDav : public QObject, public CalDavTransport
{
public:
    // An answer for the next `times` requests of `method` whose URL contains `part`.
    // A negative bodySize stands for a body that never ends; a positive one for that many bytes.
    struct Rule
    {
        QByteArray method;
        QString part;
        DavResponse answer;
        int times = 1;
        qint64 bodySize = 0;
    };

    // A limit no memory holds: a body that never ends is read until the program is killed.
    static constexpr qint64 kBeyondMemory = qint64(1) << 40;

    explicit FakeCalDav(const QUrl &collection)
        : m_collection(collection)
    {
    }

    QUrl collection() const { return m_collection; }
    void script(const Rule &rule) { m_rules.append(rule); }

    // A task made on the server by another client.
    void addTask(const QString &uid, const QString &summary)
    {
        store(m_collection.path() + uid + QStringLiteral(".ics"),
              QStringLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Other//EN\r\n"
                             "BEGIN:VTODO\r\nUID:%1\r\nDTSTAMP:20260101T100000Z\r\nSUMMARY:%2\r\n"
                             "END:VTODO\r\nEND:VCALENDAR\r\n")
                      .arg(uid, summary)
                      .toUtf8());
    }

    // Another client renames the task called summary, or deletes it when name is empty.
    void changeTask(const QString &summary, const QString &name)
    {
        const QByteArray line = "\r\nSUMMARY:" + summary.toUtf8() + "\r\n";
        for (auto found = m_resources.cbegin(); found != m_resources.cend(); ++found) {
            if (!found->ical.contains(line))
                continue;
            const QString href = found.key();
            if (name.isEmpty()) {
                m_resources.remove(href);
                m_deleted.insert(href, ++m_version);
            } else {
                store(href, QByteArray(found->ical)
                                    .replace(line, "\r\nSUMMARY:" + name.toUtf8() + "\r\n"));
            }
            return;
        }
    }

    // The SUMMARY of every task stored, sorted.
    QStringList summaries() const
    {
        static const QRegularExpression summary(QStringLiteral("\r\nSUMMARY:([^\r\n]*)"));
        QStringList names;
        for (const Resource &resource : m_resources)
            names << summary.match(QString::fromUtf8(resource.ical)).captured(1);
        names.sort();
        return names;
    }

    // How many of the tasks stored hold text.
    int holding(const QByteArray &text) const
    {
        int count = 0;
        for (const Resource &resource : m_resources)
            count += resource.ical.contains(text) ? 1 : 0;
        return count;
    }
    // The text of the task called summary, unfolded; empty when there is none.
    QByteArray textOf(const QString &summary) const
    {
        const QByteArray line = "\r\nSUMMARY:" + summary.toUtf8() + "\r\n";
        for (const Resource &resource : m_resources) {
            if (resource.ical.contains(line))
                return QByteArray(resource.ical).replace("\r\n ", "");
        }
        return {};
    }

    // How many alarms the tasks stored hold.
    int alarms() const
    {
        int count = 0;
        for (const Resource &resource : m_resources)
            count += resource.ical.count("BEGIN:VALARM");
        return count;
    }

    quint64 send(const DavRequest &request, Done done) override
    {
        requests.append(request);
        const quint64 id = ++m_lastId;
        const DavResponse response = answer(request);
        m_pending.insert(id);
        mostPending = qMax(mostPending, m_pending.size());
        const bool isLate = !late.isEmpty() && request.body.contains(late);
        QTimer::singleShot(isLate ? 50 : 0, this, [this, id, response, done]() {
            if (m_pending.remove(id))
                done(response);
        });
        return id;
    }

    void cancel(quint64 id) override { m_pending.remove(id); }

    QList<DavRequest> requests;
    bool refuseAlarms = false; // as some servers do
    bool etagOnPut = true; // RFC 4791 lets a server leave the ETag out of its answer to a PUT
    QByteArray late; // a request whose body holds it is answered after those sent after it
    qsizetype mostPending = 0; // the most requests awaiting their answer at once

private:
    struct Resource
    {
        QByteArray etag;
        QByteArray ical;
        int version = 0;
    };

    static QByteArray escaped(const QByteArray &text)
    {
        return QString::fromUtf8(text).toHtmlEscaped().toUtf8();
    }

    static QByteArray header(const DavRequest &request, const QByteArray &name)
    {
        for (const auto &pair : request.headers) {
            if (pair.first.compare(name, Qt::CaseInsensitive) == 0)
                return pair.second;
        }
        return {};
    }

    void store(const QString &href, const QByteArray &ical)
    {
        ++m_version;
        m_resources.insert(href, { "\"v" + QByteArray::number(m_version) + '"', ical, m_version });
        m_deleted.remove(href);
    }

    DavResponse status(int code, const QByteArray &body = {}) const
    {
        DavResponse response;
        response.status = code;
        response.body = body;
        return response;
    }

    DavResponse answer(const DavRequest &request)
    {
        for (auto rule = m_rules.begin(); rule != m_rules.end(); ++rule) {
            if (rule->method != request.method || !request.url.toString().contains(rule->part))
                continue;
            DavResponse response = rule->answer;
            if (rule->bodySize < 0 && request.maxBody > kBeyondMemory) {
                response = {};
                response.error = SyncError::Unreachable; // the program would have been killed
            } else if (rule->bodySize < 0 || rule->bodySize > request.maxBody) {
                response = {};
                response.error = SyncError::TooLarge; // read up to the limit, then stopped
            } else if (rule->bodySize > 0) {
                response.body = QByteArray(rule->bodySize, 'x');
            }
            if (--rule->times <= 0)
                m_rules.erase(rule);
            return response;
        }
        if (!request.url.toString().startsWith(m_collection.toString()))
            return status(404);
        const QString href = request.url.path();
        if (request.method == "PUT" && refuseAlarms && request.body.contains("BEGIN:VALARM"))
            return status(403, "<d:error xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:"
                               "caldav\"><c:valid-calendar-data/></d:error>");
        if (request.method == "PUT" || request.method == "DELETE") {
            const auto found = m_resources.constFind(href);
            const QByteArray ifMatch = header(request, "If-Match");
            if ((found != m_resources.constEnd() && header(request, "If-None-Match") == "*")
                || (!ifMatch.isEmpty()
                    && (found == m_resources.constEnd() || found->etag != ifMatch)))
                return status(412);
            if (request.method == "DELETE") {
                if (found == m_resources.constEnd())
                    return status(404);
                m_resources.remove(href);
                m_deleted.insert(href, ++m_version);
                return status(204);
            }
            const bool created = found == m_resources.constEnd();
            store(href, request.body);
            DavResponse response = status(created ? 201 : 204);
            if (etagOnPut)
                response.etag = m_resources.value(href).etag;
            return response;
        }
        return listing(request);
    }

    // sync-collection, calendar-multiget and PROPFIND of the collection.
    DavResponse listing(const DavRequest &request) const
    {
        static const QRegularExpression tokenTag(QStringLiteral("<d:sync-token>([^<]*)<"));
        static const QRegularExpression hrefTag(QStringLiteral("<d:href>([^<]*)<"));
        const QString body = QString::fromUtf8(request.body);
        int since = 0;
        QStringList hrefs = m_resources.keys();
        QByteArray out = "<?xml version=\"1.0\"?><d:multistatus xmlns:d=\"DAV:\" "
                         "xmlns:c=\"urn:ietf:params:xml:ns:caldav\">";
        const bool multiget = body.contains(QLatin1String("calendar-multiget"));
        if (multiget) {
            hrefs.clear();
            for (auto match = hrefTag.globalMatch(body); match.hasNext();)
                hrefs << match.next().captured(1);
        } else if (body.contains(QLatin1String("sync-collection"))) {
            const QString token = tokenTag.match(body).captured(1);
            if (!token.isEmpty() && !token.startsWith(QLatin1String("fake-")))
                return status(403, "<d:error xmlns:d=\"DAV:\"><d:valid-sync-token/></d:error>");
            since = token.mid(5).toInt();
            for (auto gone = m_deleted.cbegin(); gone != m_deleted.cend(); ++gone) {
                if (gone.value() > since)
                    out += "<d:response><d:href>" + escaped(gone.key().toUtf8())
                           + "</d:href><d:status>HTTP/1.1 404 Not Found</d:status></d:response>";
            }
            out += "<d:sync-token>fake-" + QByteArray::number(m_version) + "</d:sync-token>";
        } else if (request.method != "PROPFIND") {
            return status(405);
        }
        for (const QString &href : std::as_const(hrefs)) {
            const auto found = m_resources.constFind(href);
            if (found == m_resources.constEnd() || found->version <= since) {
                if (multiget)
                    out += "<d:response><d:href>" + escaped(href.toUtf8())
                           + "</d:href><d:status>HTTP/1.1 404 Not Found</d:status></d:response>";
                continue;
            }
            out += "<d:response><d:href>" + escaped(href.toUtf8())
                   + "</d:href><d:propstat><d:prop><d:getetag>" + escaped(found->etag)
                   + "</d:getetag>"
                   + (multiget ? "<c:calendar-data>" + escaped(found->ical) + "</c:calendar-data>"
                               : QByteArray())
                   + "</d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat></d:response>";
        }
        return status(207, out + "</d:multistatus>");
    }

    QUrl m_collection;
    QList<Rule> m_rules;
    QMap<QString, Resource> m_resources;
    QMap<QString, int> m_deleted;
    int m_version = 0;
    quint64 m_lastId = 0;
    QSet<quint64> m_pending;
};
