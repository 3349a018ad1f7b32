#pragma once
// The trust test of every file the manager relies on: a file counts as the
// publisher's when its MD5 is on the built-in list or when its signature
// companion holds a valid RSASSA-PSS/SHA-1 signature (salt 20 bytes) made with
// the publisher's key. Key and list are build inputs, embedded as resources.

#include <QByteArray>
#include <QString>
#include <exception>

// Carries a failure inside the signature check; never leaves Crypto::isFileValid.
class CryptoException : public std::exception
{
public:
    // 2 the public key cannot be loaded, 3 a resource cannot be opened,
    // 4 the signature verification failed.
    CryptoException(int code, const QString& meldung);

    int gibCode() const { return mi_Code; }
    QString gibMeldung() const { return ms_Meldung; }
    const char* what() const noexcept override { return m_Utf8.constData(); }

private:
    int mi_Code;
    QString ms_Meldung;
    QByteArray m_Utf8;
};

class Crypto
{
public:
    // Where the built-in key and list live.
    static const char* const SCHLUESSEL_RESSOURCE; // ":/key/keypublic.pem"
    static const char* const MD5_RESSOURCE;        // ":/md5/md5.json"

    // The single test: built-in list first, then the signature companion.
    // Never throws; every failure is one logged error and false. The file is
    // read in chunks; a file that cannot be read is never valid.
    static bool isFileValid(const QString& pfad);

    // The whole file; empty bytes and a logged error when it cannot be read.
    static QByteArray readFile(const QString& pfad);

    // Lower-case hexadecimal MD5 of the whole file, read in chunks so that
    // memory stays small for installers of any size. "0" for an empty file,
    // "-1" when it cannot be opened: neither ever equals a real digest.
    static QString md5Pruefsumme(const QString& pfad);

    // The built-in list check. Throws CryptoException(3) when the list
    // resource cannot be opened (isFileValid catches it); callers outside
    // isFileValid must catch it themselves.
    static bool pruefeMd5Liste(const QString& pfad);

    // F + ".sig", or F + "_v2.sig" for names beginning with "userredirect" or
    // "qsredirect".
    static QString signaturPfad(const QString& pfad);

    // The verification itself, for a key given as PEM text (the publishing
    // tool checks against a key file with it). Never throws; on false,
    // *fehler (when given) holds the reason.
    static bool pruefeSignatur(const QByteArray& daten, const QByteArray& signatur,
                               const QByteArray& schluesselPem, QString* fehler = nullptr);

    // Test seam: read the key and the list from other places (file paths or
    // resources). Empty strings restore the built-in resources.
    static void setzeQuellen(const QString& schluessel, const QString& md5Liste);
};
