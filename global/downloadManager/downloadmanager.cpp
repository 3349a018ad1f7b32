#include "global/downloadManager/downloadmanager.h"

#include "bauwerte.h"
#include "global/downloadManager/tlseinstellungen.h"
#include "global/varnelApplication/einstellungen.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/rueckfrage.h"
#include "global/varnelApplication/textausliteral.h"

#include <QAuthenticator>
#include <QDir>
#include <QFileInfo>
#include <QNetworkReply>
#include <QSaveFile>
#include <limits>

namespace {

constexpr qint64 lesePuffer = 1024 * 1024;

int alsInt(qint64 wert)
{
    return int(qBound<qint64>(0, wert, std::numeric_limits<int>::max()));
}

} // namespace

downloadManager::downloadManager(QObject* parent)
    : QObject(parent)
{
    IV_LOG_EINTRITT();
    network.setParent(this);
    m_stillstand.setSingleShot(true);
    m_stillstand.setInterval(60000);
    connect(&m_stillstand, &QTimer::timeout, this, &downloadManager::stillstand);
    setSslConfiguration();
    IV_LOG_AUSTRITT();
}

downloadManager::~downloadManager()
{
    if (m_ziel)
        m_ziel->cancelWriting();
    if (reply) {
        reply->disconnect(this);
        reply->abort();
    }
}

void downloadManager::setSslConfiguration()
{
    TlsEinstellungen::installiereStandard();
}

void downloadManager::setUrl(const QString& text)
{
    IV_LOG_EINTRITT();
    url = QUrl(text, QUrl::TolerantMode);
    IV_LOG_INFO(QStringLiteral("URL: %1").arg(url.toString()));
    IV_LOG_AUSTRITT();
}

void downloadManager::setTargetPath(const QString& verzeichnis)
{
    targetPath = verzeichnis;
    IV_LOG_DEBUG(QStringLiteral("path: %1").arg(verzeichnis));
}

void downloadManager::setTestmodus(bool bTestModus)
{
    testMode = bTestModus;
    IV_LOG_DEBUG(QStringLiteral("bTestModus: %1").arg(bTestModus));
}

void downloadManager::setProxyValue(const QString& host, int port, const QString& user, const QString& password)
{
    IV_LOG_EINTRITT();
    proxy = QNetworkProxy(QNetworkProxy::HttpProxy, host, quint16(port));
    if (!user.isEmpty()) {
        proxy.setUser(user);
        if (!password.isEmpty())
            proxy.setPassword(password);
    }
    if (Einstellungen::getAdminProxyXorHostNameLookupCapability()) {
        const auto faehigkeiten = proxy.capabilities() ^ QNetworkProxy::HostNameLookupCapability;
        proxy.setCapabilities(faehigkeiten);
        IV_LOG_INFO(textAusLiteral("Die Proxy-Eigenschaft \"HostNameLookupCapability\" wurde per XOR ver&auml;ndert. Neuer Wert = %1")
                        .arg(int(faehigkeiten & QNetworkProxy::HostNameLookupCapability)));
    }
    // Asked at most once per configuration: a proxy that asks again fails the request.
    connect(&network, &QNetworkAccessManager::proxyAuthenticationRequired, this,
            &downloadManager::proxyAuthenticationDialog, Qt::UniqueConnection);
    network.setProxy(proxy);
    IV_LOG_DEBUG(QStringLiteral("Proxy gesetzt ...."));
    IV_LOG_DEBUG(QStringLiteral("Proxy-Name: %1").arg(host));
    IV_LOG_DEBUG(QStringLiteral("Proxy-Port: %1").arg(port));
    IV_LOG_AUSTRITT();
}

QString downloadManager::createUserAgentText()
{
    const QStringList teile = LogBase::betriebssystemZeile().split(QLatin1Char(':'));
    const QString system = teile.value(1).trimmed();
    const QString text = QStringLiteral("Fiscalon/%1 (Installationsverwaltung; %2; rv:%3)")
                             .arg(Bauwerte::version(), system, Bauwerte::revision());
    IV_LOG_INFO(QStringLiteral("UserAgent: ") + text);
    return text;
}

QNetworkRequest downloadManager::baueAnfrage() const
{
    QNetworkRequest anfrage(url);
    anfrage.setRawHeader("cache-control", "no-store");
    anfrage.setRawHeader("Host", QUrl::toAce(url.host()));
    anfrage.setRawHeader("User-Agent", createUserAgentText().toUtf8());
    // Redirects are not followed: the server's layout is fixed.
    anfrage.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    return anfrage;
}

