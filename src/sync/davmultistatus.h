#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

// One <response> of a WebDAV multistatus answer, with the properties this program asks for.
struct DavResource
{
    QString href; // the path, resolved against the request and percent-encoded
    int status = 200; // the response's own status, 404 for a member removed since a sync token
    QByteArray etag;
    QString displayName;
    bool isCollection = false;
    bool isCalendar = false;
    bool hasComponentSet = false;
    QStringList components;
    QString calendarData;
    QString principalHref;
    QString homeSetHref;
};

struct DavMultistatus
{
    bool valid = false;
    QList<DavResource> resources;
    QString syncToken;
};

// Reads a multistatus body; hrefs are resolved against base. Properties of a propstat whose
// status is not 2xx are ignored.
DavMultistatus parseMultistatus(const QByteArray &body, const QUrl &base);

// The path of url as hrefs are compared here: percent-encoded, without scheme and host.
QString hrefPath(const QUrl &url);

// True when the body is a DAV error naming the given precondition (e.g. "valid-sync-token").
bool davErrorNames(const QByteArray &body, const QString &condition);
