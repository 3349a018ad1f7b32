#include "global/downloadManager/dateiabruf.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QFileDevice>
#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

namespace {

// Large enough for several TLS records per write to the file.
constexpr long empfangsPuffer = 256 * 1024;

CURL* handle(void* c)
{
    return static_cast<CURL*>(c);
}

// "[::1]" for addresses that need brackets in host:port texts.
QString alsHostText(const QString& host)
{
    return host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
}

// The proxy gets one address to connect to; IPv4 is the one that works
// wherever a name has both.
QString ersteAdresse(const QList<QHostAddress>& adressen)
{
    for (const QHostAddress& a : adressen) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol)
            return a.toString();
    }
    return adressen.isEmpty() ? QString() : adressen.constFirst().toString();
}

// The user reads the reason in German; libcurl's own text follows for the log.
QString deutscherFehler(CURLcode code, const char* detail)
{
    QString text;
    switch (code) {
    case CURLE_PARTIAL_FILE:
        text = QStringLiteral("Die Verbindung endete vor dem Ende der Datei.");
        break;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
        text = QStringLiteral("Die Verbindung zum Server wurde unterbrochen.");
        break;
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        text = QStringLiteral("Der Server ist nicht erreichbar.");
        break;
    case CURLE_OPERATION_TIMEDOUT:
        text = QStringLiteral("Die Zeit f\u00fcr die \u00dcbertragung ist abgelaufen.");
        break;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
        text = QStringLiteral("Die gesicherte Verbindung zum Server kam nicht zustande.");
        break;
    default:
        text = QStringLiteral("Die \u00dcbertragung ist gescheitert.");
        break;
    }
    return QStringLiteral("%1 (%2)").arg(text, QString::fromUtf8(detail && *detail ? detail : curl_easy_strerror(code)));
}

} // namespace

