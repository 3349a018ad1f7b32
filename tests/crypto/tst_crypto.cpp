// Signature and checksum checks against keys and signatures made at run time
// by openssl and by the publishing tool.

#include <QtTest>

#include "global/crypto/crypto.h"
#include "tests/crypto/kryptotesthilfe.h"

using namespace KryptoTest;

class TstCrypto : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init() { m_paar.aktiviere(); }

    void signatur_data();
    void signatur();
    void werkzeugSignaturBestehtOpenssl();
    void eingebauterSchluessel();
    void md5Pruefsumme();

private:
    QTemporaryDir m_dir;
    Schluesselpaar m_paar;
    QString m_opensslPrivat;
    QString m_opensslOeffentlich;
};

void TstCrypto::initTestCase()
{
    QVERIFY(m_dir.isValid());
    initLogBase(QStringLiteral("tst_crypto"), 1 << 30, m_dir.path() + QStringLiteral("/log"));
    QVERIFY(m_paar.erzeuge(m_dir.path() + QStringLiteral("/paar")));
    // A key of openssl's own making, with a public half that the engine reads.
    m_opensslPrivat = m_dir.path() + QStringLiteral("/openssl.pem");
    m_opensslOeffentlich = m_dir.path() + QStringLiteral("/openssl_pub.pem");
    QCOMPARE(openssl({ "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", m_opensslPrivat }).code, 0);
    QCOMPARE(openssl({ "pkey", "-in", m_opensslPrivat, "-pubout", "-out", m_opensslOeffentlich }).code, 0);
}

void TstCrypto::cleanupTestCase()
{
    Crypto::setzeQuellen(QString(), QString());
    beendeLogBase();
}

enum Art {
    OPENSSL_SALZ20,
    OPENSSL_OHNE_SALZ,
    WERKZEUG,
    SIGNATUR_BYTE_GEAENDERT,
    SIGNATUR_ABGESCHNITTEN,
    FALSCHER_BEGLEITER, // ".sig" where "_v2.sig" belongs
    DATEI_FEHLT,        // the companion signs empty content
    SCHLUESSEL_FEHLT,
    SCHLUESSEL_KAPUTT,  // PEM armour around broken Base64
    // Listed in the MD5 list, with a broken companion: the list is asked first.
    MD5_GELISTET,
    MD5_GROSS,          // the listed digest in upper case
    MD5_LEER_GELISTET,  // file missing, the digest of empty content listed
    // Files larger than one read chunk: a check that reads only the first passes the change.
    GROSS,
    GROSS_ENDE_GEAENDERT,
    SCHLUESSEL_UNGUELTIG, // well-formed PEM and DER, an RSA key with an even modulus
    SIGNATUR_RIESIG,      // a companion far above any signature's size
};

