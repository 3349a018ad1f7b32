#include "global/downloadManager/downloadmanager.h"

#include "bauwerte.h"
#include "global/downloadManager/dateiabruf.h"
#include "global/downloadManager/tlseinstellungen.h"
#include "global/plattform/plattform.h"
#include "global/varnelApplication/einstellungen.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/rueckfrage.h"
#include "global/varnelApplication/textausliteral.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSslCertificate>
#include <QSslCipher>
#include <QSslConfiguration>
#include <limits>

namespace {

// How often the progress of a running body is looked at.
constexpr int taktMs = 100;

int alsInt(qint64 wert)
{
    return int(qBound<qint64>(0, wert, std::numeric_limits<int>::max()));
}

QString infoPfad(const QString& teil)
{
    return teil + QStringLiteral(".info");
}

// A validator goes into a request header: printable ASCII only.
QByteArray alsValidator(const QByteArray& wert)
{
    if (wert.isEmpty() || wert.size() > 200)
        return QByteArray();
    for (const char c : wert) {
        if (c < 0x20 || c > 0x7e)
            return QByteArray();
    }
    return wert;
}

// The validator stored for a partial file of `url`; empty when none matches.
QByteArray leseValidator(const QString& info, const QUrl& url)
{
    QFile f(info);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    const QList<QByteArray> zeilen = f.read(4096).split('\n');
    if (zeilen.size() < 2 || zeilen[0] != url.toEncoded())
        return QByteArray();
    return alsValidator(zeilen[1]);
}

bool schreibeValidator(const QString& info, const QUrl& url, const QByteArray& validator)
{
    QSaveFile f(info);
    return f.open(QIODevice::WriteOnly) && f.write(url.toEncoded() + '\n' + validator + '\n') > 0 && f.commit();
}

void entferneTeil(const QString& teil)
{
    QFile::remove(teil);
    QFile::remove(infoPfad(teil));
}

} // namespace

downloadManager::downloadManager(QObject* parent)
    : QObject(parent)
{
    IV_LOG_EINTRITT();
    m_stillstand.setSingleShot(true);
    m_stillstand.setInterval(60000);
    connect(&m_stillstand, &QTimer::timeout, this, &downloadManager::stillstand);
    m_takt.setInterval(taktMs);
    connect(&m_takt, &QTimer::timeout, this, &downloadManager::meldeFortschritt);
    setSslConfiguration();
    IV_LOG_AUSTRITT();
}

