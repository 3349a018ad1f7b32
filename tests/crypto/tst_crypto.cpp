// Signature and checksum checks with keys and signatures made at run time by
// openssl and the publishing tool; both dictionary forms and their parse results.

#include <QTextCodec>
#include <QtTest>
#include <memory>

#include "global/crypto/crypto.h"
#include "global/crypto/cryptohelper.h"
#include "global/crypto/dictionaryhelper.h"
#include "global/crypto/dictparser_csv.h"
#include "global/crypto/dictparser_json.h"
#include "tests/crypto/kryptotesthilfe.h"

using namespace KryptoTest;

enum Art {
    OPENSSL_SALZ20,
    OPENSSL_OHNE_SALZ,
    WERKZEUG_UMLEITUNG,
    SIGNATUR_ABGESCHNITTEN,
    FALSCHER_BEGLEITER, // ".sig" where "_v2.sig" belongs
    DATEI_FEHLT,        // the companion signs empty content
    SCHLUESSEL_FEHLT,
    SCHLUESSEL_KAPUTT,    // PEM armour around broken Base64
    SCHLUESSEL_UNGUELTIG, // well-formed PEM and DER, an RSA key with an even modulus
    SIGNATUR_RIESIG,      // a companion far above any signature's size
    // Larger than one read chunk: a check that reads only the first passes the change.
    GROSS,
    GROSS_ENDE_GEAENDERT,
    // Listed in the MD5 list, with a broken companion: the list is asked first.
    MD5_GELISTET,
    MD5_GROSS,         // the listed digest in upper case
    MD5_LEER_GELISTET, // file missing, the digest of empty content listed
};

