// Signature and checksum checks against keys and signatures made at run time
// by openssl and by the publishing tool.

#include <QtTest>

#include "global/crypto/crypto.h"
#include "tests/crypto/kryptotesthilfe.h"
#include "testhilfe/testumgebung.h"

using namespace KryptoTest;

class TstCrypto : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void signatur_data();
    void signatur();
    void werkzeugSignaturBestehtOpenssl();
    void schluesselFehlt_data();
    void schluesselFehlt();
    void md5ListeVorSignatur_data();
    void md5ListeVorSignatur();
    void eingebauterSchluessel();
    void md5Pruefsumme_data();
    void md5Pruefsumme();

private:
    QTemporaryDir m_dir;
    Schluesselpaar m_paar;
    Schluesselpaar m_anderes;
    QString m_opensslPrivat;
    QString m_opensslOeffentlich;
};

void TstCrypto::initTestCase()
{
    QVERIFY(m_dir.isValid());
    initLogBase(QStringLiteral("tst_crypto"), 1 << 30, m_dir.path() + QStringLiteral("/log"));
    QVERIFY(gp_Log);
    QVERIFY(m_paar.erzeuge(m_dir.path() + QStringLiteral("/paar")));
    QVERIFY(m_anderes.erzeuge(m_dir.path() + QStringLiteral("/anderes")));
    // A key of openssl's own making, with a public half that the engine reads.
    m_opensslPrivat = m_dir.path() + QStringLiteral("/openssl.pem");
    m_opensslOeffentlich = m_dir.path() + QStringLiteral("/openssl_pub.pem");
    QCOMPARE(openssl({ "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", m_opensslPrivat })
                 .code,
             0);
    QCOMPARE(openssl({ "pkey", "-in", m_opensslPrivat, "-pubout", "-out", m_opensslOeffentlich }).code, 0);
}

void TstCrypto::cleanupTestCase()
{
    Crypto::setzeQuellen(QString(), QString());
    beendeLogBase();
}

void TstCrypto::init()
{
    m_paar.aktiviere();
}

enum Art {
    OPENSSL_SALZ20,
    OPENSSL_OHNE_SALZ,
    WERKZEUG,
    ANDERER_SCHLUESSEL,
    SIGNATUR_BYTE_GEAENDERT,
    DATEI_BYTE_GEAENDERT,
    SIGNATUR_ABGESCHNITTEN,
    SIGNATUR_VERLAENGERT,
    SIGNATUR_FEHLT,
    SIGNATUR_LEER,
    FALSCHER_BEGLEITER, // ".sig" where "_v2.sig" belongs, or the other way round
    DATEI_FEHLT,        // the companion signs empty content
    SIGNATUR_RIESIG,
};

