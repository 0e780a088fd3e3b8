#include "davmultistatus.h"

#include <QXmlStreamReader>

namespace {

const auto kDav = QStringLiteral("DAV:");
const auto kCalDav = QStringLiteral("urn:ietf:params:xml:ns:caldav");

int statusCode(const QString &statusLine)
{
    // "HTTP/1.1 404 Not Found"
    const QStringList parts = statusLine.simplified().split(QLatin1Char(' '));
    return parts.size() >= 2 ? parts.at(1).toInt() : 0;
}

// Reads the first <href> inside the current element and skips to its end.
QString readInnerHref(QXmlStreamReader &xml, const QUrl &base)
{
    QString href;
    int level = 1;
    while (level > 0 && !xml.atEnd()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (href.isEmpty() && xml.name() == QLatin1String("href")
                && xml.namespaceUri() == kDav) {
                href = hrefPath(base.resolved(QUrl(xml.readElementText().trimmed())));
                continue;
            }
            ++level;
        } else if (token == QXmlStreamReader::EndElement) {
            --level;
        }
    }
    return href;
}

void readProp(QXmlStreamReader &xml, const QUrl &base, DavResource &resource)
{
    while (xml.readNextStartElement()) {
        const auto name = xml.name();
        const auto ns = xml.namespaceUri();
        if (ns == kDav && name == QLatin1String("getetag")) {
            resource.etag = xml.readElementText().trimmed().toUtf8();
        } else if (ns == kDav && name == QLatin1String("displayname")) {
            resource.displayName = xml.readElementText().trimmed();
        } else if (ns == kDav && name == QLatin1String("resourcetype")) {
            while (xml.readNextStartElement()) {
                if (xml.name() == QLatin1String("collection") && xml.namespaceUri() == kDav)
                    resource.isCollection = true;
                if (xml.name() == QLatin1String("calendar") && xml.namespaceUri() == kCalDav)
                    resource.isCalendar = true;
                xml.skipCurrentElement();
            }
        } else if (ns == kCalDav && name == QLatin1String("supported-calendar-component-set")) {
            resource.hasComponentSet = true;
            while (xml.readNextStartElement()) {
                if (xml.name() == QLatin1String("comp"))
                    resource.components.append(
                            xml.attributes().value(QLatin1String("name")).toString().toUpper());
                xml.skipCurrentElement();
            }
        } else if (ns == kCalDav && name == QLatin1String("calendar-data")) {
            resource.calendarData = xml.readElementText();
        } else if (ns == kDav && name == QLatin1String("current-user-principal")) {
            resource.principalHref = readInnerHref(xml, base);
        } else if (ns == kCalDav && name == QLatin1String("calendar-home-set")) {
            resource.homeSetHref = readInnerHref(xml, base);
        } else {
            xml.skipCurrentElement();
        }
    }
}

void readPropstat(QXmlStreamReader &xml, const QUrl &base, DavResource &resource)
{
    DavResource found;
    int status = 200;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("prop"))
            readProp(xml, base, found);
        else if (xml.name() == QLatin1String("status"))
            status = statusCode(xml.readElementText());
        else
            xml.skipCurrentElement();
    }
    if (status < 200 || status >= 300)
        return;
    if (!found.etag.isEmpty())
        resource.etag = found.etag;
    if (!found.displayName.isEmpty())
        resource.displayName = found.displayName;
    resource.isCollection |= found.isCollection;
    resource.isCalendar |= found.isCalendar;
    if (found.hasComponentSet) {
        resource.hasComponentSet = true;
        resource.components = found.components;
    }
    if (!found.calendarData.isEmpty())
        resource.calendarData = found.calendarData;
    if (!found.principalHref.isEmpty())
        resource.principalHref = found.principalHref;
    if (!found.homeSetHref.isEmpty())
        resource.homeSetHref = found.homeSetHref;
}

DavResource readResponse(QXmlStreamReader &xml, const QUrl &base)
{
    DavResource resource;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("href"))
            resource.href = hrefPath(base.resolved(QUrl(xml.readElementText().trimmed())));
        else if (xml.name() == QLatin1String("status"))
            resource.status = statusCode(xml.readElementText());
        else if (xml.name() == QLatin1String("propstat"))
            readPropstat(xml, base, resource);
        else
            xml.skipCurrentElement();
    }
    return resource;
}

} // namespace

QString hrefPath(const QUrl &url)
{
    // Decoding and encoding again makes "%7E" and "~" the same path.
    QUrl path;
    path.setPath(url.path(QUrl::FullyDecoded), QUrl::DecodedMode);
    return path.path(QUrl::FullyEncoded);
}

DavMultistatus parseMultistatus(const QByteArray &body, const QUrl &base)
{
    DavMultistatus result;
    QXmlStreamReader xml(body);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("multistatus")
        || xml.namespaceUri() != kDav)
        return result;
    while (xml.readNextStartElement()) {
        if (xml.namespaceUri() == kDav && xml.name() == QLatin1String("response"))
            result.resources.append(readResponse(xml, base));
        else if (xml.namespaceUri() == kDav && xml.name() == QLatin1String("sync-token"))
            result.syncToken = xml.readElementText().trimmed();
        else
            xml.skipCurrentElement();
    }
    result.valid = !xml.hasError();
    return result;
}

bool davErrorNames(const QByteArray &body, const QString &condition)
{
    QXmlStreamReader xml(body);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == condition)
            return true;
    }
    return false;
}
