#include "global/crypto/crypto.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QMutexLocker>

#include <crypto++/osrng.h>
#include <crypto++/pssr.h>
#include <crypto++/rsa.h>
#include <crypto++/sha.h>

#include <memory>
#include <openssl/evp.h>

#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/textausliteral.h"

// The key and the list are compiled into the engine library. A static
// library drops unreferenced resource objects at link time, so the
// registration is pulled in explicitly.
static void initKryptoRessourcen()
{
    Q_INIT_RESOURCE(kryptoressourcen);
}

namespace {

struct Quellen
{
    QString schluessel;
    QString md5Liste;
};

QMutex& quellenSperre()
{
    static QMutex sperre;
    return sperre;
}

Quellen& quellenRoh()
{
    static Quellen q;
    return q;
}

Quellen gibQuellen()
{
    static const bool registriert = [] {
        initKryptoRessourcen();
        return true;
    }();
    Q_UNUSED(registriert);
    QMutexLocker l(&quellenSperre());
    Quellen q = quellenRoh();
    if (q.schluessel.isEmpty())
        q.schluessel = QString::fromLatin1(Crypto::SCHLUESSEL_RESSOURCE);
    if (q.md5Liste.isEmpty())
        q.md5Liste = QString::fromLatin1(Crypto::MD5_RESSOURCE);
    return q;
}

// PEM has no reader in Crypto++: take the Base64 between the armour lines.
QByteArray pemZuDer(const QByteArray& pem, const QByteArray& typ)
{
    const QByteArray anfang = "-----BEGIN " + typ + "-----";
    const QByteArray ende = "-----END " + typ + "-----";
    const int a = pem.indexOf(anfang);
    if (a < 0)
        return QByteArray();
    const int b = pem.indexOf(ende, a + anfang.size());
    if (b < 0)
        return QByteArray();
    QByteArray inhalt = pem.mid(a + anfang.size(), b - a - anfang.size());
    inhalt = inhalt.simplified().replace(' ', QByteArray());
    const auto ergebnis =
        QByteArray::fromBase64Encoding(inhalt, QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!ergebnis)
        return QByteArray();
    return *ergebnis;
}

// Decoding and validating the key costs more than checking a small file,
// and an update check verifies one dictionary per installed module: the last
// valid key is kept.
CryptoPP::RSA::PublicKey ladeSchluessel(const QByteArray& pem)
{
    static QMutex sperre;
    static QByteArray letztesPem;
    static CryptoPP::RSA::PublicKey letzter;
    {
        QMutexLocker l(&sperre);
        if (!letztesPem.isEmpty() && pem == letztesPem)
            return letzter;
    }
    const QByteArray der = pemZuDer(pem, "PUBLIC KEY");
    if (der.isEmpty())
        throw CryptoException(2, QStringLiteral("Could not load public key"));
    CryptoPP::RSA::PublicKey schluessel;
    try {
        CryptoPP::ArraySource quelle(reinterpret_cast<const CryptoPP::byte*>(der.constData()), der.size(), true);
        schluessel.BERDecode(quelle);
        CryptoPP::AutoSeededRandomPool zufall;
        if (!schluessel.Validate(zufall, 2))
            throw CryptoException(2, QStringLiteral("Could not load public key"));
    } catch (const CryptoPP::Exception&) {
        throw CryptoException(2, QStringLiteral("Could not load public key"));
    }
    QMutexLocker l(&sperre);
    letztesPem = pem;
    letzter = schluessel;
    return schluessel;
}

using Verifizierer = CryptoPP::RSASS<CryptoPP::PSS, CryptoPP::SHA1>::Verifier;

// Reading in chunks keeps memory flat, whatever a file on the server side
// claims to be.
constexpr qint64 PUFFERGROESSE = 1 << 20;
// Small enough that the bytes the kernel just copied are still in the
// processor's cache when the digest reads them.
constexpr qint64 MD5_PUFFER = 64 * 1024;
// Far above any real signature; a larger companion is not even read.
constexpr qint64 MAX_SIGNATURGROESSE = 64 * 1024;

// Throws CryptoException(4) unless the signature holds for the whole content
// of `nachricht`.
void verifiziere(QIODevice& nachricht, const QByteArray& signatur, const CryptoPP::RSA::PublicKey& schluessel)
{
    Verifizierer verifizierer(schluessel);
    if (static_cast<size_t>(signatur.size()) != verifizierer.SignatureLength())
        throw CryptoException(4, QStringLiteral("signature has %1 bytes instead of %2")
                                     .arg(signatur.size())
                                     .arg(verifizierer.SignatureLength()));
    try {
        std::unique_ptr<CryptoPP::PK_MessageAccumulator> sammler(verifizierer.NewVerificationAccumulator());
        verifizierer.InputSignature(*sammler, reinterpret_cast<const CryptoPP::byte*>(signatur.constData()),
                                    static_cast<size_t>(signatur.size()));
        std::unique_ptr<char[]> puffer(new char[PUFFERGROESSE]);
        for (;;) {
            const qint64 n = nachricht.read(puffer.get(), PUFFERGROESSE);
            if (n < 0)
                throw CryptoException(4, nachricht.errorString());
            if (n == 0)
                break;
            sammler->Update(reinterpret_cast<const CryptoPP::byte*>(puffer.get()), static_cast<size_t>(n));
        }
        if (!verifizierer.VerifyAndRestart(*sammler))
            throw CryptoException(4, QStringLiteral("VerifierFilter: digital signature not valid"));
    } catch (const CryptoPP::Exception& e) {
        throw CryptoException(4, QString::fromStdString(e.what()));
    }
}

// The same message as Crypto::readFile for a file that cannot be opened.
void logLesefehler(const QFile& f)
{
    IV_LOG_ERROR(textAusLiteral("Die Datei '%1' konnte nicht zum Lesen ge&ouml;ffnet werden: %2")
                     .arg(f.fileName(), f.errorString()));
}

// MD5 is no longer a security hash, but it is the format of our file lists.
// The real digest (also of an empty file); false on a read error. OpenSSL's
// MD5 rather than Crypto++'s: its assembler runs about a fifth faster, which
// a checksum over a gigabyte-sized installer shows.
bool md5Hex(QFile& f, QString& hex)
{
    std::unique_ptr<char[]> puffer(new char[MD5_PUFFER]);
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> md5(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!md5 || EVP_DigestInit_ex(md5.get(), EVP_md5(), nullptr) != 1)
        return false;
    for (;;) {
        const qint64 n = f.read(puffer.get(), MD5_PUFFER);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        if (EVP_DigestUpdate(md5.get(), puffer.get(), static_cast<size_t>(n)) != 1)
            return false;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int laenge = 0;
    if (EVP_DigestFinal_ex(md5.get(), digest, &laenge) != 1)
        return false;
    hex = QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest), int(laenge)).toHex());
    return true;
}