void TstCrypto::signatur_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("inhalt");
    QTest::addColumn<int>("art");
    QTest::addColumn<bool>("gueltig");
    QTest::addColumn<QString>("logText");

    const QByteArray dict = QByteArray("MSwyLDMsZXN0LDIwMjAsRWlua29tbWVuLDcsOCw5Cg==\n");
    const QString fehler = QStringLiteral("Fehler bei der Validierung der Datei '");
    QTest::newRow("openssl mit Salzlaenge 20") << "est_20.dict" << dict << int(OPENSSL_SALZ20) << true << QString();
    QTest::newRow("openssl mit groesstem Salz") << "est_20.dict" << dict << int(OPENSSL_OHNE_SALZ) << false << fehler;
    QTest::newRow("Werkzeug") << "est_20.dict" << dict << int(WERKZEUG) << true << QString();
    QTest::newRow("Werkzeug leere Datei") << "leer.dict" << QByteArray() << int(WERKZEUG) << true << QString();
    QTest::newRow("anderer Schluessel") << "est_20.dict" << dict << int(ANDERER_SCHLUESSEL) << false << fehler;
    QTest::newRow("Signatur ein Byte geaendert")
        << "est_20.dict" << dict << int(SIGNATUR_BYTE_GEAENDERT) << false << fehler;
    QTest::newRow("Datei ein Byte geaendert") << "est_20.dict" << dict << int(DATEI_BYTE_GEAENDERT) << false << fehler;
    QTest::newRow("Signatur abgeschnitten") << "est_20.dict" << dict << int(SIGNATUR_ABGESCHNITTEN) << false
                                            << QStringLiteral("signature has 255 bytes instead of 256");
    QTest::newRow("Signatur verlaengert") << "est_20.dict" << dict << int(SIGNATUR_VERLAENGERT) << false << fehler;
    QTest::newRow("Signatur fehlt") << "est_20.dict" << dict << int(SIGNATUR_FEHLT) << false
                                    << QStringLiteral("konnte nicht zum Lesen ge\u00f6ffnet werden");
    QTest::newRow("Signatur leer") << "est_20.dict" << dict << int(SIGNATUR_LEER) << false << fehler;
    QTest::newRow("Datei fehlt, Signatur ueber leeren Inhalt")
        << "leer.dict" << QByteArray() << int(DATEI_FEHLT) << false << QStringLiteral("file cannot be read");
    QTest::newRow("Signatur riesig") << "est_20.dict" << dict << int(SIGNATUR_RIESIG) << false
                                     << QStringLiteral("signature has 1048576 bytes");
    QTest::newRow("userredirect mit _v2.sig") << "userredirect" << QByteArray("https://127.0.0.1/x\n")
                                              << int(WERKZEUG) << true << QString();
    QTest::newRow("userredirect nur mit .sig") << "userredirect" << QByteArray("https://127.0.0.1/x\n")
                                               << int(FALSCHER_BEGLEITER) << false << fehler;
    QTest::newRow("Userredirect gross geschrieben mit .sig")
        << "Userredirect" << QByteArray("https://127.0.0.1/x\n") << int(WERKZEUG) << true << QString();
}

void TstCrypto::signatur()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, inhalt);
    QFETCH(int, art);
    QFETCH(bool, gueltig);
    QFETCH(QString, logText);

    QTemporaryDir dir;
    const QString datei = dir.path() + QLatin1Char('/') + name;
    schreibe(datei, inhalt);
    const QString sig = Crypto::signaturPfad(datei);
    QCOMPARE(sig.endsWith(QLatin1String("_v2.sig")), name == QLatin1String("userredirect"));

    switch (art) {
    case OPENSSL_SALZ20:
    case OPENSSL_OHNE_SALZ:
        QCOMPARE(openssl(opensslPss(art == OPENSSL_SALZ20) << "-sign" << m_opensslPrivat << "-out" << sig << datei)
                     .code,
                 0);
        Crypto::setzeQuellen(m_opensslOeffentlich, m_paar.md5Liste);
        break;
    case FALSCHER_BEGLEITER: {
        // Signed correctly, but lying beside the file under the other name.
        QCOMPARE(werkzeug({ "signiere", "--schluessel", m_paar.privat, datei }).code, 0);
        QVERIFY(QFile::rename(sig, datei + QStringLiteral(".sig")));
        break;
    }
    case ANDERER_SCHLUESSEL:
        QCOMPARE(werkzeug({ "signiere", "--schluessel", m_anderes.privat, datei }).code, 0);
        break;
    default:
        QCOMPARE(werkzeug({ "signiere", "--schluessel", m_paar.privat, datei }).code, 0);
    }
    QByteArray s = lese(sig);
    switch (art) {
    case SIGNATUR_BYTE_GEAENDERT:
        s[100] = char(s.at(100) ^ 0x01);
        schreibe(sig, s);
        break;
    case DATEI_BYTE_GEAENDERT: {
        QByteArray d = inhalt;
        d[3] = char(d.at(3) ^ 0x20);
        schreibe(datei, d);
        break;
    }
    case SIGNATUR_ABGESCHNITTEN:
        schreibe(sig, s.left(s.size() - 1));
        break;
    case SIGNATUR_VERLAENGERT:
        schreibe(sig, QByteArray(1, '\0') + s);
        break;
    case SIGNATUR_FEHLT:
        QVERIFY(QFile::remove(sig));
        break;
    case SIGNATUR_LEER:
        schreibe(sig, QByteArray());
        break;
    case DATEI_FEHLT:
        QVERIFY(QFile::remove(datei));
        break;
    case SIGNATUR_RIESIG:
        schreibe(sig, s.repeated(4096));
        break;
    default:
        break;
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
    // openssl's own check of the salt length: a signature with another salt
    // length would fail here.
    const Lauf auto_ = openssl(opensslPss(false) << "-sigopt" << "rsa_pss_saltlen:32" << "-verify"
                                                 << m_paar.oeffentlich << "-signature"
                                                 << datei + QStringLiteral(".sig") << datei);
    QVERIFY(auto_.code != 0);
}

