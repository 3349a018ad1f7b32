#include "global/downloadManager/dateiabruf.h"

#include "global/downloadManager/tlseinstellungen.h"

#include <QFileDevice>
#include <QHostAddress>
#include <QHostInfo>
#include <QSslCertificate>
#include <QSslError>
#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

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

// An error answer's body is thrown away; a server that sends more than this
// of it is cut off rather than read without end.
constexpr qint64 fehlerSeiteHoechstens = 1024 * 1024;

// OpenSSL's verdicts in Qt's words, so the log and the user read what they
// always read; Qt's stack maps them the same way.
QSslError::SslError alsQtFehler(int code)
{
    switch (code) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT: return QSslError::UnableToGetIssuerCertificate;
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE: return QSslError::UnableToDecryptCertificateSignature;
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY: return QSslError::UnableToDecodeIssuerPublicKey;
    case X509_V_ERR_CERT_SIGNATURE_FAILURE: return QSslError::CertificateSignatureFailed;
    case X509_V_ERR_CERT_NOT_YET_VALID: return QSslError::CertificateNotYetValid;
    case X509_V_ERR_CERT_HAS_EXPIRED: return QSslError::CertificateExpired;
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD: return QSslError::InvalidNotBeforeField;
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD: return QSslError::InvalidNotAfterField;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT: return QSslError::SelfSignedCertificate;
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN: return QSslError::SelfSignedCertificateInChain;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY: return QSslError::UnableToGetLocalIssuerCertificate;
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE: return QSslError::UnableToVerifyFirstCertificate;
    case X509_V_ERR_CERT_REVOKED: return QSslError::CertificateRevoked;
    case X509_V_ERR_INVALID_CA: return QSslError::InvalidCaCertificate;
    case X509_V_ERR_PATH_LENGTH_EXCEEDED: return QSslError::PathLengthExceeded;
    case X509_V_ERR_INVALID_PURPOSE: return QSslError::InvalidPurpose;
    case X509_V_ERR_CERT_UNTRUSTED: return QSslError::CertificateUntrusted;
    case X509_V_ERR_CERT_REJECTED: return QSslError::CertificateRejected;
    default: return QSslError::UnspecifiedError;
    }
}

QByteArray alsDer(X509* zertifikat)
{
    unsigned char* der = nullptr;
    const int laenge = zertifikat ? i2d_X509(zertifikat, &der) : -1;
    const QByteArray ergebnis = laenge > 0 ? QByteArray(reinterpret_cast<const char*>(der), laenge) : QByteArray();
    OPENSSL_free(der);
    return ergebnis;
}

// The faults one X509_verify_cert finds, each once with its certificate; the
// chain is walked to its end so that all of them are known.
thread_local QList<QPair<int, QByteArray>>* t_kettenFehler = nullptr;