class TstCrypto : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_paar.erzeuge(m_dir.path() + QStringLiteral("/paar"))); }
    void init() { m_paar.aktiviere(); }

    void signatur_data()
    {
        QTest::addColumn<int>("art");
        QTest::addColumn<QString>("logText"); // empty: valid

        const QString fehler = QStringLiteral("Fehler bei der Validierung der Datei '");
        // Rows that do not name openssl are signed by the publishing tool; as the
        // check takes PSS with salt 20 only, its passing rows show that the tool
        // signs as openssl does.
        QTest::newRow("openssl mit Salzlaenge 20") << int(OPENSSL_SALZ20) << QString();
        QTest::newRow("openssl mit groesstem Salz") << int(OPENSSL_OHNE_SALZ) << fehler;
        QTest::newRow("Signatur abgeschnitten") << int(SIGNATUR_ABGESCHNITTEN) << "signature has 255 bytes instead of 256";
        QTest::newRow("Datei fehlt, Signatur ueber leeren Inhalt") << int(DATEI_FEHLT) << "file cannot be read";
        QTest::newRow("Schluessel fehlt") << int(SCHLUESSEL_FEHLT) << " could not be openend!";
        QTest::newRow("Schluessel mit kaputtem Base64") << int(SCHLUESSEL_KAPUTT) << "Could not load public key";
        QTest::newRow("Schluessel wohlgeformt, aber ungueltig") << int(SCHLUESSEL_UNGUELTIG) << "Could not load public key";
        QTest::newRow("Signatur riesig") << int(SIGNATUR_RIESIG) << "signature has 65537 bytes";
        QTest::newRow("userredirect mit _v2.sig") << int(WERKZEUG_UMLEITUNG) << QString();
        QTest::newRow("userredirect nur mit .sig") << int(FALSCHER_BEGLEITER) << fehler;
        QTest::newRow("groesser als ein Lesepuffer") << int(GROSS) << QString();
        QTest::newRow("groesser als ein Lesepuffer, Ende geaendert") << int(GROSS_ENDE_GEAENDERT) << fehler;
        QTest::newRow("gelistet mit falscher Signatur") << int(MD5_GELISTET) << QString();
        QTest::newRow("Grossbuchstaben in der Liste") << int(MD5_GROSS) << fehler;
        QTest::newRow("fehlende Datei, leerer Inhalt gelistet") << int(MD5_LEER_GELISTET) << "file cannot be read";
    }
    void signatur()
    {
        QFETCH(int, art);
        QFETCH(QString, logText);

        const bool umleitung = art == WERKZEUG_UMLEITUNG || art == FALSCHER_BEGLEITER;
        const QString name = umleitung ? QStringLiteral("userredirect") : QStringLiteral("est_20.dict");
        QTemporaryDir dir;
        const QString datei = dir.path() + QLatin1Char('/') + name;
        QByteArray inhalt = art == DATEI_FEHLT ? QByteArray() : QByteArray("https://127.0.0.1/x\n");
        if (art == GROSS || art == GROSS_ENDE_GEAENDERT)
            inhalt = inhalt.repeated(3 * 1024 * 1024 / inhalt.size() + 7);
        schreibe(datei, inhalt);
        const QString sig = Crypto::signaturPfad(datei);
        QCOMPARE(sig.endsWith(QLatin1String("_v2.sig")), umleitung);

        if (art == OPENSSL_SALZ20 || art == OPENSSL_OHNE_SALZ)
            QCOMPARE(openssl(opensslPss(art == OPENSSL_SALZ20) << "-sign" << m_paar.privat << "-out" << sig << datei).code, 0);
        else
            QCOMPARE(werkzeug({ "signiere", "--schluessel", m_paar.privat, datei }).code, 0);
        QByteArray s = lese(sig);
        if (art == FALSCHER_BEGLEITER) {
            QVERIFY(QFile::rename(sig, datei + QStringLiteral(".sig")));
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
        QCOMPARE(Crypto::isFileValid(datei), logText.isEmpty());
        QVERIFY2(logText.isEmpty() ? !log.text().contains(QLatin1String("ERROR")) : log.text().contains(logText), qPrintable(log.text()));
    }
    void eingebauterSchluessel()
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
    void md5Pruefsumme()
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
    void formatErkennung_data(); // outside: moc does not read raw strings
    void formatErkennung()
    {
        QFETCH(QByteArray, datei);
        QFETCH(bool, csv);
        QFETCH(bool, json);
        QFETCH(int, code);
        QFETCH(QString, logText);
        QCOMPARE(DictParser_CSV().pruefeFormat(datei), csv);
        QCOMPARE(DictParser_JSON().pruefeFormat(datei), json);
        if (code < 0)
            return;
        const QString pfad = m_dir.path() + QStringLiteral("/fehler/dict/f.dict");
        schreibe(pfad, datei);
        DictParser_CSV p;
        LogAusschnitt log;
        QCOMPARE(p.leseDictionary(pfad, false, false), code);
        QVERIFY(!p.gibDictInfo());
        QVERIFY2(log.text().contains(logText), qPrintable(log.text()));
    }
    void csvFelder()
    {
        const QString kopf = QStringLiteral(" 21.3.0,5,27289,est,2020,Einkommensteuer \u20ac,10,1,3,a,b,c,d,Steuer,e,f,g, 7  1 , 12 , 1\r\n"
                                            "bin/a.dll , 0123abcd\n\nnurEinFeld\n,leererPfad\nbin/b.dll,\n"
                                            "bin/a.dll,ffff0000\nhilfe/c d.chm,aaaa\n[description]\n");
        // The description is read as UTF-8, the rest as ISO 8859-15.
        const QByteArray roh = QTextCodec::codecForName("ISO 8859-15")->fromUnicode(kopf)
                               + QByteArray("Zeile \xc3\xbc" "ber eins\n\nzwei\n[/description]\nnach/ende,1234\n");
        DictParser_CSV p;
        QCOMPARE(p.leseDictionary(schreibeDict(QStringLiteral("est_20.dict"), roh), false, false), 0);
        const DictInfoZeiger i = p.gibDictInfo();
        QVERIFY(i);
        QCOMPARE(QStringList({ i->versionsNummer, i->langname, i->kategorie, i->unterfallArtID, i->signaturGueltig }),
                 QStringList({ " 21.3.0", "Einkommensteuer \u20ac", "Steuer", "7 1", "false" }));
        QCOMPARE(i->beschreibung, QStringLiteral("\nZeile \u00fcber eins\nzwei"));
        // Malformed lines are skipped, a repeated path keeps its last checksum,
        // nothing after the description counts.
        QCOMPARE(i->dateien.size(), 2);
        QCOMPARE(i->dateien.value(QStringLiteral("bin/a.dll")).pruefsumme, QStringLiteral("ffff0000"));
    }
    void jsonFelder();
    void pruefsummen_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<QString>("aenderung");
        QTest::addColumn<bool>("signaturPruefen");
        QTest::addColumn<bool>("pruefen");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("logText"); // empty: no error logged

        const QString json = QStringLiteral("json"), csv = QStringLiteral("csv");
        QTest::newRow("unveraendert") << json << QString() << true << true << 0 << QString();
        // Not checked is not the same as valid.
        QTest::newRow("Signatur nicht geprueft") << json << QString() << false << true << 0 << QString();
        QTest::newRow("Datei geaendert") << json << "aendern" << true << true << 6
                                         << QStringLiteral("entspricht nicht dem Dictionary.");
        QTest::newRow("Datei geaendert ohne Pruefung") << json << "aendern" << true << false << 0 << QString();
        QTest::newRow("csv Datei fehlt") << csv << "loeschen" << true << true << 6
                                         << QStringLiteral("/bin/programm] ist nicht vorhanden.");
        QTest::newRow("csv Pruefsumme gross geschrieben") << csv << "gross" << true << true << 6
                                                          << QStringLiteral("entspricht nicht dem Dictionary.");
    }
    void pruefsummen()
    {
        QFETCH(QString, form);
        QFETCH(QString, aenderung);
        QFETCH(bool, signaturPruefen);
        QFETCH(bool, pruefen);
        QFETCH(int, code);
        QFETCH(QString, logText);

        QTemporaryDir dir;
        const QString teil = dir.path() + QStringLiteral("/est");
        schreibe(teil + QStringLiteral("/bin/programm"), "ausfuehrbar");
        schreibe(teil + QStringLiteral("/daten.xml"), "<a/>");
        const Lauf l = werkzeug({ "dict", "--ordner", teil, "--name", "est_20.dict", "--form", form, "--kurzname", "est",
                                  "--veranlagungszeitraum", "2020", "--schluessel", m_paar.privat });
        QVERIFY2(l.code == 0, qPrintable(l.fehler));
        const QString pfad = teil + QStringLiteral("/dict/est_20.dict");
        if (aenderung == QLatin1String("aendern")) {
            schreibe(teil + QStringLiteral("/daten.xml"), "<b/>");
        } else if (aenderung == QLatin1String("loeschen")) {
            QVERIFY(QFile::remove(teil + QStringLiteral("/bin/programm")));
        } else if (aenderung == QLatin1String("gross")) {
            // Also alters the dictionary, so its signature fails too.
            const QString summe = md5("ausfuehrbar");
            QByteArray roh = DictionaryHelper::dekodiere(lese(pfad));
            QVERIFY(roh.contains(summe.toLatin1()));
            roh.replace(summe.toLatin1(), summe.toUpper().toLatin1());
            schreibe(pfad, roh.toBase64());
        }
        std::unique_ptr<DictParser_Abstrakt> p(erzeugeDictParser(pfad));
        QVERIFY(p);
        LogAusschnitt log;
        QCOMPARE(p->leseDictionary(pfad, signaturPruefen, pruefen), code);
        QVERIFY(p->gibDictInfo());
        QCOMPARE(p->gibDictInfo()->dateien.size(), 2);
        QCOMPARE(p->gibDictInfo()->signaturGueltig,
                 signaturPruefen && aenderung != QLatin1String("gross") ? QStringLiteral("true") : QStringLiteral("false"));
        QVERIFY2(logText.isEmpty() ? !log.text().contains(QLatin1String(" ERROR ")) : log.text().contains(logText),
                 qPrintable(log.text()));
    }
    void unsicherePfade_data()
    {
        QTest::addColumn<QString>("pfad");
        QTest::addColumn<bool>("sicher");

        QTest::newRow("einfach") << "bin/a.dll" << true;
        QTest::newRow("hinauf in der Mitte") << "bin/../../a.dll" << false;
        QTest::newRow("hinauf mit Backslash") << "bin\\..\\..\\a.dll" << false;
        QTest::newRow("absolut") << "/etc/passwd" << false;
        QTest::newRow("der Ordner selbst") << "." << false;
        QTest::newRow("Punkt in der Mitte") << "bin/./a.dll" << false;
    }
    void unsicherePfade();
    void dictDateiListe()
    {
        QTemporaryDir dir;
        const QString wurzel = dir.path() + QStringLiteral("/kora");
        schreibe(wurzel + QStringLiteral("/a.txt"), "a");
        auto dict = [&](const QString& name, bool signiert) {
            QStringList a { "dict", "--ordner", wurzel, "--name", name, "--kurzname", name.left(3),
                            "--veranlagungszeitraum", "2020" };
            if (signiert)
                a << "--schluessel" << m_paar.privat;
            QCOMPARE(werkzeug(a).code, 0);
        };
        dict(QStringLiteral("Est_20.dict"), true);
        dict(QStringLiteral("gst_20.dict"), false);
        dict(QStringLiteral("instv_0.vdict"), true);
        dict(QStringLiteral("kora_0.dict"), true);
        QDir().mkpath(wurzel + QStringLiteral("/dict/ordner.dict"));

        QStringList gueltig, ungueltig;
        CryptoHelper::leseDictDateiListe(wurzel, gueltig, ungueltig, false);
        QCOMPARE(gueltig, QStringList({ "dict/Est_20.dict", "dict/kora_0.dict" }));
        QCOMPARE(ungueltig, QStringList({ wurzel + QStringLiteral("/dict/gst_20.dict") }));

        gueltig.clear();
        CryptoHelper::leseDictDateiListe(wurzel, gueltig, ungueltig, true);
        QCOMPARE(gueltig, QStringList({ "dict/Est_20.dict", "dict/instv_0.vdict", "dict/kora_0.dict" }));
    }

