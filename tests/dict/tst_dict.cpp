// Both dictionary forms, the codes and messages of a parse, and the listing
// of the dictionaries of an installation. Fixtures come from the publishing
// tool or, for malformed files, from the text written here.

#include <QTextCodec>
#include <QtTest>
#include <memory>

#include "global/crypto/cryptohelper.h"
#include "global/crypto/dictionaryhelper.h"
#include "global/crypto/dictparser_csv.h"
#include "global/crypto/dictparser_json.h"
#include "tests/crypto/kryptotesthilfe.h"

using namespace KryptoTest;

class TstDict : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init() { m_paar.aktiviere(); }

    void formatErkennung_data();
    void formatErkennung();
    void csvFelder();
    void jsonFelder();
    void pruefsummen_data();
    void pruefsummen();
    void unsicherePfade_data();
    void unsicherePfade();
    void dictDateiListe();

private:
    QString schreibeDict(const QString& name, const QByteArray& dekodiert);

    QTemporaryDir m_dir;
    Schluesselpaar m_paar;
};

void TstDict::initTestCase()
{
    QVERIFY(m_dir.isValid());
    initLogBase(QStringLiteral("tst_dict"), 1 << 30, m_dir.path() + QStringLiteral("/log"));
    QVERIFY(m_paar.erzeuge(m_dir.path() + QStringLiteral("/paar")));
}

void TstDict::cleanupTestCase()
{
    Crypto::setzeQuellen(QString(), QString());
    beendeLogBase();
}

QString TstDict::schreibeDict(const QString& name, const QByteArray& dekodiert)
{
    const QString pfad = m_dir.path() + QStringLiteral("/teil/dict/") + name;
    schreibe(pfad, dekodiert.toBase64());
    return pfad;
}

void TstDict::formatErkennung_data()
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

void TstDict::formatErkennung()
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

void TstDict::csvFelder()
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

void TstDict::jsonFelder()
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

void TstDict::pruefsummen_data()
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

void TstDict::pruefsummen()
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

void TstDict::unsicherePfade_data()
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

void TstDict::unsicherePfade()
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

void TstDict::dictDateiListe()
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

QTEST_GUILESS_MAIN(TstDict)
#include "tst_dict.moc"
