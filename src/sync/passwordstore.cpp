#include "passwordstore.h"
#include "synclog.h"

#include <qt6keychain/keychain.h>

namespace {

const auto kService = QStringLiteral("Tarvik CalDAV");

} // namespace

PasswordStore::PasswordStore(QObject *parent)
    : PasswordStore(kService, parent)
{
}

PasswordStore::PasswordStore(const QString &service, QObject *parent)
    : QObject(parent)
    , m_service(service)
{
}

void PasswordStore::noteFailure(int error, const QString &text)
{
    if (error == QKeychain::NoBackendAvailable || error == QKeychain::NotImplemented
        || error == QKeychain::OtherError) {
        qCWarning(lcSync) << "no secret service:" << text;
        m_available = false;
    }
}

void PasswordStore::read(const QString &key)
{
    if (!m_available) {
        emit passwordRead(key, QString(), false);
        return;
    }
    auto *job = new QKeychain::ReadPasswordJob(m_service, this);
    job->setKey(key);
    job->setInsecureFallback(false);
    connect(job, &QKeychain::Job::finished, this, [this, job, key]() {
        if (job->error() != QKeychain::NoError && job->error() != QKeychain::EntryNotFound)
            noteFailure(job->error(), job->errorString());
        const bool found = job->error() == QKeychain::NoError;
        emit passwordRead(key, found ? job->textData() : QString(), found);
    });
    job->start();
}

void PasswordStore::write(const QString &key, const QString &password)
{
    if (!m_available) {
        emit passwordWritten(key, false);
        return;
    }
    auto *job = new QKeychain::WritePasswordJob(m_service, this);
    job->setKey(key);
    job->setInsecureFallback(false);
    job->setTextData(password);
    connect(job, &QKeychain::Job::finished, this, [this, job, key]() {
        if (job->error() != QKeychain::NoError)
            noteFailure(job->error(), job->errorString());
        emit passwordWritten(key, job->error() == QKeychain::NoError);
    });
    job->start();
}

void PasswordStore::remove(const QString &key)
{
    if (!m_available)
        return;
    auto *job = new QKeychain::DeletePasswordJob(m_service, this);
    job->setKey(key);
    job->start();
}