void TstCrypto::schluesselFehlt_data()
{
    QTest::addColumn<QByteArray>("schluessel");
    QTest::addColumn<bool>("schluesselDateiFehlt");
    QTest::addColumn<bool>("listeFehlt");
    QTest::addColumn<QString>("logText");

    QTest::newRow("Schluessel fehlt") << QByteArray() << true << false << QStringLiteral(" could not be openend!");
    QTest::newRow("kein PEM") << QByteArray("kein Schluessel") << false << false
                              << QStringLiteral("Could not load public key");
    QTest::newRow("PEM mit kaputtem Base64")
        << QByteArray("-----BEGIN PUBLIC KEY-----\nMIIB!!!!\n-----END PUBLIC KEY-----\n") << false << false
        << QStringLiteral("Could not load public key");
    QTest::newRow("MD5-Liste fehlt") << QByteArray() << false << true << QStringLiteral(" could not be openend!");
}

void TstCrypto::schluesselFehlt()
{
    QFETCH(QByteArray, schluessel);
    QFETCH(bool, schluesselDateiFehlt);
    QFETCH(bool, listeFehlt);
    QFETCH(QString, logText);

    QTemporaryDir dir;
    const QString datei = dir.path() + QStringLiteral("/est_20.dict");
    schreibe(datei, "abc");
    QCOMPARE(werkzeug({ "signiere", "--schluessel", m_paar.privat, datei }).code, 0);
    QString schluesselPfad = m_paar.oeffentlich;
    if (schluesselDateiFehlt) {
        schluesselPfad = dir.path() + QStringLiteral("/fehlt.pem");
    } else if (!schluessel.isEmpty()) {
        schluesselPfad = dir.path() + QStringLiteral("/kaputt.pem");
        schreibe(schluesselPfad, schluessel);
    }
    Crypto::setzeQuellen(schluesselPfad, listeFehlt ? dir.path() + QStringLiteral("/fehlt.json") : m_paar.md5Liste);
    LogAusschnitt log;
    QVERIFY(!Crypto::isFileValid(datei));
    QVERIFY2(log.text().contains(QStringLiteral("Fehler bei der Validierung der Datei '%1'").arg(datei)),
             qPrintable(log.text()));
    QVERIFY2(log.text().contains(logText), qPrintable(log.text()));
    QCOMPARE(log.text().count(QLatin1String("ERROR")), 1);
}