QByteArray leseRessource(const QString& pfad)
{
    QFile f(pfad);
    if (!f.open(QIODevice::ReadOnly))
        throw CryptoException(3, pfad + QStringLiteral(" could not be openend!"));
    return f.readAll();
}

} // namespace

const char* const Crypto::SCHLUESSEL_RESSOURCE = ":/key/keypublic.pem";
const char* const Crypto::MD5_RESSOURCE = ":/md5/md5.json";

CryptoException::CryptoException(int code, const QString& meldung)
    : mi_Code(code)
    , ms_Meldung(meldung)
    , m_Utf8(meldung.toUtf8())
{
}

void Crypto::setzeQuellen(const QString& schluessel, const QString& md5Liste)
{
    QMutexLocker l(&quellenSperre());
    quellenRoh() = { schluessel, md5Liste };
}

QString Crypto::signaturPfad(const QString& pfad)
{
    const QString name = QFileInfo(pfad).fileName();
    if (name.startsWith(QLatin1String("userredirect")) || name.startsWith(QLatin1String("qsredirect")))
        return QStringLiteral("%1_v2%2").arg(pfad, QStringLiteral(".sig"));
    return QStringLiteral("%1%2").arg(pfad, QStringLiteral(".sig"));
}

QByteArray Crypto::readFile(const QString& pfad)
{
    QFile f(pfad);
    if (!f.open(QIODevice::ReadOnly)) {
        logLesefehler(f);
        return QByteArray();
    }
    return f.readAll();
}

QString Crypto::md5Pruefsumme(const QString& pfad)
{
    QFile f(pfad);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return QStringLiteral("-1");
    QString hex;
    if (!md5Hex(f, hex))
        return QStringLiteral("-1");
    if (f.pos() == 0)
        return QStringLiteral("0");
    return hex;
}

bool Crypto::pruefeMd5Liste(const QString& pfad)
{
    const QByteArray inhalt = leseRessource(gibQuellen().md5Liste);
    const QJsonDocument doc = QJsonDocument::fromJson(inhalt);
    if (doc.isEmpty() || doc.object().isEmpty())
        return false;
    const QJsonObject data = doc.object().value(QStringLiteral("data")).toObject();
    if (data.isEmpty())
        return false;
    const QString name = QFileInfo(pfad).fileName();
    if (!data.contains(name))
        return false;
    // A file that cannot be read is not the listed one, even when the list
    // happens to hold the digest of empty content.
    QFile f(pfad);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        logLesefehler(f);
        return false;
    }
    QString md5;
    if (!md5Hex(f, md5))
        return false;
    return data.value(name).toArray().contains(QJsonValue(md5));
}

bool Crypto::pruefeSignatur(const QByteArray& daten, const QByteArray& signatur, const QByteArray& schluesselPem,
                            QString* fehler)
{
    try {
        QBuffer nachricht;
        nachricht.setData(daten);
        nachricht.open(QIODevice::ReadOnly);
        verifiziere(nachricht, signatur, ladeSchluessel(schluesselPem));
        return true;
    } catch (const CryptoException& e) {
        if (fehler)
            *fehler = e.gibMeldung();
    } catch (const std::exception& e) {
        if (fehler)
            *fehler = QString::fromLocal8Bit(e.what());
    }
    return false;
}

bool Crypto::isFileValid(const QString& pfad)
{
    try {
        if (pruefeMd5Liste(pfad))
            return true;
        const QString sigPfad = signaturPfad(pfad);
        const QFileInfo sigInfo(sigPfad);
        if (sigInfo.isFile() && sigInfo.size() > MAX_SIGNATURGROESSE)
            throw CryptoException(4, QStringLiteral("signature has %1 bytes").arg(sigInfo.size()));
        const QByteArray signatur = readFile(sigPfad);
        QFile datei(pfad);
        // A file that cannot be read is never valid, not even when its
        // companion signs empty content.
        if (!datei.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
            logLesefehler(datei);
            throw CryptoException(4, QStringLiteral("file cannot be read"));
        }
        const QByteArray pem = leseRessource(gibQuellen().schluessel);
        verifiziere(datei, signatur, ladeSchluessel(pem));
        return true;
    } catch (const CryptoException& e) {
        IV_LOG_ERROR(QStringLiteral("Fehler bei der Validierung der Datei '%1': %2").arg(pfad, e.gibMeldung()));
    } catch (const std::exception& e) {
        // Nothing may leave the check, not even an allocation failure.
        IV_LOG_ERROR(QStringLiteral("Fehler bei der Validierung der Datei '%1': %2")
                         .arg(pfad, QString::fromLocal8Bit(e.what())));
    }
    return false;
}
