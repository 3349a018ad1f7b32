#include "global/crypto/crypto.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QMutexLocker>

// MD5 is no longer a security hash, but it is the format of our file lists.
#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <crypto++/md5.h>
#include <crypto++/osrng.h>
#include <crypto++/pssr.h>
#include <crypto++/rsa.h>
#include <crypto++/sha.h>

#include <memory>

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

CryptoPP::RSA::PublicKey ladeSchluessel(const QByteArray& pem)
{
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
    return schluessel;
}

// Throws CryptoException(4) when the signature does not hold.
bool verifiziere(const QByteArray& daten, const QByteArray& signatur, const CryptoPP::RSA::PublicKey& schluessel)
{
    using Verifizierer = CryptoPP::RSASS<CryptoPP::PSS, CryptoPP::SHA1>::Verifier;
    Verifizierer verifizierer(schluessel);
    // The filter takes the last SignatureLength() bytes as the signature; a
    // companion of another length would shift bytes between message and
    // signature, so it is refused before.
    if (static_cast<size_t>(signatur.size()) != verifizierer.SignatureLength())
        throw CryptoException(4, QStringLiteral("signature has %1 bytes instead of %2")
                                     .arg(signatur.size())
                                     .arg(verifizierer.SignatureLength()));
    std::string durchgereicht;
    try {
        auto* ziel = new CryptoPP::StringSink(durchgereicht);
        auto* filter = new CryptoPP::SignatureVerificationFilter(
            verifizierer, ziel,
            CryptoPP::SignatureVerificationFilter::SIGNATURE_AT_END | CryptoPP::SignatureVerificationFilter::PUT_MESSAGE
                | CryptoPP::SignatureVerificationFilter::THROW_EXCEPTION);
        CryptoPP::StringSource quelle(std::string(daten.constData(), daten.size())
                                          + std::string(signatur.constData(), signatur.size()),
                                      true, filter);
    } catch (const CryptoPP::Exception& e) {
        throw CryptoException(4, QString::fromStdString(e.what()));
    }
    return durchgereicht.size() == static_cast<size_t>(daten.size())
           && std::equal(durchgereicht.begin(), durchgereicht.end(), daten.constData());
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
        IV_LOG_ERROR(textAusLiteral("Die Datei '%1' konnte nicht zum Lesen ge&ouml;ffnet werden: %2")
                         .arg(pfad, f.errorString()));
        return QByteArray();
    }
    return f.readAll();
}

QString Crypto::md5Pruefsumme(const QString& pfad)
{
    QFile f(pfad);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return QStringLiteral("-1");
    // Large chunks keep the system calls few; the buffer is all the memory
    // this needs, whatever the file size.
    constexpr qint64 puffergroesse = 1 << 20;
    std::unique_ptr<char[]> puffer(new char[puffergroesse]);
    CryptoPP::Weak::MD5 md5;
    qint64 gesamt = 0;
    for (;;) {
        const qint64 n = f.read(puffer.get(), puffergroesse);
        if (n < 0)
            return QStringLiteral("-1");
        if (n == 0)
            break;
        md5.Update(reinterpret_cast<const CryptoPP::byte*>(puffer.get()), static_cast<size_t>(n));
        gesamt += n;
    }
    if (gesamt == 0)
        return QStringLiteral("0");
    CryptoPP::byte digest[CryptoPP::Weak::MD5::DIGESTSIZE];
    md5.Final(digest);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest), sizeof digest).toHex());
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
    const QByteArray bytes = readFile(pfad);
    const QString md5 = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
    return data.value(name).toArray().contains(QJsonValue(md5));
}

bool Crypto::pruefeSignatur(const QByteArray& daten, const QByteArray& signatur, const QByteArray& schluesselPem,
                            QString* fehler)
{
    try {
        if (verifiziere(daten, signatur, ladeSchluessel(schluesselPem)))
            return true;
        if (fehler)
            *fehler = QStringLiteral("message differs from the file");
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
        const QByteArray signatur = readFile(signaturPfad(pfad));
        const QByteArray daten = readFile(pfad);
        const QByteArray pem = leseRessource(gibQuellen().schluessel);
        if (verifiziere(daten, signatur, ladeSchluessel(pem)))
            return true;
        IV_LOG_ERROR(QStringLiteral("Fehler bei der Validierung der Datei '%1': %2")
                         .arg(pfad, QStringLiteral("message differs from the file")));
        return false;
    } catch (const CryptoException& e) {
        IV_LOG_ERROR(QStringLiteral("Fehler bei der Validierung der Datei '%1': %2").arg(pfad, e.gibMeldung()));
    } catch (const std::exception& e) {
        // Nothing may leave the check, not even an allocation failure.
        IV_LOG_ERROR(QStringLiteral("Fehler bei der Validierung der Datei '%1': %2")
                         .arg(pfad, QString::fromLocal8Bit(e.what())));
    }
    return false;
}
