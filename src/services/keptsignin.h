#pragma once

#include "passwordstore.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class AuthService;

// "Keep me signed in on this computer": a token that signs the account in at the next start
// without its password, so that a start at login reminds without anyone opening the window.
// The token is kept in the desktop's secret service or, without one, in a file only the owner
// may read in the data directory; the database holds its hash only (AuthService). Signing out,
// or signing in without the choice, forgets it everywhere. Published to QML as `keptSignIn`.
class KeptSignIn : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool kept READ kept NOTIFY keptChanged)
    // Where the token is while kept: true in the secret service, false in the private file.
    Q_PROPERTY(bool inSecretService READ inSecretService NOTIFY keptChanged)

public:
    KeptSignIn(AuthService *auth, const QString &dataDirectory, QObject *parent = nullptr);

    bool kept() const { return m_place != Place::None; }
    bool inSecretService() const { return m_place == Place::SecretService; }
    // The private file's path, when there is no secret service.
    QString filePath() const;

    // At start: signs in with the kept token, if there is one, unless someone signed in
    // meanwhile. resumed() or resumeRefused() tells, later.
    void resume();

    // After a sign-in at the sign-in page: keeps a new token for the signed-in account.
    Q_INVOKABLE void keep();
    // Forgets the token everywhere (sign-out, or a sign-in without the choice).
    Q_INVOKABLE void forget();

signals:
    void keptChanged();
    // Signed in without the password.
    void resumed();
    // A token was kept but signs nobody in any more (signed out elsewhere, account inactive):
    // it is dropped, and the sign-in page asks for the password.
    void resumeRefused();

private:
    enum class Place { None, SecretService, File };

    void onRead(const QString &key, const QString &text, bool found);
    void onWritten(const QString &key, bool stored);
    void useToken(const QByteArray &token, Place from);
    bool writeFile(const QByteArray &token) const;
    QByteArray readFile() const;
    void setPlace(Place place);

    AuthService *m_auth = nullptr;
    PasswordStore m_secrets;
    QString m_directory;
    QString m_key;
    // The token being written to the secret service, until it answers.
    QByteArray m_writing;
    Place m_place = Place::None;
    bool m_resuming = false;
};