void TstCrypto::signatur_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("art");
    QTest::addColumn<bool>("gueltig");
    QTest::addColumn<QString>("logText");

    const QString fehler = QStringLiteral("Fehler bei der Validierung der Datei '");
    QTest::newRow("openssl mit Salzlaenge 20") << "est_20.dict" << int(OPENSSL_SALZ20) << true << QString();
    QTest::newRow("openssl mit groesstem Salz") << "est_20.dict" << int(OPENSSL_OHNE_SALZ) << false << fehler;
    QTest::newRow("Werkzeug") << "est_20.dict" << int(WERKZEUG) << true << QString();
    QTest::newRow("Signatur ein Byte geaendert") << "est_20.dict" << int(SIGNATUR_BYTE_GEAENDERT) << false << fehler;
    QTest::newRow("Signatur abgeschnitten") << "est_20.dict" << int(SIGNATUR_ABGESCHNITTEN) << false
                                            << QStringLiteral("signature has 255 bytes instead of 256");
    QTest::newRow("Datei fehlt, Signatur ueber leeren Inhalt")
        << "leer.dict" << int(DATEI_FEHLT) << false << QStringLiteral("file cannot be read");
    QTest::newRow("Schluessel fehlt") << "est_20.dict" << int(SCHLUESSEL_FEHLT) << false
                                      << QStringLiteral(" could not be openend!");
    QTest::newRow("Schluessel mit kaputtem Base64") << "est_20.dict" << int(SCHLUESSEL_KAPUTT) << false
                                                    << QStringLiteral("Could not load public key");
    QTest::newRow("userredirect mit _v2.sig") << "userredirect" << int(WERKZEUG) << true << QString();
    QTest::newRow("userredirect nur mit .sig") << "userredirect" << int(FALSCHER_BEGLEITER) << false << fehler;
    QTest::newRow("gelistet mit falscher Signatur") << "kora_0.dict" << int(MD5_GELISTET) << true << QString();
    QTest::newRow("Grossbuchstaben in der Liste") << "kora_0.dict" << int(MD5_GROSS) << false << fehler;
    QTest::newRow("fehlende Datei, leerer Inhalt gelistet") << "kora_0.dict" << int(MD5_LEER_GELISTET) << false
                                                            << QStringLiteral("file cannot be read");
    QTest::newRow("groesser als ein Lesepuffer") << "est_20.dict" << int(GROSS) << true << QString();
    QTest::newRow("groesser als ein Lesepuffer, Ende geaendert") << "est_20.dict" << int(GROSS_ENDE_GEAENDERT) << false
                                                                 << fehler;
    QTest::newRow("Schluessel wohlgeformt, aber ungueltig") << "est_20.dict" << int(SCHLUESSEL_UNGUELTIG) << false
                                                            << QStringLiteral("Could not load public key");
    QTest::newRow("Signatur riesig") << "est_20.dict" << int(SIGNATUR_RIESIG) << false
                                     << QStringLiteral("signature has 65537 bytes");
}

void TstCrypto::signatur()
{
    QFETCH(QString, name);
    QFETCH(int, art);
    QFETCH(bool, gueltig);
    QFETCH(QString, logText);

    QTemporaryDir dir;
    const QString datei = dir.path() + QLatin1Char('/') + name;
    QByteArray inhalt = art == DATEI_FEHLT ? QByteArray() : QByteArray("https://127.0.0.1/x\n");
    if (art == GROSS || art == GROSS_ENDE_GEAENDERT)
        inhalt = inhalt.repeated(3 * 1024 * 1024 / inhalt.size() + 7);
    schreibe(datei, inhalt);
    const QString sig = Crypto::signaturPfad(datei);
    QCOMPARE(sig.endsWith(QLatin1String("_v2.sig")), name == QLatin1String("userredirect"));

    if (art == OPENSSL_SALZ20 || art == OPENSSL_OHNE_SALZ) {
        QCOMPARE(openssl(opensslPss(art == OPENSSL_SALZ20) << "-sign" << m_opensslPrivat << "-out" << sig << datei).code, 0);
        Crypto::setzeQuellen(m_opensslOeffentlich, m_paar.md5Liste);
    } else {
        QCOMPARE(werkzeug({ "signiere", "--schluessel", m_paar.privat, datei }).code, 0);
    }
    QByteArray s = lese(sig);
    if (art == FALSCHER_BEGLEITER) {
        QVERIFY(QFile::rename(sig, datei + QStringLiteral(".sig")));
    } else if (art == SIGNATUR_BYTE_GEAENDERT) {
        s[100] = char(s.at(100) ^ 0x01);
        schreibe(sig, s);
    } else if (art == SIGNATUR_ABGESCHNITTEN) {
        schreibe(sig, s.left(s.size() - 1));
    } else if (art == GROSS_ENDE_GEAENDERT) {
        inhalt[inhalt.size() - 2] = 'y';
        schreibe(datei, inhalt);
    } else if (art == SIGNATUR_RIESIG) {
        schreibe(sig, s + QByteArray(64 * 1024 + 1 - s.size(), 'S'));
    } else if (art == SCHLUESSEL_UNGUELTIG) {
        // The modulus ends just before the exponent 65537 (02 03 01 00 01).
        const QByteArray pem = lese(m_paar.oeffentlich);
        const QList<QByteArray> zeilen = pem.trimmed().split('\n');
        QByteArray der = QByteArray::fromBase64(zeilen.mid(1, zeilen.size() - 2).join());
        QVERIFY(der.endsWith(QByteArray::fromHex("0203010001")));
        der[der.size() - 6] = char(der.at(der.size() - 6) & 0xfe);
        const QString datei = dir.path() + QStringLiteral("/gerade.pem");
        schreibe(datei, "-----BEGIN PUBLIC KEY-----\n" + der.toBase64() + "\n-----END PUBLIC KEY-----\n");
        Crypto::setzeQuellen(datei, m_paar.md5Liste);
    } else if (art == DATEI_FEHLT) {
        QVERIFY(QFile::remove(datei));
    } else if (art == SCHLUESSEL_FEHLT || art == SCHLUESSEL_KAPUTT) {
        const QString pem = dir.path() + QStringLiteral("/schluessel.pem");
        if (art == SCHLUESSEL_KAPUTT)
            schreibe(pem, "-----BEGIN PUBLIC KEY-----\nMIIB!!!!\n-----END PUBLIC KEY-----\n");
        Crypto::setzeQuellen(pem, m_paar.md5Liste);
    } else if (art >= MD5_GELISTET) {
        s[0] = char(s.at(0) ^ 0xff);
        schreibe(sig, s);
        QString summe = md5(art == MD5_LEER_GELISTET ? QByteArray() : lese(datei));
        if (art == MD5_GROSS)
            summe = summe.toUpper();
        if (art == MD5_LEER_GELISTET)
            QVERIFY(QFile::remove(datei));
        const QString liste = dir.path() + QStringLiteral("/liste.json");
        schreibe(liste, QStringLiteral("{\"data\": {\"%1\": [\"%2\", \"%3\"]}}").arg(name, md5("noch etwas"), summe).toUtf8());
        Crypto::setzeQuellen(m_paar.oeffentlich, liste);
    }

    LogAusschnitt log;
    QCOMPARE(Crypto::isFileValid(datei), gueltig);
    if (gueltig)
        QVERIFY2(!log.text().contains(QLatin1String("ERROR")), qPrintable(log.text()));
    else
        QVERIFY2(log.text().contains(logText), qPrintable(log.text()));
}

