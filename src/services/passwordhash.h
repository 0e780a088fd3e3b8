#pragma once

#include <QByteArray>
#include <QString>

namespace PasswordHash {

constexpr int kIterations = 100000;
constexpr int kKeyLength = 32;
constexpr int kSaltLength = 32;

// PBKDF2 with HMAC-SHA-256 over raw bytes; an empty result means the derivation failed.
QByteArray pbkdf2Sha256(const QByteArray &data, const QByteArray &salt, int iterations,
                        int keyLength);

// The stored password key: PBKDF2-HMAC-SHA-256 of the UTF-8 password, 100000 rounds, 32 bytes.
QByteArray derive(const QString &password, const QByteArray &salt);

// 32 random bytes from the process-wide, securely seeded generator.
QByteArray makeSalt();

// How many keys derive() has derived in this process.
quint64 derivations();

} // namespace PasswordHash
