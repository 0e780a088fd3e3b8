#include "passwordhash.h"

#include <QRandomGenerator>

#include <atomic>

#include <openssl/evp.h>

namespace PasswordHash {

namespace {

std::atomic<quint64> derived { 0 };

} // namespace

// OpenSSL derives the same bytes as QPasswordDigestor::deriveKeyPbkdf2, several times faster,
// which matters because sign-in waits for it on the GUI thread.
QByteArray pbkdf2Sha256(const QByteArray &data, const QByteArray &salt, int iterations,
                        int keyLength)
{
    if (iterations < 1 || keyLength < 1)
        return {};
    QByteArray key(keyLength, Qt::Uninitialized);
    const int ok = PKCS5_PBKDF2_HMAC(data.constData(), int(data.size()),
                                     reinterpret_cast<const unsigned char *>(salt.constData()),
                                     int(salt.size()), iterations, EVP_sha256(), keyLength,
                                     reinterpret_cast<unsigned char *>(key.data()));
    return ok == 1 ? key : QByteArray();
}

QByteArray derive(const QString &password, const QByteArray &salt)
{
    ++derived;
    return pbkdf2Sha256(password.toUtf8(), salt, kIterations, kKeyLength);
}

QByteArray makeSalt()
{
    QByteArray salt(kSaltLength, Qt::Uninitialized);
    for (int i = 0; i < kSaltLength; ++i)
        salt[i] = char(QRandomGenerator::global()->generate() & 0xff);
    return salt;
}

quint64 derivations()
{
    return derived;
}

} // namespace PasswordHash
