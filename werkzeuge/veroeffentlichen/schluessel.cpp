#include "werkzeuge/veroeffentlichen/schluessel.h"

#include <QFile>
#include <QSaveFile>

#include <crypto++/osrng.h>
#include <crypto++/pssr.h>
#include <crypto++/queue.h>
#include <crypto++/rsa.h>
#include <crypto++/sha.h>

#include "global/crypto/crypto.h"

namespace {

QByteArray alsPem(const std::string& der, const char* typ)
{
    const QByteArray b64 = QByteArray(der.data(), static_cast<int>(der.size())).toBase64();
    QByteArray pem = QByteArray("-----BEGIN ") + typ + "-----\n";
    for (int i = 0; i < b64.size(); i += 64)
        pem += b64.mid(i, 64) + '\n';
    pem += QByteArray("-----END ") + typ + "-----\n";
    return pem;
}

bool derAusPem(const QByteArray& pem, const QByteArray& typ, QByteArray& der)
{
    const QByteArray anfang = "-----BEGIN " + typ + "-----";
    const QByteArray ende = "-----END " + typ + "-----";
    const int a = pem.indexOf(anfang);
    const int b = a < 0 ? -1 : pem.indexOf(ende, a);
    if (b < 0)
        return false;
    const QByteArray inhalt = pem.mid(a + anfang.size(), b - a - anfang.size()).simplified().replace(' ', "");
    const auto r = QByteArray::fromBase64Encoding(inhalt, QByteArray::AbortOnBase64DecodingErrors);
    if (!r)
        return false;
    der = *r;
    return !der.isEmpty();
}

bool ladePrivat(const QByteArray& pem, CryptoPP::RSA::PrivateKey& schluessel, QString& fehler)
{
    QByteArray der;
    try {
        if (derAusPem(pem, "PRIVATE KEY", der)) {
            CryptoPP::ArraySource q(reinterpret_cast<const CryptoPP::byte*>(der.constData()), der.size(), true);
            schluessel.BERDecode(q);
        } else if (derAusPem(pem, "RSA PRIVATE KEY", der)) {
            CryptoPP::ArraySource q(reinterpret_cast<const CryptoPP::byte*>(der.constData()), der.size(), true);
            schluessel.BERDecodePrivateKey(q, false, der.size());
        } else {
            fehler = QStringLiteral("kein unverschlüsselter privater RSA-Schlüssel im PEM-Format");
            return false;
        }
        CryptoPP::AutoSeededRandomPool zufall;
        if (!schluessel.Validate(zufall, 2)) {
            fehler = QStringLiteral("der private Schlüssel ist nicht konsistent");
            return false;
        }
    } catch (const CryptoPP::Exception& e) {
        fehler = QStringLiteral("privater Schlüssel nicht lesbar: %1").arg(QString::fromStdString(e.what()));
        return false;
    }
    return true;
}

} // namespace

namespace Schluessel {

bool erzeugePaar(int bits, QByteArray& privatPem, QByteArray& oeffentlichPem, QString& fehler)
{
    try {
        CryptoPP::AutoSeededRandomPool zufall;
        CryptoPP::InvertibleRSAFunction privat;
        privat.Initialize(zufall, static_cast<unsigned int>(bits), CryptoPP::Integer(65537));
        CryptoPP::RSAFunction oeffentlich(privat);
        std::string derPrivat, derOeffentlich;
        CryptoPP::StringSink sp(derPrivat);
        privat.DEREncode(sp);
        CryptoPP::StringSink so(derOeffentlich);
        oeffentlich.DEREncode(so);
        privatPem = alsPem(derPrivat, "PRIVATE KEY");
        oeffentlichPem = alsPem(derOeffentlich, "PUBLIC KEY");
    } catch (const CryptoPP::Exception& e) {
        fehler = QString::fromStdString(e.what());
        return false;
    }
    return true;
}

bool signiere(const QByteArray& daten, const QByteArray& privatPem, QByteArray& signatur, QString& fehler)
{
    CryptoPP::RSA::PrivateKey schluessel;
    if (!ladePrivat(privatPem, schluessel, fehler))
        return false;
    try {
        CryptoPP::AutoSeededRandomPool zufall;
        CryptoPP::RSASS<CryptoPP::PSS, CryptoPP::SHA1>::Signer signierer(schluessel);
        std::string sig(signierer.MaxSignatureLength(), '\0');
        const size_t n = signierer.SignMessage(zufall, reinterpret_cast<const CryptoPP::byte*>(daten.constData()),
                                               static_cast<size_t>(daten.size()),
                                               reinterpret_cast<CryptoPP::byte*>(&sig[0]));
        signatur = QByteArray(sig.data(), static_cast<int>(n));
    } catch (const CryptoPP::Exception& e) {
        fehler = QString::fromStdString(e.what());
        return false;
    }
    return true;
}

bool oeffentlichAusPrivat(const QByteArray& privatPem, QByteArray& oeffentlichPem, QString& fehler)
{
    CryptoPP::RSA::PrivateKey schluessel;
    if (!ladePrivat(privatPem, schluessel, fehler))
        return false;
    try {
        const CryptoPP::RSA::PublicKey oeffentlich(schluessel);
        std::string der;
        CryptoPP::StringSink senke(der);
        oeffentlich.DEREncode(senke);
        oeffentlichPem = alsPem(der, "PUBLIC KEY");
    } catch (const CryptoPP::Exception& e) {
        fehler = QString::fromStdString(e.what());
        return false;
    }
    return true;
}

bool schreibeDatei(const QString& pfad, const QByteArray& inhalt, bool privat, QString& fehler)
{
    QSaveFile f(pfad);
    if (!f.open(QIODevice::WriteOnly)) {
        fehler = QStringLiteral("%1 kann nicht geschrieben werden: %2").arg(pfad, f.errorString());
        return false;
    }
    if (privat)
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (f.write(inhalt) != inhalt.size() || !f.commit()) {
        fehler = QStringLiteral("%1 kann nicht geschrieben werden: %2").arg(pfad, f.errorString());
        return false;
    }
    return true;
}

bool signiereDatei(const QString& pfad, const QByteArray& privatPem, QString& signaturPfad, QString& fehler)
{
    QFile f(pfad);
    if (!f.open(QIODevice::ReadOnly)) {
        fehler = QStringLiteral("%1 kann nicht gelesen werden: %2").arg(pfad, f.errorString());
        return false;
    }
    QByteArray signatur;
    if (!signiere(f.readAll(), privatPem, signatur, fehler))
        return false;
    signaturPfad = Crypto::signaturPfad(pfad);
    return schreibeDatei(signaturPfad, signatur, false, fehler);
}

} // namespace Schluessel
