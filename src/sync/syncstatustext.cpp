#include "syncstatustext.h"

#include <QUrl>

namespace SyncStatusText {

QString error(SyncError error, int httpStatus, const QString &otherServer)
{
    switch (error) {
    case SyncError::None:
        return {};
    case SyncError::WrongPassword:
        return QStringLiteral("Wrong user name or password");
    case SyncError::Unreachable:
        return QStringLiteral("Server unreachable");
    case SyncError::CertificateRefused:
        return QStringLiteral("Certificate refused");
    case SyncError::InsecureRefused:
        return QStringLiteral("Plain HTTP to another machine: confirm to send the password "
                              "unencrypted");
    case SyncError::TooManyRedirects:
        return QStringLiteral("The server redirects in a loop");
    case SyncError::InsecureRedirect:
        return QStringLiteral("The server redirects from HTTPS to plain HTTP: refused");
    case SyncError::NoTaskList:
        return QStringLiteral("No task list found on this server");
    case SyncError::OtherOrigin:
        return otherServer.isEmpty()
                       ? QStringLiteral("The task list is on another host than the server "
                                        "address: test the connection again")
                       : QStringLiteral("The server points to another host, %1: confirm to "
                                        "sign in there")
                                 .arg(QUrl(otherServer).host());
    case SyncError::TooLarge:
        return QStringLiteral("The server's answer is too large; the sync stopped");
    case SyncError::LocalWriteFailed:
        return QStringLiteral("The tasks could not be saved on this computer; nothing of this "
                              "sync was kept, and it will be tried again");
    case SyncError::ManyDeletions:
        return QStringLiteral("Tasks were deleted on the server: choose whether to keep them");
    case SyncError::ServerError:
        break;
    }
    return httpStatus > 0
                   ? QStringLiteral("The server answered with an error (HTTP %1)").arg(httpStatus)
                   : QStringLiteral("The server's answer could not be read");
}

QString heldDeletions(int count)
{
    return QStringLiteral("%1 tasks were deleted on the server or are missing from it. Keep them "
                          "here and upload them again, or delete them here too?")
            .arg(count);
}

QString pending(const QStringList &names)
{
    const int shown = 3;
    QString list = QStringList(names.mid(0, shown)).join(QStringLiteral(", "));
    if (names.size() > shown)
        list += QStringLiteral(" and %1 more").arg(names.size() - shown);
    return QStringLiteral("Not on the server yet: %1").arg(list);
}

QString synced(qint64 secondsAgo)
{
    const qint64 minutes = secondsAgo / 60;
    if (minutes < 1)
        return QStringLiteral("Synced just now");
    if (minutes < 60)
        return minutes == 1 ? QStringLiteral("Synced 1 minute ago")
                            : QStringLiteral("Synced %1 minutes ago").arg(minutes);
    const qint64 hours = minutes / 60;
    if (hours < 24)
        return hours == 1 ? QStringLiteral("Synced 1 hour ago")
                          : QStringLiteral("Synced %1 hours ago").arg(hours);
    const qint64 days = hours / 24;
    return days == 1 ? QStringLiteral("Synced 1 day ago")
                     : QStringLiteral("Synced %1 days ago").arg(days);
}

} // namespace SyncStatusText