QString downloadManager::localFilePath()
{
    QString name = QFileInfo(url.path()).fileName();
    if (url.path().endsWith(QLatin1Char('/')) || name.isEmpty())
        name = QStringLiteral("download");
    if (targetPath.isEmpty())
        targetPath = Einstellungen::gibDirSystem();
    QString pfad = targetPath;
    if (!pfad.endsWith(QDir::separator()) && !pfad.endsWith(QLatin1Char('/')))
        pfad += QDir::separator();
    return pfad + name;
}

void downloadManager::downloadStart()
{
    IV_LOG_EINTRITT();
    errorText.clear();
    // A size left from the previous file would make the progress lie.
    contentLength = 0;
    m_stillstandAbbruch = false;
    m_schreibFehler = false;
    m_laeuft = true;
    IV_LOG_INFO(QStringLiteral("Download wird gestartet ....."));
    doReadHead();
    IV_LOG_AUSTRITT();
}

void downloadManager::doReadHead()
{
    IV_LOG_INFO(QStringLiteral("Hole Infos (Head-Request) vom Webserver ein."));
    IV_LOG_INFO(QStringLiteral("URL: ") + url.toString());
    connect(&network, &QNetworkAccessManager::finished, this, &downloadManager::loadHeadFinished, Qt::UniqueConnection);
    if (reply)
        reply->deleteLater();
    reply = network.head(baueAnfrage());
    connect(reply, &QNetworkReply::sslErrors, this, &downloadManager::sslErrors);
    m_stillstand.start();
}

void downloadManager::loadHeadFinished(QNetworkReply* antwort)
{
    IV_LOG_EINTRITT();
    if (antwort != reply)
        return;
    m_stillstand.stop();
    TlsEinstellungen::protokolliereVerbindung(antwort);
    httpStatus = antwort->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    disconnect(&network, &QNetworkAccessManager::finished, this, &downloadManager::loadHeadFinished);
    if (antwort->error() != QNetworkReply::NoError || httpStatus >= 300) {
        errorText = m_stillstandAbbruch ? errorText : antwort->errorString();
        IV_LOG_ERROR(QStringLiteral("Download abgebrochen, Code: %1 Grund: %2").arg(httpStatus).arg(errorText));
        beende(true);
        return;
    }
    const QVariant laenge = antwort->header(QNetworkRequest::ContentLengthHeader);
    if (laenge.isValid()) {
        contentLength = laenge.toLongLong();
        IV_LOG_DEBUG(textAusLiteral("Dateigr&ouml;&szlig;e: %1").arg(contentLength));
    } else {
        IV_LOG_DEBUG(QStringLiteral("ContentLength wurde vom Webserver nicht geliefert!"));
    }
    QMetaObject::invokeMethod(this, "runDownloadFile", Qt::QueuedConnection);
    IV_LOG_AUSTRITT();
}

void downloadManager::runDownloadFile()
{
    IV_LOG_EINTRITT();
    const QString ziel = localFilePath();
    m_ziel = std::make_unique<QSaveFile>(ziel);
    if (!m_ziel->open(QIODevice::WriteOnly)) {
        errorText = m_ziel->errorString();
        IV_LOG_ERROR(textAusLiteral("Die Datei %1 kann nicht zum Schreiben ge&ouml;ffnet werden: %2").arg(ziel, errorText));
        m_ziel.reset();
        beende(true);
        return;
    }
    if (!connect(&network, &QNetworkAccessManager::finished, this, &downloadManager::loadFileFinished, Qt::UniqueConnection))
        IV_LOG_ERROR(QStringLiteral("Verbindung Signal/Slot konnte nicht hergestellt werden."));
    if (reply)
        reply->deleteLater();
    reply = network.get(baueAnfrage());
    // Bounded read buffer: the body goes to disk as it comes, never all into memory.
    reply->setReadBufferSize(lesePuffer);
    connect(reply, &QNetworkReply::sslErrors, this, &downloadManager::sslErrors);
    connect(reply, &QNetworkReply::readyRead, this, &downloadManager::schreibeVerfuegbareDaten);
    if (!connect(reply, &QNetworkReply::downloadProgress, this, &downloadManager::downloadProgressFile))
        IV_LOG_ERROR(QStringLiteral("Verbindung Signal/Slot konnte nicht hergestellt werden."));
    m_stillstand.start();
    IV_LOG_AUSTRITT();
}

void downloadManager::schreibeVerfuegbareDaten()
{
    m_stillstand.start();
    if (!reply || !m_ziel)
        return;
    while (reply->bytesAvailable() > 0) {
        const QByteArray stueck = reply->read(lesePuffer);
        if (stueck.isEmpty())
            break;
        if (!m_schreibFehler && m_ziel->write(stueck) != stueck.size()) {
            m_schreibFehler = true;
            errorText = m_ziel->errorString();
            IV_LOG_ERROR(textAusLiteral("Die Datei %1 kann nicht geschrieben werden: %2").arg(m_ziel->fileName(), errorText));
            reply->abort();
            return;
        }
    }
}

