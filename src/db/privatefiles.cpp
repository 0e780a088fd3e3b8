#include "privatefiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcPrivateFiles, "tarvik.files", QtCriticalMsg)

namespace PrivateFiles {

namespace {

constexpr auto kOthers = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
                         | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;

} // namespace

void tighten(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() || info.isSymLink())
        return;
    const QFileDevice::Permissions permissions = info.permissions();
    if ((permissions & kOthers) && !QFile::setPermissions(path, permissions & ~kOthers))
        qCWarning(lcPrivateFiles) << "cannot make private:" << path;
}

bool makeDirectory(const QString &path)
{
    const bool made = QDir().mkpath(path);
    tighten(path);
    return made;
}

bool makeFile(const QString &path)
{
    if (QFileInfo::exists(path)) {
        tighten(path);
        return true;
    }
    QFile file(path);
    const bool made = file.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                                QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (!made)
        qCWarning(lcPrivateFiles) << "cannot create:" << path << file.errorString();
    return made;
}

} // namespace PrivateFiles