// libcurl and OpenSSL call these with their own signatures.
struct DateiabrufRueckrufe {
    static size_t schreibe(char* daten, size_t groesse, size_t anzahl, void* selbst);
    static size_t kopfzeile(char* daten, size_t groesse, size_t anzahl, void* selbst);
    static int fortschritt(void* selbst, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
    static CURLcode tlsKontext(CURL*, void* sslKontext, void* selbst);
    static int pruefeZertifikat(X509_STORE_CTX* kontext, void* selbst);
};

Dateiabruf::Dateiabruf()
{
    // Thread-safe since libcurl 7.84; the first manager of the process does it.
    static const bool bereit = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    m_curl = bereit ? curl_easy_init() : nullptr;
}

Dateiabruf::~Dateiabruf()
{
    abbrechen(QString());
    warte();
    if (m_curl)
        curl_easy_cleanup(handle(m_curl));
}

void Dateiabruf::starte(const DateiabrufAuftrag& auftrag, QFileDevice* ziel, std::function<void()> fertig)
{
    warte();
    m_fortsetzenAb = qMax<qint64>(0, auftrag.fortsetzenAb);
    m_empfangen = m_fortsetzenAb;
    m_status = 0;
    m_etag.clear();
    m_geaendert.clear();
    m_bereich.clear();
    m_begonnen = false;
    m_fortgesetzt = false;
    m_bereichFalsch = false;
    m_abbruch = false;
    {
        std::lock_guard<std::mutex> sperre(m_sperre);
        m_abbruchGrund.clear();
    }
    m_fehler.clear();
    m_erfolgreich = false;
    m_schreibFehler = false;
    m_zertifikatFremd = false;
    m_zuViel = false;
    m_hoechstGroesse = auftrag.hoechstGroesse;
    m_ziel = ziel;
    m_faden = std::thread(&Dateiabruf::lauf, this, auftrag, std::move(fertig));
}

void Dateiabruf::warte()
{
    if (m_faden.joinable())
        m_faden.join();
}

void Dateiabruf::abbrechen(const QString& grund)
{
    {
        std::lock_guard<std::mutex> sperre(m_sperre);
        if (!m_abbruch)
            m_abbruchGrund = grund;
    }
    m_abbruch = true;
}

QString Dateiabruf::fehlerText() const
{
    std::lock_guard<std::mutex> sperre(m_sperre);
    if (m_abbruch && !m_abbruchGrund.isEmpty())
        return m_abbruchGrund;
    return m_fehler;
}

void Dateiabruf::lauf(DateiabrufAuftrag auftrag, std::function<void()> fertig)
{
    m_zertifikat = auftrag.zertifikatDer;
    CURL* c = handle(m_curl);
    if (!c) {
        m_fehler = QStringLiteral("Die Bibliothek libcurl konnte nicht initialisiert werden.");
        fertig();
        return;
    }
    // Keeps the open connection for the next file from the same server.
    curl_easy_reset(c);
    char fehlerPuffer[CURL_ERROR_SIZE] = {};
    const QByteArray adresse = auftrag.url.toEncoded();
    curl_easy_setopt(c, CURLOPT_URL, adresse.constData());
    curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, fehlerPuffer);
    curl_easy_setopt(c, CURLOPT_BUFFERSIZE, empfangsPuffer);
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &DateiabrufRueckrufe::schreibe);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &DateiabrufRueckrufe::fortschritt);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, this);

    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &DateiabrufRueckrufe::kopfzeile);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, this);

    curl_slist* koepfe = nullptr;
    for (const QByteArray& zeile : qAsConst(auftrag.kopfzeilen))
        koepfe = curl_slist_append(koepfe, zeile.constData());
    const QByteArray bereich = QByteArray::number(m_fortsetzenAb) + '-';
    if (m_fortsetzenAb > 0) {
        // If-Range: the rest only of the very version we hold, else all of it.
        curl_easy_setopt(c, CURLOPT_RANGE, bereich.constData());
        koepfe = curl_slist_append(koepfe, ("If-Range: " + auftrag.fortsetzenWenn).constData());
    }
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, koepfe);

    const QByteArray chiffren = auftrag.chiffren.join(QLatin1Char(':')).toLatin1();
    curl_easy_setopt(c, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2 | CURL_SSLVERSION_MAX_TLSv1_2));
    if (!chiffren.isEmpty())
        curl_easy_setopt(c, CURLOPT_SSL_CIPHER_LIST, chiffren.constData());
    // The certificate check is ours (pruefeZertifikat); a resumed session
    // would skip it, and the CA bundle is never consulted.
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(c, CURLOPT_SSL_SESSIONID_CACHE, 0L);
    curl_easy_setopt(c, CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(c, CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(c, CURLOPT_SSL_CTX_FUNCTION, &DateiabrufRueckrufe::tlsKontext);
    curl_easy_setopt(c, CURLOPT_SSL_CTX_DATA, this);
    // A kept connection was checked against the previous certificate only.
    if (m_zertifikat != m_letztesZertifikat)
        curl_easy_setopt(c, CURLOPT_FRESH_CONNECT, 1L);
    m_letztesZertifikat = m_zertifikat;

    QByteArray proxy, benutzer, passwort, umweg;
    if (auftrag.proxyHost.isEmpty()) {
        // An empty text also keeps libcurl away from http_proxy and friends.
        curl_easy_setopt(c, CURLOPT_PROXY, "");
    } else {
        proxy = (QStringLiteral("http://") + alsHostText(auftrag.proxyHost) + QLatin1Char(':')
                 + QString::number(auftrag.proxyPort)).toUtf8();
        curl_easy_setopt(c, CURLOPT_PROXY, proxy.constData());
        curl_easy_setopt(c, CURLOPT_PROXYAUTH, CURLAUTH_ANY);
        if (!auftrag.proxyBenutzer.isEmpty()) {
            benutzer = auftrag.proxyBenutzer.toUtf8();
            passwort = auftrag.proxyPasswort.toUtf8();
            curl_easy_setopt(c, CURLOPT_PROXYUSERNAME, benutzer.constData());
            curl_easy_setopt(c, CURLOPT_PROXYPASSWORD, passwort.constData());
        }
        if (!auftrag.proxyLoestNamenAuf && QHostAddress(auftrag.url.host()).isNull()) {
            const QString ziel = ersteAdresse(QHostInfo::fromName(auftrag.url.host()).addresses());
            if (!ziel.isEmpty()) {
                const QString port = QString::number(auftrag.url.port(auftrag.url.scheme() == QLatin1String("https") ? 443 : 80));
                umweg = (alsHostText(auftrag.url.host()) + QLatin1Char(':') + port + QLatin1Char(':') + alsHostText(ziel)
                         + QLatin1Char(':') + port)
                            .toUtf8();
            }
        }
    }
    curl_slist* umwege = umweg.isEmpty() ? nullptr : curl_slist_append(nullptr, umweg.constData());
    curl_easy_setopt(c, CURLOPT_CONNECT_TO, umwege);

    const CURLcode ergebnis = curl_easy_perform(c);
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    m_status = status;
    long proxyStatus = 0;
    curl_easy_getinfo(c, CURLINFO_HTTP_CONNECTCODE, &proxyStatus);
    curl_slist_free_all(koepfe);
    curl_slist_free_all(umwege);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, nullptr);

    m_erfolgreich = ergebnis == CURLE_OK && status > 0 && status < 300;
    // An empty body never reached schreibe: the file must still match the answer.
    if (m_erfolgreich && !m_begonnen)
        m_erfolgreich = beginneInhalt();
    if (!m_erfolgreich) {
        if (m_schreibFehler)
            m_fehler = m_ziel->errorString();
        else if (m_zuViel)
            m_fehler = QStringLiteral("Der Server sendet mehr als die angek\u00fcndigten %1 Bytes; die \u00dcbertragung wurde dort abgeschnitten.")
                           .arg(m_hoechstGroesse);
        else if (m_bereichFalsch)
            m_fehler = QStringLiteral("Der Server setzt die \u00dcbertragung an einer anderen Stelle fort (%1) als erbeten (%2).")
                           .arg(QString::fromLatin1(m_bereich))
                           .arg(m_fortsetzenAb);
        else if (m_zertifikatFremd)
            m_fehler = QStringLiteral("Der Server zeigt ein anderes Zertifikat als bei der Abfrage der Dateigr\u00f6\u00dfe.");
        else if (proxyStatus == 407 || status == 407)
            m_fehler = QStringLiteral("Der Proxy-Server verlangt erneut eine Authentifizierung.");
        else if (ergebnis == CURLE_OK)
            m_fehler = QStringLiteral("Der Server antwortet mit dem Status %1.").arg(status);
        else
            m_fehler = deutscherFehler(ergebnis, fehlerPuffer);
    }
    fertig();
}

