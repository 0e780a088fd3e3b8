#pragma once

#include "caldavtransport.h"

#include <QHash>
#include <QObject>

class QNetworkAccessManager;
class QNetworkReply;

// The transport over the network: HTTP(S) through Qt's network access manager, with Qt's own
// redirects, cache and authentication prompts turned off so that the client above decides.
class NetworkTransport : public QObject, public CalDavTransport
{
    Q_OBJECT

public:
    explicit NetworkTransport(QNetworkAccessManager *network, QObject *parent = nullptr);
    ~NetworkTransport() override;

    quint64 send(const DavRequest &request, Done done) override;
    void cancel(quint64 id) override;

private:
    QNetworkAccessManager *m_network = nullptr;
    QHash<quint64, QNetworkReply *> m_inFlight;
    quint64 m_lastId = 0;
};