downloadManager::~downloadManager()
{
    // The worker writes into m_ziel (removed with it): it ends first.
    m_abruf.reset();
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
    m_proxyBenutzer.clear();
    m_proxyPasswort.clear();
    if (!user.isEmpty()) {
        proxy.setUser(user);
        m_proxyBenutzer = user;
        if (!password.isEmpty()) {
            proxy.setPassword(password);
            m_proxyPasswort = password;
        }
    }
    if (Einstellungen::getAdminProxyXorHostNameLookupCapability()) {
        const auto faehigkeiten = proxy.capabilities() ^ QNetworkProxy::HostNameLookupCapability;
        proxy.setCapabilities(faehigkeiten);
        IV_LOG_INFO(textAusLiteral("Die Proxy-Eigenschaft \"HostNameLookupCapability\" wurde per XOR ver&auml;ndert. Neuer Wert = %1")
                        .arg(int(faehigkeiten & QNetworkProxy::HostNameLookupCapability)));
    }
    // Asked at most once per configuration: a proxy that asks again fails the request.
    m_proxyFragen = true;
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

QString downloadManager::teilDateiPfad(const QString& ziel)
{
    return ziel + QStringLiteral(".iv-teil");
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
    // A size or status left from the previous file would make the progress
    // lie and callers branch on the wrong answer.
    contentLength = 0;
    httpStatus = 0;
    m_abgebrochen = false;
    m_laeuft = true;
    IV_LOG_INFO(QStringLiteral("Download wird gestartet ....."));
    beginne();
    IV_LOG_AUSTRITT();
}

// A partial file of this URL with its validator needs the size and version
// on the server before the rest can be asked for: a HEAD first. Everything
// else goes straight to the GET.
void downloadManager::beginne()
{
    m_kopfGelesen = false;
    m_validator.clear();
    m_zielPfad = localFilePath();
    m_teilPfad = teilDateiPfad(m_zielPfad);
    m_gespeichert = leseValidator(infoPfad(m_teilPfad), url);
    const QFileInfo teil(m_teilPfad);
    if (!m_gespeichert.isEmpty() && teil.isFile() && !teil.isSymLink() && teil.size() > 0)
        doReadHead();
    else
        runDownloadFile();
}

void downloadManager::starteAbruf(DateiabrufAuftrag& auftrag, QFileDevice* ziel)
{
    auftrag.url = url;
    const QNetworkRequest anfrage = baueAnfrage();
    for (const QByteArray& name : anfrage.rawHeaderList())
        auftrag.kopfzeilen << name + ": " + anfrage.rawHeader(name);
    const QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    for (const QSslCipher& chiffre : tls.ciphers())
        auftrag.chiffren << chiffre.name();
    for (const QSslCertificate& ca : tls.caCertificates())
        auftrag.zusatzCas << ca.toDer();
    auftrag.testmodus = testMode;
    const QNetworkProxy wirksam = proxy.type() == QNetworkProxy::DefaultProxy ? QNetworkProxy::applicationProxy() : proxy;
    if (wirksam.type() == QNetworkProxy::HttpProxy) {
        auftrag.proxyHost = wirksam.hostName();
        auftrag.proxyPort = wirksam.port();
        auftrag.proxyBenutzer = m_proxyBenutzer;
        auftrag.proxyPasswort = m_proxyPasswort;
        auftrag.proxyLoestNamenAuf = wirksam.capabilities() & QNetworkProxy::HostNameLookupCapability;
    }
    if (!m_abruf)
        m_abruf = std::make_unique<Dateiabruf>();
    m_abruf->starte(auftrag, ziel, [this] {
        QMetaObject::invokeMethod(this, &downloadManager::loadFileFinished, Qt::QueuedConnection);
    });
    m_stillstand.start();
}

void downloadManager::doReadHead()
{
    IV_LOG_INFO(QStringLiteral("Hole Infos (Head-Request) vom Webserver ein."));
    IV_LOG_INFO(QStringLiteral("URL: ") + url.toString());
    DateiabrufAuftrag auftrag;
    auftrag.nurKopf = true;
    m_kopfLaeuft = true;
    starteAbruf(auftrag, nullptr);
}

// The answer refused before any byte of a body: the HEAD's or the GET's head.
void downloadManager::meldeKopfFehler()
{
    if (!m_abgebrochen)
        errorText = m_abruf->fehlerText();
    IV_LOG_ERROR(QStringLiteral("Download abgebrochen, Code: %1 Grund: %2").arg(httpStatus).arg(errorText));
}

void downloadManager::loadHeadFinished()
{
    IV_LOG_EINTRITT();
    m_kopfLaeuft = false;
    m_stillstand.stop();
    httpStatus = int(m_abruf->status());
    if (!m_abruf->erfolgreich() && !m_abgebrochen && m_abruf->proxyAnmeldung() && frageProxyZugang()) {
        doReadHead();
        return;
    }
    if (!m_abruf->erfolgreich() || m_abgebrochen) {
        meldeKopfFehler();
        beende(true);
        return;
    }
    m_kopfGelesen = true;
    const QByteArray validator = m_abruf->validator();
    m_validator = alsValidator(validator);
    if (m_abruf->gesamt() >= 0) {
        contentLength = m_abruf->gesamt();
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
    if (!m_laeuft)
        return;
    // Cancelled between HEAD and GET.
    if (m_abgebrochen) {
        IV_LOG_ERROR(QStringLiteral("Download von %1 abgebrochen: %2").arg(url.toString(), errorText));
        beende(true);
        return;
    }
    const QString ziel = m_zielPfad;
    // A partial file of this URL with its validator: ask for the rest.
    const QFileInfo teil(m_teilPfad);
    qint64 ab = 0;
    if (m_kopfGelesen && !m_gespeichert.isEmpty() && teil.isFile() && !teil.isSymLink() && teil.size() > 0
        && (contentLength <= 0 || teil.size() < contentLength))
        ab = teil.size();
    if (ab == 0)
        entferneTeil(m_teilPfad);
    m_ziel = std::make_unique<QFile>(m_teilPfad);
    if (!m_ziel->open(QIODevice::WriteOnly | QIODevice::Append)) {
        errorText = m_ziel->errorString();
        IV_LOG_ERROR(textAusLiteral("Die Datei %1 kann nicht zum Schreiben ge&ouml;ffnet werden: %2").arg(m_teilPfad, errorText));
        m_ziel.reset();
        entferneTeil(m_teilPfad);
        beende(true);
        return;
    }
    m_infoGeschrieben = ab > 0;
    if (ab > 0) {
        IV_LOG_INFO(QStringLiteral("Der Download wird bei Byte %1 von %2 fortgesetzt.").arg(ab).arg(contentLength));
    } else {
        // Readable like any other file of the folder, not only by its owner.
        m_ziel->setPermissions(QFileInfo::exists(ziel) ? QFile::permissions(ziel)
                                                       : QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
        if (!m_validator.isEmpty())
            m_infoGeschrieben = schreibeValidator(infoPfad(m_teilPfad), url, m_validator);
    }
    DateiabrufAuftrag auftrag;
    auftrag.fortsetzenAb = ab;
    auftrag.fortsetzenWenn = m_gespeichert;
    auftrag.hoechstGroesse = m_hoechstGroesse;
    if (contentLength > 0 && (auftrag.hoechstGroesse < 0 || contentLength < auftrag.hoechstGroesse))
        auftrag.hoechstGroesse = contentLength;
    m_gemeldet = -1;
    m_getLaeuft = true;
    starteAbruf(auftrag, m_ziel.get());
    m_getUhr.start();
    m_getAnfang = ab;
    m_takt.start();
    IV_LOG_AUSTRITT();
}

void downloadManager::meldeFortschritt()
{
    if (!m_abruf)
        return;
    const qint64 empfangen = m_abruf->empfangen();
    // Until the answer's head is in, neither its size nor its bytes are known.
    if (m_abruf->kopfFertig()) {
        if (!m_kopfGelesen) {
            m_kopfGelesen = true;
            contentLength = qMax<qint64>(0, m_abruf->gesamt());
        }
        // The partial file's version is known now: should the run end here,
        // the next one can still ask for the rest.
        if (!m_infoGeschrieben) {
            const QByteArray validator = alsValidator(m_abruf->validator());
            m_infoGeschrieben = !validator.isEmpty() && schreibeValidator(infoPfad(m_teilPfad), url, validator);
        }
        if (empfangen != m_gemeldet) {
            m_gemeldet = empfangen;
            downloadProgressFile(m_gemeldet, contentLength);
        }
    }
    const qint64 ueberKarenz = m_getLaeuft ? m_getUhr.elapsed() - m_karenz : 0;
    const qint64 neu = empfangen - m_getAnfang; // a resumed part came earlier
    if (!m_abgebrochen && m_mindestRate > 0 && ueberKarenz > 0 && neu < ueberKarenz * m_mindestRate / 1000)
        brichAb(QStringLiteral("Der Server sendet zu langsam: %1 Bytes in %2 Sekunden, verlangt sind mindestens %3 Bytes je Sekunde.")
                    .arg(neu)
                    .arg(m_getUhr.elapsed() / 1000)
                    .arg(m_mindestRate));
}

void downloadManager::downloadProgressFile(qint64 done, qint64)
{
    m_stillstand.start();
    emit downloadProgress(alsInt(done), alsInt(contentLength));
}

void downloadManager::protokolliereTls()
{
    // Only a new connection was checked; a kept one says nothing new.
    if (m_abruf->serverZertifikat().isEmpty())
        return;
    TlsEinstellungen::protokolliereVerbindung(m_abruf->chiffre(), m_abruf->protokoll(), m_abruf->serverZertifikat());
    for (const QString& name : m_abruf->tlsFehlerNamen()) {
        if (!name.isEmpty())
            IV_LOG_ERROR(name);
    }
    if (m_abruf->tlsEntschuldigt())
        IV_LOG_INFO(QStringLiteral("Im Testmode wird Fehler ignoriert."));
}

void downloadManager::loadFileFinished()
{
    IV_LOG_EINTRITT();
    if (!m_abruf)
        return;
    if (m_kopfLaeuft) {
        m_abruf->warte();
        protokolliereTls();
        loadHeadFinished();
        return;
    }
    if (!m_getLaeuft)
        return;
    m_abruf->warte();
    m_getLaeuft = false;
    m_takt.stop();
    meldeFortschritt();
    m_stillstand.stop();
    protokolliereTls();
    httpStatus = int(m_abruf->status());
    if (!m_abruf->erfolgreich() && !m_abgebrochen && m_abruf->proxyAnmeldung() && frageProxyZugang()) {
        // Nothing of the answer reached the file; the same request again with the new credentials.
        m_ziel->close();
        m_ziel.reset();
        if (m_getAnfang == 0)
            entferneTeil(m_teilPfad);
        beginne();
        return;
    }
    // A body that ends without its announced length (the server closed a
    // transfer without length early) is no file.
    const bool unvollstaendig = m_abruf->erfolgreich() && contentLength > 0 && m_abruf->empfangen() != contentLength;
    if (!m_abruf->erfolgreich() || unvollstaendig) {
        // Refused in the answer's head, or no answer at all: as a HEAD's refusal always read.
        const bool kopf = !unvollstaendig && !m_abruf->inhaltBegonnen() && (httpStatus == 0 || httpStatus >= 300);
        if (kopf) {
            meldeKopfFehler();
        } else {
            errorText = unvollstaendig ? QStringLiteral("Die Datei ist unvollst\u00e4ndig: %1 von %2 Bytes empfangen.")
                                             .arg(m_abruf->empfangen())
                                             .arg(contentLength)
                                       : m_abruf->fehlerText();
            if (m_abruf->schreibFehler())
                IV_LOG_ERROR(textAusLiteral("Die Datei %1 kann nicht geschrieben werden: %2").arg(m_zielPfad, errorText));
            IV_LOG_ERROR(QStringLiteral("Download von %1 abgebrochen: %2").arg(url.toString(), errorText));
        }
        m_ziel->close();
        m_ziel.reset();
        behalteOderEntferneTeil();
        beende(true);
        return;
    }
    // No fsync before the rename: every downloaded file is checked against its
    // signature or checksum before use, and a gigabyte-sized sync would double
    // the time of a large installer.
    const QString pfad = m_zielPfad;
    bool gespeichert = m_ziel->flush();
    if (!gespeichert)
        errorText = m_ziel->errorString();
    m_ziel->close();
    m_ziel.reset();
    if (gespeichert)
        gespeichert = Plattform::ersetzeDatei(m_teilPfad, pfad, &errorText);
    entferneTeil(m_teilPfad);
    if (!gespeichert) {
        IV_LOG_ERROR(QStringLiteral("Fehler beim Speichern der Datei!"));
        beende(true);
        return;
    }
    IV_LOG_DEBUG(QStringLiteral("Datei erfolgreich geladen."));
    beende(false, pfad);
    IV_LOG_AUSTRITT();
}

// After a failed GET: the partial file stays only when the next attempt can
// ask for the rest of the very same version.
void downloadManager::behalteOderEntferneTeil()
{
    const QString info = infoPfad(m_teilPfad);
    const bool begonnen = m_abruf->inhaltBegonnen();
    const QByteArray validator = begonnen ? alsValidator(m_abruf->validator()) : leseValidator(info, url);
    const qint64 groesse = QFileInfo(m_teilPfad).size();
    const bool bereichFalsch = m_abruf->status() == 206 && !begonnen;
    // Bytes cut off at the announced size came from a server that lied about it.
    if (m_abruf->schreibFehler() || m_abruf->zuViel() || m_abruf->status() >= 400 || bereichFalsch || validator.isEmpty()
        || groesse <= 0) {
        entferneTeil(m_teilPfad);
        return;
    }
    // A whole new answer began: its own validator guards the bytes now.
    if (begonnen && !m_abruf->fortgesetzt() && !schreibeValidator(info, url, validator)) {
        entferneTeil(m_teilPfad);
        return;
    }
    IV_LOG_INFO(textAusLiteral("Die unvollst&auml;ndige Datei %1 (%2 Bytes) bleibt f&uuml;r den n&auml;chsten Versuch.").arg(m_teilPfad).arg(groesse));
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
    brichAb(QStringLiteral("Die \u00dcbertragung wurde abgebrochen."));
}

void downloadManager::stillstand()
{
    brichAb(QStringLiteral("Der Server hat seit %1 Sekunden keine Daten gesendet.").arg(m_stillstand.interval() / 1000));
}

void downloadManager::brichAb(const QString& grund)
{
    if (!m_laeuft)
        return;
    m_abgebrochen = true;
    errorText = grund;
    if ((m_getLaeuft || m_kopfLaeuft) && m_abruf)
        m_abruf->abbrechen(grund);
}

// Once per proxy configuration: a proxy that asks again fails the request.
bool downloadManager::frageProxyZugang()
{
    if (!m_proxyFragen)
        return false;
    m_proxyFragen = false;
    const QNetworkProxy p = proxy.type() == QNetworkProxy::DefaultProxy ? QNetworkProxy::applicationProxy() : proxy;
    QTimer::singleShot(m_proxyDialogZeit, this, &downloadManager::proxyAuthenticationTimeout);
    IV_LOG_ERROR(QStringLiteral("Der Proxy-Server %1:%2 verlangt eine Authentifizierung.").arg(p.hostName()).arg(p.port()));
    // The transfer waits for the user: the stall limit does not count meanwhile.
    m_stillstand.stop();
    QString benutzer, passwort;
    proxyDialogOffen = true;
    const bool ok = rueckfrage().frageProxyZugang(p.hostName(), QString::number(p.port()), 1, benutzer, passwort);
    proxyDialogOffen = false;
    if (!ok || m_abgebrochen)
        return false;
    m_proxyBenutzer = benutzer;
    m_proxyPasswort = passwort;
    return true;
}

void downloadManager::proxyAuthenticationTimeout()
{
    if (proxyDialogOffen)
        rueckfrage().schliesseProxyZugang();
}