int sammleFehler(int ok, X509_STORE_CTX* kontext)
{
    if (!ok && t_kettenFehler) {
        const QPair<int, QByteArray> fehler(X509_STORE_CTX_get_error(kontext), alsDer(X509_STORE_CTX_get_current_cert(kontext)));
        if (!t_kettenFehler->contains(fehler))
            t_kettenFehler->append(fehler);
    }
    return 1;
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
    m_nurKopf = auftrag.nurKopf;
    m_fortsetzenAb = qMax<qint64>(0, auftrag.fortsetzenAb);
    m_empfangen = m_fortsetzenAb;
    m_gesamt = -1;
    m_kopfFertig = false;
    m_status = 0;
    m_antwortStatus = 0;
    m_grund.clear();
    m_etag.clear();
    m_geaendert.clear();
    m_bereich.clear();
    m_laenge = -1;
    m_begonnen = false;
    m_fortgesetzt = false;
    m_bereichFalsch = false;
    m_abbruch = false;
    {
        std::lock_guard<std::mutex> sperre(m_sperre);
        m_abbruchGrund.clear();
        m_kopfValidator.clear();
    }
    m_fehler.clear();
    m_fehlerSeite = 0;
    m_erfolgreich = false;
    m_schreibFehler = false;
    m_zuViel = false;
    m_proxyAnmeldung = false;
    m_tlsNamen.clear();
    m_tlsTexte.clear();
    m_tlsEntschuldigt = false;
    m_serverZertifikat.clear();
    m_chiffre.clear();
    m_protokoll.clear();
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

QByteArray Dateiabruf::validator() const
{
    std::lock_guard<std::mutex> sperre(m_sperre);
    return m_kopfValidator;
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
    if (auftrag.nurKopf)
        curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
    else
        curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, fehlerPuffer);
    curl_easy_setopt(c, CURLOPT_BUFFERSIZE, empfangsPuffer);
    // Redirects are not followed: the server's layout is fixed.
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &DateiabrufRueckrufe::schreibe);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &DateiabrufRueckrufe::fortschritt);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, this);

    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &DateiabrufRueckrufe::kopfzeile);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(c, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);

    curl_slist* koepfe = nullptr;
    for (const QByteArray& zeile : qAsConst(auftrag.kopfzeilen))
        koepfe = curl_slist_append(koepfe, zeile.constData());
    const QByteArray bereich = QByteArray::number(m_fortsetzenAb) + '-';
    if (m_fortsetzenAb > 0 && !auftrag.nurKopf) {
        // If-Range: the rest only of the very version we hold, else all of it.
        curl_easy_setopt(c, CURLOPT_RANGE, bereich.constData());
        koepfe = curl_slist_append(koepfe, ("If-Range: " + auftrag.fortsetzenWenn).constData());
    }
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, koepfe);

    const QByteArray chiffren = auftrag.chiffren.join(QLatin1Char(':')).toLatin1();
    curl_easy_setopt(c, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2 | CURL_SSLVERSION_MAX_TLSv1_2));
    if (!chiffren.isEmpty())
        curl_easy_setopt(c, CURLOPT_SSL_CIPHER_LIST, chiffren.constData());
    // The whole certificate check is ours (pruefeZertifikat), host name
    // included; a resumed session would skip it.
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(c, CURLOPT_SSL_SESSIONID_CACHE, 0L);
    // The system's CAs from the hashed folder, each looked up when a chain
    // needs it: the bundle file would be parsed whole for every connection.
    curl_easy_setopt(c, CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(c, CURLOPT_SSL_CTX_FUNCTION, &DateiabrufRueckrufe::tlsKontext);
    curl_easy_setopt(c, CURLOPT_SSL_CTX_DATA, this);
    // A kept connection was checked under the previous rules only.
    m_host = auftrag.url.host();
    m_testmodus = auftrag.testmodus;
    if (m_testmodus != m_letzterTestmodus || auftrag.zusatzCas != m_zusatzCas)
        curl_easy_setopt(c, CURLOPT_FRESH_CONNECT, 1L);
    m_letzterTestmodus = m_testmodus;
    m_zusatzCas = auftrag.zusatzCas;

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

    CURLcode ergebnis = curl_easy_perform(c);
    long neueVerbindungen = 0;
    curl_easy_getinfo(c, CURLINFO_NUM_CONNECTS, &neueVerbindungen);
    // A kept connection that yields no answer at all (the server left bytes
    // behind a previous answer, or dropped it): once more on a new one.
    if (ergebnis != CURLE_OK && neueVerbindungen == 0 && m_antwortStatus == 0 && !m_abbruch) {
        curl_easy_setopt(c, CURLOPT_FRESH_CONNECT, 1L);
        ergebnis = curl_easy_perform(c);
    }
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    m_status = status;
    long proxyStatus = 0;
    curl_easy_getinfo(c, CURLINFO_HTTP_CONNECTCODE, &proxyStatus);
    curl_slist_free_all(koepfe);
    curl_slist_free_all(umwege);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, nullptr);

    m_erfolgreich = ergebnis == CURLE_OK && status >= 200 && status < 300;
    // An empty body never reached schreibe: the file must still match the answer.
    if (m_erfolgreich && !m_nurKopf && !m_begonnen)
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
        else if (proxyStatus == 407 || status == 407) {
            m_proxyAnmeldung = true;
            m_fehler = QStringLiteral("Der Proxy-Server verlangt erneut eine Authentifizierung.");
        } else if (status >= 300)
            m_fehler = QStringLiteral("Der Server antwortet mit dem Status %1 (%2).").arg(status).arg(statusText());
        else if (ergebnis == CURLE_OK)
            m_fehler = QStringLiteral("Der Server antwortet mit dem Status %1.").arg(status);
        else
            m_fehler = deutscherFehler(ergebnis, fehlerPuffer);
        // "The handshake failed" alone does not tell the user what was wrong.
        if (!m_tlsEntschuldigt && !m_tlsTexte.isEmpty())
            m_fehler += QStringLiteral(" (%1)").arg(m_tlsTexte.join(QStringLiteral("; ")));
    }
    fertig();
}

// The answer's head is complete. Only a successful one decides the size: the
// body of an error answer never reaches the file, and a proxy's 407 may be
// followed by the real answer.
void Dateiabruf::kopfEnde()
{
    if (m_antwortStatus < 200 || m_antwortStatus >= 300)
        return;
    qint64 gesamt = m_laenge;
    if (m_antwortStatus == 206) {
        // "bytes 1000-1999/2000"; "*" leaves the size unknown.
        bool ok = false;
        gesamt = m_bereich.mid(m_bereich.lastIndexOf('/') + 1).toLongLong(&ok);
        if (!ok)
            gesamt = -1;
    }
    // The announced size bounds the body as well as the caller's.
    if (gesamt >= 0 && (m_hoechstGroesse < 0 || gesamt < m_hoechstGroesse))
        m_hoechstGroesse = gesamt;
    m_gesamt = gesamt;
    {
        std::lock_guard<std::mutex> sperre(m_sperre);
        m_kopfValidator = m_etag.isEmpty() ? m_geaendert : m_etag;
    }
    m_kopfFertig = true;
}

