#include "global/downloadManager/tlseinstellungen.h"

#include "global/varnelApplication/logbase.h"

#include <QCryptographicHash>
#include <QSslCertificate>
#include <QSslCipher>
#include <QSslConfiguration>

namespace TlsEinstellungen {

void installiereStandard()
{
    QSslConfiguration konfiguration = QSslConfiguration::defaultConfiguration();
    QList<QSslCipher> chiffren;
    for (const char* name : { "ECDHE-ECDSA-AES256-GCM-SHA384", "ECDHE-ECDSA-AES128-GCM-SHA256",
                              "ECDHE-RSA-AES256-GCM-SHA384", "ECDHE-RSA-AES128-GCM-SHA256" }) {
        const QSslCipher chiffre(QString::fromLatin1(name), QSsl::TlsV1_2);
        if (!chiffre.isNull())
            chiffren << chiffre;
        else
            IV_LOG_ERROR(QStringLiteral("Die Verschl\u00fcsselung %1 wird von der TLS-Bibliothek nicht angeboten.")
                             .arg(QString::fromLatin1(name)));
    }
    konfiguration.setCiphers(chiffren);
    konfiguration.setProtocol(QSsl::TlsV1_2);
    QSslConfiguration::setDefaultConfiguration(konfiguration);
}

QString fehlerName(QSslError::SslError fehler)
{
    static const char* const namen[] = {
        "NoError", "UnableToGetIssuerCertificate", "UnableToDecryptCertificateSignature",
        "UnableToDecodeIssuerPublicKey", "CertificateSignatureFailed", "CertificateNotYetValid", "CertificateExpired",
        "InvalidNotBeforeField", "InvalidNotAfterField", "SelfSignedCertificate", "SelfSignedCertificateInChain",
        "UnableToGetLocalIssuerCertificate", "UnableToVerifyFirstCertificate", "CertificateRevoked",
        "InvalidCaCertificate", "PathLengthExceeded", "InvalidPurpose", "CertificateUntrusted", "CertificateRejected",
        "SubjectIssuerMismatch", "AuthorityIssuerSerialNumberMismatch", "NoPeerCertificate", "HostNameMismatch",
        "NoSslSupport", "CertificateBlacklisted",
    };
    const int wert = int(fehler);
    if (wert == int(QSslError::UnspecifiedError))
        return QStringLiteral("QSslError::UnspecifiedError");
    if (wert < 0 || wert >= int(sizeof(namen) / sizeof(namen[0])))
        return QString();
    return QStringLiteral("QSslError::") + QString::fromLatin1(namen[wert]);
}

void protokolliereVerbindung(const QString& chiffre, const QString& protokoll, const QByteArray& zertifikatDer)
{
    if (!gp_Log || !gp_Log->istDebugAktiv() || zertifikatDer.isEmpty())
        return;
    IV_LOG_DEBUG(QStringLiteral("Cipher: ") + chiffre);
    IV_LOG_DEBUG(QStringLiteral("Protocol: ") + QString(protokoll).replace(QLatin1String("TLSv"), QLatin1String("TlsV")));
    const QSslCertificate zert(zertifikatDer, QSsl::Der);
    if (zert.isNull())
        return;
    auto eintraege = [](const QStringList& l) { return l.join(QStringLiteral(", ")); };
    IV_LOG_DEBUG(QStringLiteral("Die Daten werden verschluesselt uebertragen."));
    IV_LOG_DEBUG(QStringLiteral("Daten des Zertifikats: "));
    IV_LOG_DEBUG(QStringLiteral("Issuer:Organization: ") + eintraege(zert.issuerInfo(QSslCertificate::Organization)));
    IV_LOG_DEBUG(QStringLiteral("Issuer:CommonName: ") + eintraege(zert.issuerInfo(QSslCertificate::CommonName)));
    IV_LOG_DEBUG(QStringLiteral("Issuer:OrganizationalUnitName: ") + eintraege(zert.issuerInfo(QSslCertificate::OrganizationalUnitName)));
    IV_LOG_DEBUG(QStringLiteral("Issuer:CountryName: ") + eintraege(zert.issuerInfo(QSslCertificate::CountryName)));
    IV_LOG_DEBUG(QStringLiteral("Subject:Organization: ") + eintraege(zert.subjectInfo(QSslCertificate::Organization)));
    IV_LOG_DEBUG(QStringLiteral("Subject:CommonName: ") + eintraege(zert.subjectInfo(QSslCertificate::CommonName)));
    IV_LOG_DEBUG(QStringLiteral("Subject:CountryName: ") + eintraege(zert.subjectInfo(QSslCertificate::CountryName)));
    const QByteArray md5 = zert.digest(QCryptographicHash::Md5).toHex().toUpper();
    QStringList paare;
    for (int i = 0; i + 1 < md5.size(); i += 2)
        paare << QString::fromLatin1(md5.mid(i, 2));
    IV_LOG_DEBUG(QStringLiteral("Fingerprint: %1").arg(paare.join(QLatin1Char(':'))));
}

} // namespace TlsEinstellungen