void TstCrypto::werkzeugSignaturBestehtOpenssl()
{
    QTemporaryDir dir;
    const QString datei = dir.path() + QStringLiteral("/index_fplugin.zip");
    schreibe(datei, QByteArray(5000, 'z'));
    QCOMPARE(werkzeug({ "signiere", "--schluessel", m_paar.privat, datei }).code, 0);
    QCOMPARE(lese(datei + QStringLiteral(".sig")).size(), 256);
    const Lauf ok = openssl(opensslPss(true) << "-verify" << m_paar.oeffentlich << "-signature"
                                             << datei + QStringLiteral(".sig") << datei);
    QCOMPARE(ok.code, 0);
    QVERIFY(ok.aus.contains(QLatin1String("Verified OK")));
}

void TstCrypto::eingebauterSchluessel()
{
    const QString privat = QStringLiteral(IV_ENTWICKLUNGSSCHLUESSEL);
    if (privat.isEmpty())
        QSKIP("built with FISCALON_PUBLIC_KEY: no development key to sign with");
    Crypto::setzeQuellen(QString(), QString());
    QTemporaryDir dir;
    const QString datei = dir.path() + QStringLiteral("/inhalt_techplugin.zip");
    schreibe(datei, "PK");
    QVERIFY(!Crypto::isFileValid(datei));
    QCOMPARE(werkzeug({ "signiere", "--schluessel", privat, datei }).code, 0);
    QVERIFY(Crypto::isFileValid(datei));
    QVERIFY(!Crypto::pruefeMd5Liste(datei));
}

void TstCrypto::md5Pruefsumme()
{
    QTemporaryDir dir;
    const QString datei = dir.path() + QStringLiteral("/datei.bin");
    QCOMPARE(Crypto::md5Pruefsumme(datei), QStringLiteral("-1"));
    schreibe(datei, QByteArray());
    QCOMPARE(Crypto::md5Pruefsumme(datei), QStringLiteral("0"));
    const QByteArray gross(3 * (1 << 20) + 7, 'g'); // more than one read buffer
    schreibe(datei, gross);
    QCOMPARE(Crypto::md5Pruefsumme(datei), md5(gross));
}

QTEST_GUILESS_MAIN(TstCrypto)
#include "tst_crypto.moc"