private:
    QString schreibeDict(const QString& name, const QByteArray& dekodiert)
    {
        const QString pfad = m_dir.path() + QStringLiteral("/teil/dict/") + name;
        schreibe(pfad, dekodiert.toBase64());
        return pfad;
    }

    TestLog m_log { "tst_crypto" };
    QTemporaryDir m_dir;
    Schluesselpaar m_paar; // openssl's making; the publishing tool signs with it too
};

void TstCrypto::formatErkennung_data()
{
    QTest::addColumn<QByteArray>("datei"); // as stored
    QTest::addColumn<bool>("csv");
    QTest::addColumn<bool>("json");
    QTest::addColumn<int>("code"); // of reading it as CSV; -1: not read
    QTest::addColumn<QString>("logText");

    auto b = [](const QByteArray& s) { return s.toBase64(); };
    const QString leer = QStringLiteral("konnte nicht gelesen werden oder die Datei ist 0 Byte gross.");
    QTest::newRow("kommagetrennt") << b("1,2,3,est,2020,E,7,8,9\nbin/a,abc\n") << true << false << -1 << QString();
    QTest::newRow("JSON") << b(R"({"dict":{"dictVersion":"1","kurzname":"est"}})") << false << true << -1 << QString();
    QTest::newRow("geschweifte Klammer mit Kommas") << b("{ ,a,b,c\nx,y\n") << false << false << -1 << QString();
    QTest::newRow("dictVersion 0") << b(R"({"dict":{"dictVersion":"0","kurzname":"est"}})") << false << false << -1
                                   << QString();
    QTest::newRow("ohne dict") << b(R"({"info":{"dictVersion":"1"}})") << false << false << -1 << QString();
    QTest::newRow("leere Datei") << QByteArray() << false << false << 4 << leer;
    QTest::newRow("kaputtes Base64") << QByteArray("MSwyLDMs*ZXN0\n") << false << false << 5 << leer;
    // Recognised by its commas, refused by the reader.
    QTest::newRow("Kopf mit acht Feldern") << b("1,2,3,est,2020,E,7,8\nx,y\n") << true << false << 5
                                           << QStringLiteral("hat 8 statt mindestens 9 Felder");
}