size_t DateiabrufRueckrufe::schreibe(char* daten, size_t groesse, size_t anzahl, void* selbst)
{
    auto* d = static_cast<Dateiabruf*>(selbst);
    const size_t laenge = groesse * anzahl;
    // The body of an error answer is not the file.
    if (d->m_antwortStatus < 200 || d->m_antwortStatus >= 300) {
        d->m_fehlerSeite += qint64(laenge);
        return d->m_fehlerSeite > fehlerSeiteHoechstens ? 0 : laenge;
    }
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
    // A new status line (100 Continue, the answer after a proxy's 407) starts a new answer.
    if (zeile.startsWith("HTTP/")) {
        d->m_etag.clear();
        d->m_geaendert.clear();
        d->m_bereich.clear();
        d->m_laenge = -1;
        const QList<QByteArray> teile = zeile.split(' ');
        d->m_antwortStatus = teile.value(1).toLong();
        const int nachCode = zeile.indexOf(' ', zeile.indexOf(' ') + 1);
        d->m_grund = nachCode > 0 ? zeile.mid(nachCode + 1) : QByteArray();
        if (d->m_chiffre.isEmpty()) {
            curl_tlssessioninfo* info = nullptr;
            if (curl_easy_getinfo(handle(d->m_curl), CURLINFO_TLS_SSL_PTR, &info) == CURLE_OK && info
                && info->backend == CURLSSLBACKEND_OPENSSL && info->internals) {
                const SSL* ssl = static_cast<const SSL*>(info->internals);
                d->m_chiffre = QString::fromLatin1(SSL_get_cipher_name(ssl));
                d->m_protokoll = QString::fromLatin1(SSL_get_version(ssl));
            }
        }
        return laenge;
    }
    if (zeile.isEmpty()) {
        d->kopfEnde();
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
    else if (name == "content-length") {
        bool ok = false;
        const qint64 n = wert.toLongLong(&ok);
        d->m_laenge = ok && n >= 0 ? n : -1;
    }
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
    if (m_antwortStatus == 206) {
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
    auto* d = static_cast<Dateiabruf*>(selbst);
    auto* kontext = static_cast<SSL_CTX*>(sslKontext);
    // Certificates the process trusts besides the system's (Qt's default
    // configuration) count here too.
    X509_STORE* speicher = SSL_CTX_get_cert_store(kontext);
    for (const QByteArray& der : qAsConst(d->m_zusatzCas)) {
        const auto* p = reinterpret_cast<const unsigned char*>(der.constData());
        if (X509* ca = d2i_X509(nullptr, &p, der.size())) {
            X509_STORE_add_cert(speicher, ca);
            X509_free(ca);
        }
    }
    SSL_CTX_set_cert_verify_callback(kontext, &DateiabrufRueckrufe::pruefeZertifikat, selbst);
    return CURLE_OK;
}

// Every new connection: the chain against the trusted CAs and the host name,
// all faults collected. In test mode a self-signed certificate excuses them
// all, as Qt's stack did when its errors were ignored.
int DateiabrufRueckrufe::pruefeZertifikat(X509_STORE_CTX* kontext, void* selbst)
{
    auto* d = static_cast<Dateiabruf*>(selbst);
    QList<QPair<int, QByteArray>> fehler;
    t_kettenFehler = &fehler;
    X509_STORE_CTX_set_verify_cb(kontext, &sammleFehler);
    const int geprueft = X509_verify_cert(kontext);
    t_kettenFehler = nullptr;
    X509* blatt = X509_STORE_CTX_get0_cert(kontext);
    const QByteArray blattDer = alsDer(blatt);
    d->m_serverZertifikat = blattDer;
    if (geprueft <= 0 && fehler.isEmpty())
        fehler.append({ X509_STORE_CTX_get_error(kontext), blattDer });
    const QByteArray host = d->m_host.toUtf8();
    const bool hostPasst = blatt
        && (QHostAddress(d->m_host).isNull() ? X509_check_host(blatt, host.constData(), size_t(host.size()), 0, nullptr) == 1
                                             : X509_check_ip_asc(blatt, host.constData(), 0) == 1);

    QList<QSslError> qtFehler;
    for (const auto& f : qAsConst(fehler))
        qtFehler << QSslError(alsQtFehler(f.first), QSslCertificate(f.second, QSsl::Der));
    if (!hostPasst)
        qtFehler << QSslError(QSslError::HostNameMismatch, QSslCertificate(blattDer, QSsl::Der));
    bool selbstSigniert = false;
    for (const QSslError& f : qAsConst(qtFehler)) {
        d->m_tlsTexte << f.errorString();
        d->m_tlsNamen << TlsEinstellungen::fehlerName(f.error());
        selbstSigniert = selbstSigniert || f.error() == QSslError::SelfSignedCertificate;
    }
    if (qtFehler.isEmpty() || (selbstSigniert && d->m_testmodus)) {
        d->m_tlsEntschuldigt = !qtFehler.isEmpty();
        X509_STORE_CTX_set_error(kontext, X509_V_OK);
        return 1;
    }
    X509_STORE_CTX_set_error(kontext, fehler.isEmpty() ? X509_V_ERR_CERT_REJECTED : fehler.constFirst().first);
    return 0;
}
