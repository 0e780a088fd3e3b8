#include "keptsignin.h"

#include "authservice.h"
#include "privatefiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

namespace {

Q_LOGGING_CATEGORY(lcKept, "tarvik.signin", QtInfoMsg)

const auto kService = QStringLiteral("Tarvik sign-in");
const auto kFileName = QStringLiteral("kept-sign-in");
// Nothing but the token's text is read from the file.
constexpr qint64 kLongestFile = 256;

QByteArray encoded(const QByteArray &token)
{
    return token.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

QByteArray decoded(const QByteArray &text)
{
    const auto result = QByteArray::fromBase64Encoding(
            text.trimmed(),
            QByteArray::Base64UrlEncoding | QByteArray::AbortOnBase64DecodingErrors);
    return result ? result.decoded : QByteArray();
}

} // namespace

KeptSignIn::KeptSignIn(AuthService *auth, const QString &dataDirectory, QObject *parent)
    : QObject(parent)
    , m_auth(auth)
    , m_secrets(kService, this)
    , m_directory(QDir(dataDirectory).absolutePath())
    // One token per data directory: the one database it belongs to.
    , m_key(m_directory)
{
    connect(&m_secrets, &PasswordStore::passwordRead, this, &KeptSignIn::onRead);
    connect(&m_secrets, &PasswordStore::passwordWritten, this, &KeptSignIn::onWritten);
}

QString KeptSignIn::filePath() const
{
    return m_directory + QLatin1Char('/') + kFileName;
}

void KeptSignIn::resume()
{
    m_resuming = true;
    m_secrets.read(m_key);
}

void KeptSignIn::onRead(const QString &key, const QString &text, bool found)
{
    if (key != m_key || !m_resuming)
        return;
    m_resuming = false;
    if (found) {
        useToken(decoded(text.toLatin1()), Place::SecretService);
        return;
    }
    const QByteArray fromFile = readFile();
    if (!fromFile.isEmpty() || QFileInfo::exists(filePath()))
        useToken(fromFile, Place::File);
}

void KeptSignIn::useToken(const QByteArray &token, Place from)
{
    // Whoever signed in at the window while the secret service answered stays signed in.
    if (m_auth->isLoggedIn())
        return;
    if (m_auth->loginWithKeptToken(token)) {
        setPlace(from);
        emit resumed();
        return;
    }
    qCInfo(lcKept) << "the kept sign-in is no longer valid; it is dropped";
    if (from == Place::SecretService)
        m_secrets.remove(m_key);
    QFile::remove(filePath());
    emit resumeRefused();
}

void KeptSignIn::keep()
{
    const QByteArray token = m_auth->makeKeptToken();
    if (token.isEmpty()) {
        qCWarning(lcKept) << "the sign-in could not be kept";
        forget();
        return;
    }
    m_writing = token;
    m_secrets.write(m_key, QString::fromLatin1(encoded(token)));
}

void KeptSignIn::onWritten(const QString &key, bool stored)
{
    if (key != m_key || m_writing.isEmpty())
        return;
    const QByteArray token = m_writing;
    m_writing.clear();
    if (stored) {
        QFile::remove(filePath());
        setPlace(Place::SecretService);
    } else if (writeFile(token)) {
        setPlace(Place::File);
    } else {
        // Kept nowhere: the hash must not outlive it.
        m_auth->forgetKeptTokens();
        setPlace(Place::None);
    }
}

void KeptSignIn::forget()
{
    m_auth->forgetKeptTokens();
    if (m_place == Place::SecretService || !m_writing.isEmpty())
        m_secrets.remove(m_key);
    m_writing.clear();
    m_resuming = false;
    QFile::remove(filePath());
    setPlace(Place::None);
}

bool KeptSignIn::writeFile(const QByteArray &token) const
{
    // A new file, created owner-only, never one another process prepared.
    QFile::remove(filePath());
    QFile file(filePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                   QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        qCWarning(lcKept) << "cannot keep the sign-in in" << filePath() << file.errorString();
        return false;
    }
    const QByteArray text = encoded(token) + '\n';
    if (file.write(text) != text.size() || !file.flush()) {
        file.remove();
        return false;
    }
    return true;
}

QByteArray KeptSignIn::readFile() const
{
    const QFileInfo info(filePath());
    if (!info.isFile() || info.isSymLink())
        return {};
    PrivateFiles::tighten(filePath());
    QFile file(filePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return decoded(file.read(kLongestFile));
}

void KeptSignIn::setPlace(Place place)
{
    if (place == m_place)
        return;
    m_place = place;
    emit keptChanged();
}