void TstCrypto::jsonFelder()
{
    const QByteArray beschreibung = QByteArray("Einkommensteuer f&uuml;r &lt;2020&gt; \xe4").toBase64();
    const QByteArray json = R"({"dict":{"dictVersion":"1","kurzname":"est","datenUebernahmeAusVorjahr":"1",
        "berechnungVersionsNummer":"99","beschreibung":")" + beschreibung + R"(",
        "dateien":[{"bin/a.dll":"aa"},{},{"bin/b.dll":"bb","z":"zz"},{"bin/a.dll":"cc"}]}})";
    DictParser_JSON p;
    QCOMPARE(p.leseDictionary(schreibeDict(QStringLiteral("est_20.dict"), json), false, false), 0);
    const DictInfoZeiger i = p.gibDictInfo();
    QVERIFY(i);
    QCOMPARE(QStringList({ i->kurzname, i->berechnungVersionsNummer }), QStringList({ "est", "99" }));
    QVERIFY(i->datenUebernahmeAusVorjahr);
    // Base64, then HTML entities, then Latin-1 for what is left.
    QCOMPARE(i->beschreibung, QStringLiteral("Einkommensteuer f\u00fcr <2020> \u00e4"));
    // Only the first member of each entry counts; a repeated path keeps the last checksum.
    QCOMPARE(i->dateien.size(), 2);
    QCOMPARE(i->dateien.value(QStringLiteral("bin/a.dll")).pruefsumme, QStringLiteral("cc"));
}

