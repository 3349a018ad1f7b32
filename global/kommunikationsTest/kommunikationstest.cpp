#include "global/kommunikationsTest/kommunikationstest.h"

#include "bauwerte.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/textausliteral.h"

#include <QEventLoop>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTimer>

KommunikationsTest::KommunikationsTest(QObject* parent)
    : QObject(parent)
{
}

KommunikationsTest::~KommunikationsTest()
{
    if (reply) {
        reply->disconnect(this);
        reply->abort();
        delete reply;
    }
}

QUrl KommunikationsTest::standardZiel(bool entwicklerTestmodus)
{
    if (entwicklerTestmodus)
        return QUrl(Bauwerte::testadresseEntwickler());
    return QUrl(QStringLiteral("https://%1/online.test").arg(Bauwerte::updateHost()));
}

int KommunikationsTest::status(const QString& host, int port, const QString& user, const QString& password,
                               bool entwicklerTestmodus)
{
    testMode = entwicklerTestmodus;
    connect(&network, &QNetworkAccessManager::finished, this, &KommunikationsTest::serverAntwort, Qt::UniqueConnection);
    if (host.isEmpty() || port <= 0)
        return 0;

    QNetworkProxy proxy;
    proxy.setCapabilities(proxy.capabilities() ^ QNetworkProxy::HostNameLookupCapability);
    proxy.setType(QNetworkProxy::HttpProxy);
    proxy.setHostName(host);
    proxy.setPort(quint16(port));
    if (!user.isEmpty()) {
        proxy.setUser(user);
        if (!password.isEmpty())
            proxy.setPassword(password);
    }
    network.setProxy(proxy);

    const QUrl ziel = m_ziel.isValid() ? m_ziel : standardZiel(entwicklerTestmodus);
    if (reply) {
        reply->disconnect(this);
        reply->deleteLater();
    }
    reply = network.head(QNetworkRequest(ziel));
    connect(reply, &QNetworkReply::sslErrors, this, &KommunikationsTest::sslErrors);

    // One loop per call: the object can answer a second call too, and a proxy
    // that never answers cannot hold the caller forever.
    QEventLoop schleife;
    m_schleife = &schleife;
    QTimer zeitgrenze;
    zeitgrenze.setSingleShot(true);
    connect(&zeitgrenze, &QTimer::timeout, reply, &QNetworkReply::abort);
    zeitgrenze.start(m_zeitgrenze);
    const int fehler = schleife.exec(QEventLoop::ExcludeUserInputEvents);
    m_schleife = nullptr;

    int ergebnis = 0;
    if (fehler == QNetworkReply::ProxyAuthenticationRequiredError)
        ergebnis = 1;
    else if (fehler == QNetworkReply::UnknownNetworkError)
        ergebnis = -1;
    if (ergebnis != 0) {
        IV_LOG_ERROR(textAusLiteral("Der Zugriff auf den Proxy ist nicht m&ouml;glich. Status = %1 Entwickler-Testmodus = %2.")
                         .arg(ergebnis)
                         .arg(testMode ? QStringLiteral("true") : QStringLiteral("false")));
    }
    return ergebnis;
}

void KommunikationsTest::serverAntwort(QNetworkReply* antwort)
{
    if (antwort == reply && m_schleife)
        m_schleife->exit(int(antwort->error()));
}

void KommunikationsTest::sslErrors(const QList<QSslError>& errors)
{
    if (!testMode)
        return;
    for (const QSslError& e : errors) {
        if (e.error() == QSslError::SelfSignedCertificate) {
            if (auto* antwort = qobject_cast<QNetworkReply*>(sender()))
                antwort->ignoreSslErrors();
            return;
        }
    }
}