void downloadManager::downloadProgressFile(qint64 done, qint64)
{
    m_stillstand.start();
    emit downloadProgress(alsInt(done), alsInt(contentLength));
}

void downloadManager::loadFileFinished(QNetworkReply* antwort)
{
    IV_LOG_EINTRITT();
    if (antwort != reply)
        return;
    m_stillstand.stop();
    disconnect(&network, &QNetworkAccessManager::finished, this, &downloadManager::loadFileFinished);
    disconnect(antwort, &QNetworkReply::downloadProgress, this, &downloadManager::downloadProgressFile);
    const int status = antwort->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (antwort->error() == QNetworkReply::NoError && status < 300 && !m_schreibFehler)
        schreibeVerfuegbareDaten();
    if (antwort->error() != QNetworkReply::NoError || status >= 300 || m_schreibFehler) {
        if (!m_stillstandAbbruch && !m_schreibFehler)
            errorText = antwort->errorString();
        IV_LOG_ERROR(QStringLiteral("Download von %1 abgebrochen: %2").arg(antwort->url().toString(), errorText));
        if (m_ziel)
            m_ziel->cancelWriting();
        m_ziel.reset();
        beende(true);
        return;
    }
    const QString pfad = m_ziel ? m_ziel->fileName() : QString();
    const bool gespeichert = m_ziel && !m_schreibFehler && m_ziel->commit();
    if (!gespeichert && m_ziel)
        errorText = m_ziel->errorString();
    m_ziel.reset();
    antwort->close();
    if (!gespeichert) {
        IV_LOG_ERROR(QStringLiteral("Fehler beim Speichern der Datei!"));
        beende(true);
        return;
    }
    IV_LOG_DEBUG(QStringLiteral("Datei erfolgreich geladen."));
    beende(false, pfad);
    IV_LOG_AUSTRITT();
}

void downloadManager::beende(bool fehler, const QString& pfad)
{
    if (!m_laeuft)
        return;
    m_laeuft = false;
    emit finished(fehler, fehler ? QString() : pfad);
}

void downloadManager::abbrechen()
{
    if (!reply || !m_laeuft)
        return;
    m_stillstandAbbruch = true;
    errorText = QStringLiteral("Die \u00dcbertragung wurde abgebrochen.");
    reply->abort();
}

void downloadManager::stillstand()
{
    if (!reply || !m_laeuft)
        return;
    m_stillstandAbbruch = true;
    errorText = QStringLiteral("Der Server hat seit %1 Sekunden keine Daten gesendet.").arg(m_stillstand.interval() / 1000);
    reply->abort();
}

void downloadManager::sslErrors(const QList<QSslError>& errors)
{
    bool selbstSigniert = false;
    for (const QSslError& fehler : errors) {
        const QString name = TlsEinstellungen::fehlerName(fehler.error());
        if (!name.isEmpty())
            IV_LOG_ERROR(name);
        if (fehler.error() == QSslError::SelfSignedCertificate)
            selbstSigniert = true;
    }
    if (selbstSigniert && testMode) {
        IV_LOG_INFO(QStringLiteral("Im Testmode wird Fehler ignoriert."));
        if (auto* antwort = qobject_cast<QNetworkReply*>(sender()))
            antwort->ignoreSslErrors();
    }
}

void downloadManager::proxyAuthenticationDialog(const QNetworkProxy& p, QAuthenticator* authenticator)
{
    IV_LOG_EINTRITT();
    disconnect(&network, &QNetworkAccessManager::proxyAuthenticationRequired, this,
               &downloadManager::proxyAuthenticationDialog);
    QTimer::singleShot(m_proxyDialogZeit, this, &downloadManager::proxyAuthenticationTimeout);
    IV_LOG_ERROR(QStringLiteral("Der Proxy-Server %1:%2 verlangt eine Authentifizierung.").arg(p.hostName()).arg(p.port()));
    // The transfer waits for the user: the stall limit does not count meanwhile.
    m_stillstand.stop();
    QString benutzer, passwort;
    proxyDialogOffen = true;
    const bool ok = rueckfrage().frageProxyZugang(p.hostName(), QString::number(p.port()), 1, benutzer, passwort);
    proxyDialogOffen = false;
    if (ok) {
        authenticator->setUser(benutzer);
        authenticator->setPassword(passwort);
    }
    if (m_laeuft)
        m_stillstand.start();
    IV_LOG_AUSTRITT();
}

void downloadManager::proxyAuthenticationTimeout()
{
    if (proxyDialogOffen)
        rueckfrage().schliesseProxyZugang();
}