void TstCrypto::unsicherePfade()
{
    QFETCH(QString, pfad);
    QFETCH(bool, sicher);
    // An unsafe entry never reaches the file list, in either form, so the
    // checksum test never looks outside the folder.
    const QString json = QStringLiteral(R"({"dict":{"dictVersion":"1","dateien":[{"%1":"aa"},{"ok":"bb"}]}})")
                             .arg(QString(pfad).replace(QLatin1Char('\\'), QStringLiteral("\\\\")));
    const QString pj = schreibeDict(QStringLiteral("p.dict"), json.toUtf8());
    DictParser_JSON j;
    QCOMPARE(j.leseDictionary(pj, false, false), 0);
    QCOMPARE(j.gibDictInfo()->dateien.contains(pfad), sicher);
    QVERIFY(j.gibDictInfo()->dateien.contains(QStringLiteral("ok")));

    const QString pc = schreibeDict(QStringLiteral("p.dict"), ("1,2,3,4,5,6,7,8,9\n" + pfad + ",aa\nok,bb\n").toUtf8());
    DictParser_CSV c;
    LogAusschnitt log;
    QCOMPARE(c.leseDictionary(pc, false, false), 0);
    QCOMPARE(c.gibDictInfo()->dateien.contains(pfad), sicher);
    if (!sicher)
        QVERIFY2(log.text().contains(QLatin1String("zeigt aus dem Verzeichnis heraus")), qPrintable(log.text()));
}

QTEST_GUILESS_MAIN(TstCrypto)
#include "tst_crypto.moc"