void TstCrypto::md5ListeVorSignatur_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("listenName");
    // 0 as computed, 1 upper case, 2 another checksum, 3 file missing and the
    // digest of empty content listed
    QTest::addColumn<int>("schreibweise");
    QTest::addColumn<bool>("signiert");
    QTest::addColumn<bool>("gueltig");
    QTest::newRow("gelistet mit falscher Signatur") << "kora_0.dict" << "kora_0.dict" << 0 << true << true;
    QTest::newRow("Grossbuchstaben in der Liste") << "kora_0.dict" << "kora_0.dict" << 1 << false << false;
    QTest::newRow("andere Pruefsumme") << "kora_0.dict" << "kora_0.dict" << 2 << false << false;
    QTest::newRow("anderer Name") << "kora_0.dict" << "instv_0.dict" << 0 << false << false;
    QTest::newRow("Name mit Verzeichnis in der Liste") << "kora_0.dict" << "dict/kora_0.dict" << 0 << false << false;
    QTest::newRow("nicht gelistet aber signiert") << "kora_0.dict" << "instv_0.dict" << 0 << true << true;
    QTest::newRow("fehlende Datei, leerer Inhalt gelistet") << "kora_0.dict" << "kora_0.dict" << 3 << false << false;
}

void TstCrypto::md5ListeVorSignatur()
{
    QFETCH(QString, name);
    QFETCH(QString, listenName);
    QFETCH(int, schreibweise);
    QFETCH(bool, signiert);
    QFETCH(bool, gueltig);

    QTemporaryDir dir;
    const QString datei = dir.path() + QLatin1Char('/') + name;
    const QByteArray inhalt("Inhalt einer alten Datei\n");
    schreibe(datei, inhalt);
    QString summe = md5(inhalt);
    if (schreibweise == 1)
        summe = summe.toUpper();
    else if (schreibweise == 2)
        summe = md5("etwas anderes");
    else if (schreibweise == 3) {
        summe = md5(QByteArray());
        QVERIFY(QFile::remove(datei));
    }
    const QString liste = dir.path() + QStringLiteral("/liste.json");
    schreibe(liste, QStringLiteral("{\"data\": {\"%1\": [\"%2\", \"%3\"]}}")
                        .arg(listenName, md5("noch etwas"), summe)
                        .toUtf8());
    if (signiert) {
        QCOMPARE(werkzeug({ "signiere", "--schluessel", m_paar.privat, datei }).code, 0);
        if (listenName == name) {
            // The list is asked first: a broken companion must not matter.
            QByteArray s = lese(Crypto::signaturPfad(datei));
            s[0] = char(s.at(0) ^ 0xff);
            schreibe(Crypto::signaturPfad(datei), s);
        }
    }
    Crypto::setzeQuellen(m_paar.oeffentlich, liste);
    QCOMPARE(Crypto::pruefeMd5Liste(datei), listenName == name && schreibweise == 0);
    LogAusschnitt log;
    QCOMPARE(Crypto::isFileValid(datei), gueltig);
    QCOMPARE(log.text().contains(QLatin1String("ERROR")), !gueltig);
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

void TstCrypto::md5Pruefsumme_data()
{
    QTest::addColumn<QByteArray>("inhalt");
    QTest::addColumn<bool>("vorhanden");
    QTest::addColumn<QString>("erwartet");

    QByteArray gross(3 * (1 << 20) + 7, '\0');
    for (int i = 0; i < gross.size(); ++i)
        gross[i] = char((unsigned(i) * 7919u) >> 3);
    QTest::newRow("leer") << QByteArray() << true << QStringLiteral("0");
    QTest::newRow("fehlt") << QByteArray() << false << QStringLiteral("-1");
    QTest::newRow("abc") << QByteArray("abc") << true << QStringLiteral("900150983cd24fb0d6963f7d28e17f72");
    QTest::newRow("mehrere Puffer") << gross << true << md5(gross);
}

void TstCrypto::md5Pruefsumme()
{
    QFETCH(QByteArray, inhalt);
    QFETCH(bool, vorhanden);
    QFETCH(QString, erwartet);
    QTemporaryDir dir;
    const QString datei = dir.path() + QStringLiteral("/datei.bin");
    if (vorhanden)
        schreibe(datei, inhalt);
    QCOMPARE(Crypto::md5Pruefsumme(datei), erwartet);
}

QTEST_GUILESS_MAIN(TstCrypto)
#include "tst_crypto.moc"