size_t DateiabrufRueckrufe::schreibe(char* daten, size_t groesse, size_t anzahl, void* selbst)
{
    auto* d = static_cast<Dateiabruf*>(selbst);
    const size_t laenge = groesse * anzahl;
    long status = 0;
    curl_easy_getinfo(handle(d->m_curl), CURLINFO_RESPONSE_CODE, &status);
    // The body of an error answer is not the file.
    if (status >= 300)
        return laenge;
    if (!d->m_begonnen && !d->beginneInhalt())
        return 0;
    // A server that sends more than it announced gets no byte past that size.
    if (d->m_hoechstGroesse >= 0 && d->m_empfangen + qint64(laenge) > d->m_hoechstGroesse) {
        const qint64 rest = d->m_hoechstGroesse - d->m_empfangen;
        if (rest > 0 && d->m_ziel->write(daten, rest) == rest)
            d->m_empfangen += rest;
        d->m_zuViel = true;
        return 0;
    }
    if (d->m_ziel->write(daten, qint64(laenge)) != qint64(laenge)) {
        d->m_schreibFehler = true;
        return 0;
    }
    d->m_empfangen += qint64(laenge);
    return laenge;
}

size_t DateiabrufRueckrufe::kopfzeile(char* daten, size_t groesse, size_t anzahl, void* selbst)
{
    auto* d = static_cast<Dateiabruf*>(selbst);
    const size_t laenge = groesse * anzahl;
    const QByteArray zeile = QByteArray(daten, int(laenge)).trimmed();
    // A new status line (proxy CONNECT, 100 Continue) starts a new answer.
    if (zeile.startsWith("HTTP/")) {
        d->m_etag.clear();
        d->m_geaendert.clear();
        d->m_bereich.clear();
        return laenge;
    }
    const int doppelpunkt = zeile.indexOf(':');
    if (doppelpunkt <= 0)
        return laenge;
    const QByteArray name = zeile.left(doppelpunkt).trimmed().toLower();
    const QByteArray wert = zeile.mid(doppelpunkt + 1).trimmed();
    // A weak ETag may not guard a range (RFC 9110 13.1.5).
    if (name == "etag" && !wert.startsWith("W/"))
        d->m_etag = wert;
    else if (name == "last-modified")
        d->m_geaendert = wert;
    else if (name == "content-range")
        d->m_bereich = wert;
    return laenge;
}

int DateiabrufRueckrufe::fortschritt(void* selbst, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<Dateiabruf*>(selbst)->m_abbruch ? 1 : 0;
}

// First bytes of the body: a 206 must continue exactly where the file ends;
// a 200 is the whole file, so what the file held goes.
bool Dateiabruf::beginneInhalt()
{
    long status = 0;
    curl_easy_getinfo(handle(m_curl), CURLINFO_RESPONSE_CODE, &status);
    if (status == 206) {
        // "bytes 1000-1999/2000"
        const QByteArray bereich = m_bereich.startsWith("bytes ") ? m_bereich.mid(6) : QByteArray();
        bool ok = false;
        const qint64 anfang = bereich.left(bereich.indexOf('-')).toLongLong(&ok);
        if (!ok || anfang != m_fortsetzenAb) {
            m_bereichFalsch = true;
            return false;
        }
        m_fortgesetzt = true;
    } else if (m_fortsetzenAb > 0) {
        if (!m_ziel->resize(0)) {
            m_schreibFehler = true;
            return false;
        }
        m_empfangen = 0;
    }
    m_begonnen = true;
    return true;
}

CURLcode DateiabrufRueckrufe::tlsKontext(CURL*, void* sslKontext, void* selbst)
{
    SSL_CTX_set_cert_verify_callback(static_cast<SSL_CTX*>(sslKontext), &DateiabrufRueckrufe::pruefeZertifikat, selbst);
    return CURLE_OK;
}

int DateiabrufRueckrufe::pruefeZertifikat(X509_STORE_CTX* kontext, void* selbst)
{
    auto* d = static_cast<Dateiabruf*>(selbst);
    X509* blatt = X509_STORE_CTX_get0_cert(kontext);
    unsigned char* der = nullptr;
    const int laenge = blatt ? i2d_X509(blatt, &der) : -1;
    const bool gleich = laenge > 0 && !d->m_zertifikat.isEmpty()
        && QByteArray::fromRawData(reinterpret_cast<const char*>(der), laenge) == d->m_zertifikat;
    OPENSSL_free(der);
    if (gleich)
        return 1;
    d->m_zertifikatFremd = true;
    X509_STORE_CTX_set_error(kontext, X509_V_ERR_CERT_REJECTED);
    return 0;
}
